// The session object: opening and closing, the queue with its notification,
// the status getters, the response status and the transport event handler.
#include "agent_session.hpp"

#include "msg.hpp"
#include "platform/hot_path.hpp"

namespace zep {

CAgentSession::CAgentSession() = default;

// Tables and queue go before the connections they refer to; the base class
// then releases whatever connections are left.
CAgentSession::~CAgentSession() {
  usable_ = false;
  players_.reset();
  membership_.reset();
  queue_.reset();
}

int CAgentSession::Open(int reserved, const char* appName, const char* userDescription,
                        const char* reservedText, plat_hwnd window, unsigned message,
                        const char* serverListPath) {
  if (open_) return ZEP_RET_ALREADYOPENSESSION;
  open_ = true;
  if (!appName || !userDescription || !reservedText || !serverListPath) return ZEP_RET_INVALIDSTRING;
  if (!plat_is_window(window)) return ZEP_RET_INVALIDCALLBACK;
  if (!Init(&EventHandler)) return ZEP_RET_AGENTPROBLEM;
  serverState_ = ServerState::kNoServer;
  owner_ = false;
  memberState_ = MemberState::kNotMember;
  queue_ = std::make_unique<CMessageQueue>();
  players_ = std::make_unique<PlayerTable>(*this);
  membership_ = std::make_unique<MembershipRecord>();
  listenPort_ = AAListnerCreate(kFirstListenPort);
  if (listenPort_ == 0) return ZEP_RET_AGENTPROBLEM;
  usable_ = true;
  reserved_ = reserved;
  appName_ = appName;
  userDescription_ = userDescription;
  reservedText_ = reservedText;
  serverListPath_ = serverListPath;
  window_ = window;
  message_ = message;
  return ZEP_RET_OK;
}

int CAgentSession::Close() {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  usable_ = false;
  players_.reset();
  membership_.reset();
  queue_.reset();
  // Nothing is sent first: the server and subgroup partners learn of it from
  // the closed connections.
  ReleaseConnections();
  open_ = false;
  return ZEP_RET_OK;
}

void CAgentSession::QueueMessage(const char* playerId, int type, const char* text,
                                 const char* moreInfo) {
  const auto field = [](const char* value) { return value ? QueuedText(value) : std::nullopt; };
  QueueMessage(field(playerId), type, field(text), field(moreInfo));
}

PLAT_HOT_PATH void CAgentSession::QueueMessage(const QueuedText& playerId, int type, const QueuedText& text,
                                 const QueuedText& moreInfo) {
  if (!queue_) return;
  if (queue_->Push(playerId, type, text, moreInfo)) {
    // Posted whether or not the window still exists; a post to a window
    // that is gone is simply dropped.
    plat_post_message(window_, message_, 0, 0);
  }
}

PLAT_HOT_PATH bool CAgentSession::QueuePeerMessage(const QueuedText& playerId, int type, const QueuedText& text,
                                    const QueuedText& moreInfo) {
  if (!queue_ || !queue_->HasRoomForPeerMessage()) return false;
  QueueMessage(playerId, type, text, moreInfo);
  return true;
}

PLAT_HOT_PATH bool CAgentSession::QueuePeerMessage(std::string_view playerId, int type, std::string_view text) {
  if (!queue_ || !queue_->HasRoomForPeerMessage()) return false;
  if (queue_->Push(playerId, type, text)) plat_post_message(window_, message_, 0, 0);
  return true;
}

int CAgentSession::GetServerStatus(int* status) {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!status) return ZEP_RET_INVALIDPOINTER;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  // Connecting never outlasts the call that entered it, so it is never seen.
  const bool in = serverState_ == ServerState::kInServer || serverState_ == ServerState::kQuerying ||
                  serverState_ == ServerState::kAborting;
  *status = in ? ZEP_SS_INSRV : ZEP_SS_NOSRV;
  return ZEP_RET_OK;
}

int CAgentSession::GetSubGroupStatus(int* status) {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!status) return ZEP_RET_INVALIDPOINTER;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  if (owner_)
    *status = ZEP_SG_OWNER;
  else if (memberState_ == MemberState::kMember)
    *status = ZEP_SG_MEMBER;
  else if (memberState_ == MemberState::kJoining)
    *status = ZEP_SG_JOINING;
  else
    *status = ZEP_SG_NOSG;
  return ZEP_RET_OK;
}

int CAgentSession::SetResponseStatus(int status, int refusePending, const char* reason) {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  players_->responseStatus = status;
  players_->refusalReason = reason ? reason : "";
  if (status == 0 && refusePending != 0) players_->RefuseAllPending();
  return ZEP_RET_OK;
}

int CAgentSession::GetResponseStatus(int* status) {
  if (!open_) return ZEP_RET_NOTOPENSESSION;
  if (!status) return ZEP_RET_INVALIDPOINTER;
  if (!IsUsable()) return ZEP_RET_AGENTPROBLEM;
  *status = players_->responseStatus;
  return ZEP_RET_OK;
}

PLAT_HOT_PATH int CAgentSession::EventHandler(void* context, std::uint32_t event, std::uint32_t connectionId,
                                std::string line) {
  // The line's buffer goes back to the transport for the next line.
  struct GiveBack {
    std::string& line;
    ~GiveBack() { ReturnSpareLine(std::move(line)); }
  } giveBack{line};
  auto* session = static_cast<CAgentSession*>(static_cast<CAgent*>(context));
  if (!session->IsUsable()) return 0;
  // Called from the platform loop: nothing may be thrown back into it. A
  // line that could not be handled (memory ran out) is dropped, and reading
  // that connection pauses until its next notification.
  try {
    switch (event) {
      case TE_PEER_MESSAGE:
        return session->OnAgentLine(connectionId, line);
      case TE_PEER_CLOSED:
        session->OnAgentLost(connectionId);
        return 1;
      case TE_SERVER_MESSAGE:
        return session->OnServerLine(line);
      case TE_SERVER_CLOSED:
        session->OnServerLost();
        return 1;
      case TE_SERVER_SEND_FAILED:
        session->OnServerSendFailed();
        return 0;
      default:  // accepted connections and failed sends to agents need nothing here
        return 0;
    }
  } catch (...) {
    return 0;
  }
}

}  // namespace zep
