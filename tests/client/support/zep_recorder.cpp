// The agent's seventeen functions, recorded (see call_recorder.hpp).
#include "call_recorder.hpp"

#include "zep/zep.h"

using recorder::Log;
using recorder::N;
using recorder::Quoted;
using recorder::R;

extern "C" {

int ZEPOpenSession(int* handle, int reserved, const char* appName, const char* userDescription,
                   const char* reservedText, ZEP_HWND notifyWindow, unsigned int notifyMessage,
                   const char* serverListPath) {
  const bool windowGiven = notifyWindow != 0;
  const int result =
      Log("ZEPOpenSession", std::string(handle ? "&handle" : "null") + ", " + N(reserved) + ", " + Quoted(appName) +
                                ", " + Quoted(userDescription) + ", " + Quoted(reservedText) + ", " +
                                (windowGiven ? "window" : "0") + ", " + N(notifyMessage) + ", " +
                                Quoted(serverListPath));
  if (handle) *handle = R().nextHandle;
  return result;
}
int ZEPLeaveSession(int handle) { return Log("ZEPLeaveSession", N(handle)); }
int ZEPGetSessionServerStatus(int handle, int* status) {
  if (status) *status = ZEP_SS_NOSRV;
  return Log("ZEPGetSessionServerStatus", N(handle));
}
int ZEPGetSessionSubGroupStatus(int handle, int* status) {
  if (status) *status = ZEP_SG_NOSG;
  return Log("ZEPGetSessionSubGroupStatus", N(handle));
}
int ZEPGetNextMessage(int handle, char* playerId, int* type, char* text, char* moreInfo) {
  R().calls.push_back("ZEPGetNextMessage(" + N(handle) + ")");
  // A scripted failure leaves the queue and the buffers alone.
  const int scripted = R().ResultFor("ZEPGetNextMessage", ZEP_RET_OK);
  if (scripted != ZEP_RET_OK) return scripted;
  if (R().messages.empty()) return ZEP_RET_NOMSG;
  const recorder::QueuedMessage m = R().messages.front();
  R().messages.pop_front();
  recorder::CopyCut(playerId, ZEP_PLAYERID_SIZE, m.sender);
  *type = m.type;
  recorder::CopyCut(text, ZEP_TEXT_SIZE, m.text);
  recorder::CopyCut(moreInfo, ZEP_TEXT_SIZE, m.moreInfo);
  return ZEP_RET_OK;
}
int ZEPSetResponseStatus(int handle, int status, int refusePending, const char* reason) {
  return Log("ZEPSetResponseStatus", N(handle) + ", " + N(status) + ", " + N(refusePending) + ", " + Quoted(reason));
}
int ZEPGetResponseStatus(int handle, int* status) {
  if (status) *status = 1;
  return Log("ZEPGetResponseStatus", N(handle));
}
int ZEPJoinServer(int handle, const char* address, int port) {
  return Log("ZEPJoinServer", N(handle) + ", " + Quoted(address) + ", " + N(port));
}
int ZEPLeaveServer(int handle) { return Log("ZEPLeaveServer", N(handle)); }
int ZEPQueryUsers(int handle, const char* filter, int maxAnswers, void* reserved1, void* reserved2) {
  return Log("ZEPQueryUsers", N(handle) + ", " + Quoted(filter) + ", " + N(maxAnswers) + ", " +
                                  N(reinterpret_cast<long long>(reserved1)) + ", " +
                                  N(reinterpret_cast<long long>(reserved2)));
}
int ZEPAbortQuery(int handle) { return Log("ZEPAbortQuery", N(handle)); }
int ZEPJoinSubGroup(int handle, const char* playerText) {
  return Log("ZEPJoinSubGroup", N(handle) + ", " + Quoted(playerText));
}
int ZEPAbortSubGroupJoinRequest(int handle) { return Log("ZEPAbortSubGroupJoinRequest", N(handle)); }
int ZEPAcceptSubGroupJoinRequest(int handle, const char* requestText, int accept, const char* reason) {
  return Log("ZEPAcceptSubGroupJoinRequest",
             N(handle) + ", " + Quoted(requestText) + ", " + N(accept) + ", " + Quoted(reason));
}
int ZEPLeaveSubGroup(int handle) { return Log("ZEPLeaveSubGroup", N(handle)); }
int ZEPSendMsgToUser(int handle, const char* playerId, const char* message) {
  return Log("ZEPSendMsgToUser", N(handle) + ", " + Quoted(playerId) + ", " + Quoted(message));
}
int ZEPGetPlayerSubGroupStatus(int handle, const char* playerId, int* status) {
  if (status) *status = ZEP_SG_NOSG;
  return Log("ZEPGetPlayerSubGroupStatus", N(handle) + ", " + Quoted(playerId));
}

}  // extern "C"
