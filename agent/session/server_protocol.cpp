// The session's side of the lobby-server protocol: registering, querying the
// registered players, leaving, the lost server, and the server list the
// server may send after a registration.
#include <cstring>
#include <vector>

#include "agent_session.hpp"
#include "server_list_file.hpp"

namespace zep {
namespace {

// One list for the whole library: the CINI lines received since the last
// START or END. The client opens one session at a time.
std::vector<std::string>& CollectedServerLines() {
  static std::vector<std::string>* lines = new std::vector<std::string>();
  return *lines;
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
    // An answer nobody asked for: leave that server.
    ASSend("LEAV", 0);
    ASSend("", 1);
    return 0;
  }
  if (Begins(line, "JSOK")) {
    serverState_ = ServerState::kInServer;
    const bool handed = ASSend(BuildServerJoinLine(), 0) && ASSend(BuildListVersionLine(), 0);
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
  serverState_ = ServerState::kQuerying;
  return ZEP_RET_OK;
}

int CAgentSession::AbortQuery() {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (serverState_ == ServerState::kNoServer || serverState_ == ServerState::kConnecting)
    return ZEP_RET_NOTINSERVER;
  if (serverState_ == ServerState::kQuerying) {
    ASSend("ABORT", 0);
    serverState_ = ServerState::kAborting;
  }
  return ZEP_RET_OK;
}

int CAgentSession::OnServerLine(const std::string& line) {
  if (Begins(line, "JSOK") || Begins(line, "BUSY")) return JoinResponseStep(line);
  if (Begins(line, "USER")) {
    // Answers still arriving after an abort are dropped.
    if (serverState_ == ServerState::kQuerying)
      QueueMessage("SERVER", ZEP_MT_USERDESC, Rest(line).c_str(), nullptr);
    return 1;
  }
  if (Begins(line, "QROK") || Begins(line, "QRFL")) {
    serverState_ = ServerState::kInServer;
    QueueMessage("SERVER", ZEP_MT_QUERYRESPONSE, line.substr(0, 4).c_str(), nullptr);
    return 1;
  }
  if (Begins(line, "CINI")) return ServerListStep(line);
  return 1;
}

int CAgentSession::ServerListStep(const std::string& line) {
  std::vector<std::string>& collected = CollectedServerLines();
  if (line.size() >= 10 && line.compare(5, 5, "START") == 0) {
    collected.clear();
    return 1;
  }
  if (line.size() >= 8 && line.compare(5, 3, "END") == 0) {
    if (collected.empty()) return 0;
    // A list that cannot be written leaves the old file in place.
    RewriteServerList(serverListPath_, serverAddress_, collected);
    collected.clear();
    return 1;
  }
  collected.push_back(line);
  return 1;
}

void CAgentSession::OnServerLost() {
  // The subgroup is not touched: partners are reached without the server.
  serverState_ = ServerState::kNoServer;
  QueueMessage("SERVER", ZEP_MT_LOSTSERVER, "SRLS", nullptr);
}

}  // namespace zep
