// agent_session.hpp - one agent session (internal): the state behind a
// session handle. The session is a transport agent itself; it receives the
// transport's events and turns lines from the server and from other agents
// into queued messages for the client.
//
// server_protocol.cpp holds the lobby-server side, subgroup_protocol.cpp the
// agent-to-agent side, agent_session.cpp the rest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "membership_record.hpp"
#include "message_queue.hpp"
#include "platform/platform.h"
#include "player_table.hpp"
#include "zep/agent.hpp"
#include "zep/zep.h"

namespace zep {

class CClientSocket;

enum class ServerState { kNoServer = 0, kInServer = 1, kConnecting = 2, kQuerying = 3, kAborting = 4 };
enum class MemberState { kNotMember, kMember, kJoining };

// Port the session's listener tries first (it takes the first free of 100).
inline constexpr unsigned kFirstListenPort = 2001;
// The server address a session keeps (characters, NUL excluded).
inline constexpr std::size_t kMaxServerAddress = 51;
// The lobby servers' usual port: a current server written back with any
// other port carries it ("host:port"), as the client reads it.
inline constexpr int kUsualServerPort = 2424;
// Separates the command part of JOIN, TERM and QUER lines from free text.
inline constexpr char kSeparator = '\x18';

class CAgentSession : public CAgent {
 public:
  CAgentSession();
  ~CAgentSession();

  // --- session, queue and status (agent_session.cpp) ---
  int Open(int reserved, const char* appName, const char* userDescription, const char* reservedText,
           plat_hwnd window, unsigned message, const char* serverListPath);
  int Close();
  // (Inline: the client calls it for every message, and once more for the
  // empty queue's answer.)
  int GetNextMessage(char* playerId, int* type, char* text, char* moreInfo) {
    if (!open_) return ZEP_RET_NOTOPENSESSION;
    if (!playerId || !text || !moreInfo) return ZEP_RET_INVALIDSTRING;
    if (!type) return ZEP_RET_INVALIDPOINTER;
    if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
    if (queue_->IsEmpty()) return ZEP_RET_NOMSG;
    return queue_->TakeFront(playerId, type, text, moreInfo);
  }
  int GetServerStatus(int* status);
  int GetSubGroupStatus(int* status);
  int SetResponseStatus(int status, int refusePending, const char* reason);
  int GetResponseStatus(int* status);
  // Queues one message; a text with no value (null, std::nullopt) is stored
  // as two blanks. Posts the notification when the queue was empty.
  void QueueMessage(const QueuedText& playerId, int type, const QueuedText& text,
                    const QueuedText& moreInfo);
  void QueueMessage(const char* playerId, int type, const char* text, const char* moreInfo);
  // The same for a message another program caused (a line from the server
  // or an agent): dropped, and false returned, while the queue is full of
  // messages the client has not read (CMessageQueue::kMaxPeerMessages).
  bool QueuePeerMessage(const QueuedText& playerId, int type, const QueuedText& text,
                        const QueuedText& moreInfo);
  // The same without more-info (a user's message), its fields passed in
  // registers.
  bool QueuePeerMessage(std::string_view playerId, int type, std::string_view text);

  // --- lobby server (server_protocol.cpp) ---
  int JoinServer(const char* address, int port);
  int LeaveServer();
  int QueryUsers(const char* filter, int maxAnswers);
  int AbortQuery();

  // --- subgroups (subgroup_protocol.cpp) ---
  int JoinSubGroup(const char* playerText);
  int AbortSubGroupJoinRequest();
  int AcceptSubGroupJoinRequest(const char* requestText, int accept, const char* reason);
  int LeaveSubGroup();
  int SendMsgToUser(const char* playerId, const char* message);
  int GetPlayerSubGroupStatus(const char* playerId, int* status);

  // Open, and every part of the opening succeeded.
  bool IsOpen() const { return open_; }
  bool IsUsable() const { return usable_; }

  // For tests and the API: the state as it stands.
  ServerState serverState() const { return serverState_; }
  MemberState memberState() const { return memberState_; }
  bool isOwner() const { return owner_; }
  unsigned listenPort() const { return listenPort_; }

 private:
  static int EventHandler(void* context, std::uint32_t event, std::uint32_t connectionId,
                          std::string line);

  // server_protocol.cpp
  int OnServerLine(const std::string& line);
  void OnServerLost();
  void OnServerSendFailed();
  int JoinResponseStep(const std::string& line);
  int ServerListStep(const std::string& line);
  std::string BuildServerJoinLine() const;
  std::string BuildListVersionLine() const;

  // subgroup_protocol.cpp
  int OnAgentLine(std::uint32_t connectionId, const std::string& line);
  void OnAgentLost(std::uint32_t connectionId);
  int IncomingRequestStep(std::uint32_t connectionId, const std::string& line);
  // A JOIN naming the requester at address:port, from a session that takes
  // requests: passed to the client (or merged into that requester's request
  // already waiting), or false when it is to be refused.
  bool TakeJoinRequest(std::uint32_t connectionId, const std::string& requestText,
                       const std::string& address, unsigned port);
  int OwnerLineStep(std::uint32_t connectionId, const std::string& line);
  int UserMessageStep(std::uint32_t connectionId, const std::string& line);
  // "JOIN ..." / "TERM ..." with this session's address on the connection,
  // listening port, application name and description.
  std::string BuildRequestLine(const char* command, std::uint32_t connectionId);
  void SendGameToServer();
  // Sends "<command> <id> <message>" on an agent connection, as AASend
  // sends a line: 1 when sent, 0 for an unknown connection or a failed send
  // (the connection is then closed and TE_PEER_SEND_FAILED raised).
  int SendUserLine(std::uint32_t connectionId, std::string_view command, std::string_view id,
                   std::string_view message);
  // The same on a connection already found (null: none).
  int SendUserLine(CClientSocket* socket, std::string_view command, std::string_view id,
                   std::string_view message);
  // The agent connection of that id, or null.
  CClientSocket* PeerSocket(std::uint32_t connectionId);
  // The player id of this agent's end of an agent connection (ownEnd), or of
  // the other end: the connection's own copy, formatted once, or else one
  // formatted into `scratch` from whatever the kernel says (":0" for nothing).
  // (Out of line and cold: the connection's own copy is there but when a
  // name could not be learnt.)
  [[gnu::noinline, gnu::cold]] std::string_view ConnectionPlayerId(std::uint32_t connectionId, bool ownEnd,
                                                                   std::string& scratch);
  // Both at once: {own end, other end}.
  std::pair<std::string_view, std::string_view> ConnectionPlayerIds(std::uint32_t connectionId,
                                                                    std::string& ownScratch,
                                                                    std::string& peerScratch);

  // What every message asks for first, together in the object's first
  // lines.
  std::unique_ptr<PlayerTable> players_;
  std::unique_ptr<MembershipRecord> membership_;
  std::unique_ptr<CMessageQueue> queue_;
  plat_hwnd window_ = 0;
  unsigned message_ = 0;
  ServerState serverState_ = ServerState::kNoServer;
  bool owner_ = false;
  MemberState memberState_ = MemberState::kNotMember;
  bool open_ = false;
  // Open, with the queue, both tables and the listener made: set by Open
  // once the last of them is there, cleared by Close (asked on every call
  // and every line).
  bool usable_ = false;
  int reserved_ = 0;
  std::string appName_;
  std::string userDescription_;
  std::string reservedText_;
  std::string serverListPath_;
  std::string serverAddress_;  // at most kMaxServerAddress characters
  int serverPort_ = 0;
  unsigned listenPort_ = 0;
};

}  // namespace zep
