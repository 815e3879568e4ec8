// The seventeen exported functions: the handle check, then the session's
// own operation. No exception leaves this file.
#include <cstdio>
#include <new>

#include "platform/hot_path.hpp"
#include "session_table.hpp"
#include "zep/zep.h"

namespace zep {

namespace {

// The table is there before any code runs (it is made at compile time, so
// a static object's constructor in another module may already open a
// session) and is never destroyed: sessions left open at exit are not torn
// down then. The calls of every message find it without a check or a call.
union TableHolder {
  constexpr TableHolder() : table() {}
  ~TableHolder() {}
  SessionTable table;
};
constinit TableHolder g_table;

}  // namespace

SessionTable& SessionTable::Instance() { return g_table.table; }

CAgentSession* SessionTable::Find(int handle) const {
  if (handle < 0 || handle >= kSlots) return nullptr;
  return slots_[static_cast<std::size_t>(handle)].get();
}

int SessionTable::Add(std::unique_ptr<CAgentSession> session) {
  for (int i = 0; i < kSlots; ++i) {
    if (!slots_[static_cast<std::size_t>(i)]) {
      slots_[static_cast<std::size_t>(i)] = std::move(session);
      return i;
    }
  }
  return -1;
}

void SessionTable::Remove(int handle) {
  if (handle >= 0 && handle < kSlots) slots_[static_cast<std::size_t>(handle)].reset();
}

namespace {

// The socket layer is the platform loop. A shared library cannot refuse to
// load from here without taking its host down, so the failure is reported
// and every session's opening then fails with ZEP_RET_AGENTPROBLEM.
__attribute__((constructor)) void InitialiseSocketLayer() {
  if (plat_loop_fd() < 0)
    std::fprintf(stderr, "zep: the socket layer could not be started; every session will fail\n");
}

// Runs `work` on the session behind `handle`; a bad handle never touches a
// session, and nothing thrown inside gets out.
template <class Work>
int WithSession(int handle, Work work) noexcept {
  try {
    CAgentSession* session = SessionTable::Instance().Find(handle);
    if (session == nullptr) return ZEP_RET_INVALIDSESSION;
    return work(*session);
  } catch (...) {
    return ZEP_RET_AGENTPROBLEM;
  }
}

}  // namespace
}  // namespace zep

using zep::CAgentSession;
using zep::WithSession;

extern "C" {

int ZEPOpenSession(int* handle, int reserved, const char* appName, const char* userDescription,
                   const char* reservedText, ZEP_HWND notifyWindow, unsigned int notifyMessage,
                   const char* serverListPath) {
  try {
    if (handle == nullptr) return ZEP_RET_INVALIDPOINTER;
    auto session = std::make_unique<CAgentSession>();
    CAgentSession* raw = session.get();
    int slot = zep::SessionTable::Instance().Add(std::move(session));
    if (slot < 0) return ZEP_RET_TOOMANYSESSIONS;
    *handle = slot;
    return raw->Open(reserved, appName, userDescription, reservedText, notifyWindow, notifyMessage,
                     serverListPath);
  } catch (...) {
    return ZEP_RET_AGENTPROBLEM;
  }
}

int ZEPLeaveSession(int handle) {
  return WithSession(handle, [handle](CAgentSession& s) {
    int result = s.Close();
    if (result == ZEP_RET_OK) zep::SessionTable::Instance().Remove(handle);
    return result;
  });
}

int ZEPGetSessionServerStatus(int handle, int* status) {
  return WithSession(handle, [&](CAgentSession& s) { return s.GetServerStatus(status); });
}

int ZEPGetSessionSubGroupStatus(int handle, int* status) {
  return WithSession(handle, [&](CAgentSession& s) { return s.GetSubGroupStatus(status); });
}

PLAT_HOT_PATH int ZEPGetNextMessage(int handle, char* playerId, int* type, char* text, char* moreInfo) {
  return WithSession(handle,
                     [&](CAgentSession& s) { return s.GetNextMessage(playerId, type, text, moreInfo); });
}

int ZEPSetResponseStatus(int handle, int status, int refusePending, const char* reason) {
  return WithSession(handle,
                     [&](CAgentSession& s) { return s.SetResponseStatus(status, refusePending, reason); });
}

int ZEPGetResponseStatus(int handle, int* status) {
  return WithSession(handle, [&](CAgentSession& s) { return s.GetResponseStatus(status); });
}

int ZEPJoinServer(int handle, const char* address, int port) {
  return WithSession(handle, [&](CAgentSession& s) { return s.JoinServer(address, port); });
}

int ZEPLeaveServer(int handle) {
  return WithSession(handle, [&](CAgentSession& s) { return s.LeaveServer(); });
}

int ZEPQueryUsers(int handle, const char* filter, int maxAnswers, void*, void*) {
  return WithSession(handle, [&](CAgentSession& s) { return s.QueryUsers(filter, maxAnswers); });
}

int ZEPAbortQuery(int handle) {
  return WithSession(handle, [&](CAgentSession& s) { return s.AbortQuery(); });
}

int ZEPJoinSubGroup(int handle, const char* playerText) {
  return WithSession(handle, [&](CAgentSession& s) { return s.JoinSubGroup(playerText); });
}

int ZEPAbortSubGroupJoinRequest(int handle) {
  return WithSession(handle, [&](CAgentSession& s) { return s.AbortSubGroupJoinRequest(); });
}

int ZEPAcceptSubGroupJoinRequest(int handle, const char* requestText, int accept, const char* reason) {
  return WithSession(handle, [&](CAgentSession& s) {
    return s.AcceptSubGroupJoinRequest(requestText, accept, reason);
  });
}

int ZEPLeaveSubGroup(int handle) {
  return WithSession(handle, [&](CAgentSession& s) { return s.LeaveSubGroup(); });
}

PLAT_HOT_PATH int ZEPSendMsgToUser(int handle, const char* playerId, const char* message) {
  return WithSession(handle, [&](CAgentSession& s) { return s.SendMsgToUser(playerId, message); });
}

int ZEPGetPlayerSubGroupStatus(int handle, const char* playerId, int* status) {
  return WithSession(handle,
                     [&](CAgentSession& s) { return s.GetPlayerSubGroupStatus(playerId, status); });
}

}  // extern "C"
