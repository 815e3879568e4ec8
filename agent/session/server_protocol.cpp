// The session's side of the lobby-server protocol: registering, querying the
// registered players, leaving, the lost server, and the server list the
// server may send after a registration.
#include <cstring>
#include <string_view>
#include <vector>

#include "agent_session.hpp"
#include "server_list_file.hpp"

namespace zep {
namespace {

// A server list holds a few dozen short lines. One that would come to more
// than this is not taken at all (the file stays as it was) rather than cut:
// the server could otherwise make the agent hold whatever it sends.
constexpr std::size_t kMaxServerListBytes = std::size_t{1} << 20;

// One list for the whole library: the CINI lines received since the last
// START or END. The client opens one session at a time.
struct CollectedList {
  std::vector<std::string> lines;
  std::size_t bytes = 0;
  bool overflowed = false;  // over kMaxServerListBytes: dropped until the next START

  void Clear() {
    lines.clear();
    bytes = 0;
    overflowed = false;
  }
};

CollectedList& CollectedServerLines() {
  static CollectedList* list = new CollectedList();
  return *list;
}

bool Begins(const std::string& line, const char* command) { return line.compare(0, 4, command) == 0; }

// The line from its sixth character on ("" for a shorter line).
std::string Rest(const std::string& line) { return line.size() > 5 ? line.substr(5) : std::string(); }

}  // namespace

std::string CAgentSession::BuildServerJoinLine() const {
  std::string line = "JOIN ID=" + std::to_string(listenPort_) + ";APP=" + appName_ + ";OWN=1.1.1.1;";
  line += kSeparator;
  line += userDescription_;
  return line;
}

std::string CAgentSession::BuildListVersionLine() const {
  char version[255];
  plat_get_private_profile_string("QORServers", "Version", "0", version, sizeof version,
                                  serverListPath_.c_str());
  return std::string("CINI VER=") + version + ";";
}

int CAgentSession::JoinServer(const char* address, int port) {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (address == nullptr) return ZEP_RET_INVALIDSTRING;
  if (serverState_ != ServerState::kNoServer) return ZEP_RET_INSERVER;
  serverAddress_.assign(address, strnlen(address, kMaxServerAddress));
  serverPort_ = port;
  if (port < 0 || !ASConnectCreate(serverAddress_.c_str(), static_cast<unsigned>(port))) {
    QueueMessage("SERVER", ZEP_MT_JOINSRVRESPONSE, "FAIL", nullptr);
    return ZEP_RET_CONNECTFAILED;
  }
  serverState_ = ServerState::kConnecting;
  // Registration does not wait for the server: the join step runs at once.
  JoinResponseStep("JSOK");
  return ZEP_RET_OK;
}

int CAgentSession::JoinResponseStep(const std::string& line) {
  if (serverState_ != ServerState::kConnecting) {
    // The registration was sent without waiting, so a server that turns it
    // away (full, or too many players from one address) can only say BUSY
    // afterwards. Leaving silently would leave the client believing it is
    // registered with a server it no longer has. (Told first: a server that
    // has closed already makes the LEAV below fail, which must not read as
    // a server lost.)
    if (serverState_ != ServerState::kNoServer && Begins(line, "BUSY")) {
      serverState_ = ServerState::kNoServer;
      const std::string reason = Rest(line);
      QueueMessage("SERVER", ZEP_MT_JOINSRVRESPONSE, "BUSY",
                   reason.empty() ? std::nullopt : QueuedText(reason));
    }
    // An answer nobody asked for: leave that server.
    ASSend("LEAV", 0);
    ASSend("", 1);
    return 0;
  }
  if (Begins(line, "JSOK")) {
    // Sent while still Connecting: a line that cannot be written ends the
    // attempt (OnServerSendFailed), and the client hears FAIL, not a server
    // lost that it never had.
    const auto stillConnecting = [this] { return serverState_ == ServerState::kConnecting; };
    const bool handed = ASSend(BuildServerJoinLine(), 0) && stillConnecting() &&
                        ASSend(BuildListVersionLine(), 0) && stillConnecting();
    if (stillConnecting()) serverState_ = ServerState::kInServer;
    QueueMessage("SERVER", ZEP_MT_JOINSRVRESPONSE, handed ? "ACKJ" : "FAIL", nullptr);
    return 1;
  }
  if (Begins(line, "BUSY")) {
    serverState_ = ServerState::kNoServer;
    QueueMessage("SERVER", ZEP_MT_JOINSRVRESPONSE, "NAKJ", nullptr);
    return 1;
  }
  return 1;
}

int CAgentSession::LeaveServer() {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (serverState_ == ServerState::kNoServer) return ZEP_RET_NOTINSERVER;
  const ServerState was = serverState_;
  serverState_ = ServerState::kNoServer;
  if (was == ServerState::kConnecting) return ZEP_RET_OK;
  if (!ASSend("LEAV", 0)) return ZEP_RET_AGENTPROBLEM;
  ASSend("", 1);
  QueueMessage("SERVER", ZEP_MT_LOSTSERVER, nullptr, nullptr);
  return ZEP_RET_OK;
}

int CAgentSession::QueryUsers(const char* filter, int maxAnswers) {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  // The filter is only read, so a constant string is a valid filter.
  if (filter == nullptr) return ZEP_RET_INVALIDPOINTER;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (serverState_ == ServerState::kNoServer || serverState_ == ServerState::kConnecting)
    return ZEP_RET_NOTINSERVER;
  if (serverState_ == ServerState::kQuerying || serverState_ == ServerState::kAborting)
    return ZEP_RET_ALREADYINQUERY;
  std::string line = "QUER APP=" + appName_ + ";MAX=" + std::to_string(maxAnswers) + ";";
  line += kSeparator;
  line += filter;
  if (!ASSend(std::move(line), 0)) return ZEP_RET_AGENTPROBLEM;
  // A line that could not be written lost the server, which has been
  // reported ("SRLS"): no query runs, and none is waited for.
  if (serverState_ == ServerState::kInServer) serverState_ = ServerState::kQuerying;
  return ZEP_RET_OK;
}

int CAgentSession::AbortQuery() {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (serverState_ == ServerState::kNoServer || serverState_ == ServerState::kConnecting)
    return ZEP_RET_NOTINSERVER;
  if (serverState_ == ServerState::kQuerying) {
    ASSend("ABORT", 0);
    if (serverState_ == ServerState::kQuerying) serverState_ = ServerState::kAborting;
  }
  return ZEP_RET_OK;
}

int CAgentSession::OnServerLine(const std::string& line) {
  if (Begins(line, "JSOK") || Begins(line, "BUSY")) return JoinResponseStep(line);
  if (Begins(line, "USER")) {
    // Answers still arriving after an abort are dropped.
    if (serverState_ == ServerState::kQuerying)
      QueuePeerMessage("SERVER", ZEP_MT_USERDESC, Rest(line), std::nullopt);
    return 1;
  }
  if (Begins(line, "QROK") || Begins(line, "QRFL")) {
    const bool asked = serverState_ == ServerState::kQuerying || serverState_ == ServerState::kAborting;
    serverState_ = ServerState::kInServer;
    // The end of the client's query is always told; ends nobody asked for
    // are the server's to repeat at will, so they count as its messages.
    const std::string_view end = std::string_view(line).substr(0, 4);
    if (asked)
      QueueMessage("SERVER", ZEP_MT_QUERYRESPONSE, end, std::nullopt);
    else
      QueuePeerMessage("SERVER", ZEP_MT_QUERYRESPONSE, end, std::nullopt);
    return 1;
  }
  if (Begins(line, "CINI")) return ServerListStep(line);
  return 1;
}

int CAgentSession::ServerListStep(const std::string& line) {
  CollectedList& collected = CollectedServerLines();
  if (line.size() >= 10 && line.compare(5, 5, "START") == 0) {
    collected.Clear();
    return 1;
  }
  if (line.size() >= 8 && line.compare(5, 3, "END") == 0) {
    if (collected.overflowed) {
      collected.Clear();
      return 1;
    }
    if (collected.lines.empty()) return 0;
    // A list that cannot be written leaves the old file in place.
    // The list comes from the server joined: it stays the current one, on
    // its port, or the next registration would go elsewhere.
    const std::string current =
        serverPort_ == kUsualServerPort ? serverAddress_ : serverAddress_ + ":" + std::to_string(serverPort_);
    RewriteServerList(serverListPath_, current, collected.lines);
    collected.Clear();
    return 1;
  }
  if (collected.overflowed) return 1;
  if (collected.bytes + line.size() > kMaxServerListBytes) {
    collected.lines.clear();
    collected.overflowed = true;
    return 1;
  }
  collected.bytes += line.size();
  collected.lines.push_back(line);
  return 1;
}

void CAgentSession::OnServerSendFailed() {
  // The transport has torn the connection down: a line the server could not
  // be given means the server is lost, and saying nothing would leave the
  // client waiting for answers that never come.
  switch (serverState_) {
    case ServerState::kNoServer:
      return;  // on the way out already; ZEPLeaveServer reports it
    case ServerState::kConnecting:
      serverState_ = ServerState::kNoServer;  // the join step reports FAIL
      return;
    default:
      OnServerLost();
  }
}

void CAgentSession::OnServerLost() {
  // The subgroup is not touched: partners are reached without the server.
  serverState_ = ServerState::kNoServer;
  QueueMessage("SERVER", ZEP_MT_LOSTSERVER, "SRLS", nullptr);
}

}  // namespace zep
