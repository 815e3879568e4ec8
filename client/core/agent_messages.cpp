// Fetching the agent's messages and acting on each by its type.
#include <string>

#include "client_core.hpp"
#include "client_values.hpp"
#include "sound.hpp"
#include "zep/zep.h"

namespace lobby {

namespace {
bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

std::string ClientCore::PollAgentMessage() {
  ClientValues& v = Values();
  lastPollResult_ = ZEP_RET_NOMSG;
  if (!v.SessionFlag) return {};
  char sender[ZEP_PLAYERID_SIZE] = {};
  char text[ZEP_TEXT_SIZE] = {};
  char moreInfo[ZEP_TEXT_SIZE] = {};
  const int result = ZEPGetNextMessage(v.SessionHandle, sender, &v.MsgType, text, moreInfo);
  lastPollResult_ = result;
  if (result == ZEP_RET_NOMSG) {
    v.MsgSender.clear();
    v.MsgText.clear();
    v.MsgMoreInfo.clear();
    v.MsgType = 0;
    return {};
  }
  // The agent always terminates what it writes; the last byte is ours anyway.
  sender[sizeof sender - 1] = text[sizeof text - 1] = moreInfo[sizeof moreInfo - 1] = '\0';
  v.MsgSender = sender;
  v.MsgText = text;
  v.MsgMoreInfo = moreInfo;
  return v.MsgText;
}

void ClientCore::AgentMessTimerTimer() {
  for (;;) {
    const std::string text = PollAgentMessage();
    if (!text.empty()) {
      DispatchAgentMessage(text);
      continue;
    }
    // A fetched message whose text is empty (a peer's empty user message) is
    // skipped, not taken for the end of the queue: the agent notifies again
    // only once its queue has run empty, so stopping here would leave every
    // later message unread for good. Nothing fetched, or an error, ends the
    // tick.
    if (lastPollResult_ != ZEP_RET_OK) break;
  }
}

void ClientCore::DispatchAgentMessage(const std::string& text) {
  ClientValues& v = Values();
  switch (v.MsgType) {
    case ZEP_MT_NODELIVERY:
      if (Contains(v.MsgMoreInfo, "JOINFAIL")) {
        SetState(stLobby);
        ShowMessageBox("Couldn't offer a game to Remote " + v.MsgSender +
                       ".  There was a communications problem.");
      }
      if (Contains(v.MsgMoreInfo, "MSGFAIL")) {
        SetState(stLobby);
        ShowMessageBox("Couldn't send message to Remote " + v.MsgSender + ".  There was a communications problem.");
      }
      break;
    case ZEP_MT_JOINSRVRESPONSE:
      if (Contains(v.MsgText, "BUSY")) {
        HandleEvent(evLeave);
        SetState(stRegister);
        ShowMessageBox("Server is full.  Please try another server or try again later.");
      } else if (Contains(v.MsgText, "FAIL")) {
        HandleEvent(evLeave);
        SetState(stRegister);
        ShowMessageBox("Lost connection to server.  Server is probably down.");
      } else if (Contains(v.MsgText, "ACKJ")) {
        v.ServerAcknowledged = true;
        HandleEvent(evGo);
      } else {
        ShowMessageBox("Unknown message with ZEP_MT_JOINSRVRESPONSE : " + v.MsgText);
      }
      break;
    case ZEP_MT_QUERYRESPONSE:
      ui_.EnableRefreshButton();
      ui_.SetRefreshTimer(true);
      break;
    case ZEP_MT_USERDESC:
      if (ui_.ListQueryResult(text)) ui_.EnableConnectButton();
      break;
    case ZEP_MT_JOINRESPONSE:
      if (Contains(v.MsgText, "AKNJ")) {
        StopAllSound();
        HandleEvent(evAccepted);
      } else {
        // Loops until all sound is stopped, by the message box's OK at the
        // latest.
        PlaySoundFile(v.InstallDir + "BUSY.WAV", kSoundAsyncLoop);
        HandleEvent(evDeclined);
      }
      break;
    case ZEP_MT_REMPLAYER:
    case ZEP_MT_LOSTOWNER:
      break;
    case ZEP_MT_LOSTSERVER:
      HandleEvent(evServerLost);
      break;
    case ZEP_MT_USERMSG:
      if (Contains(v.MsgMoreInfo, "JOIN")) {
        // Only in the lobby is an offer shown. Anywhere else it is refused
        // (HandleEvent refuses the message just fetched) and leaves alone
        // the offer on screen, whose buttons answer it, and the response
        // status: offers arriving faster than the player answers them must
        // neither take the place of the one shown nor keep the agent
        // refusing everybody once the player is back in the lobby.
        if (v.CurrentState == stLobby) {
          // From now on the agent refuses further offers itself.
          ZEPSetResponseStatus(v.SessionHandle, 0, 0, "I am answering somebody's request");
          v.OfferRecord = text;
          v.OfferName = GetField(text, "REAL=");
          if (v.OfferName.empty()) v.OfferName = "???";
          v.OfferDesc = GetField(text, "DESC=");
          if (v.OfferDesc.empty()) v.OfferDesc = "???";
        }
        HandleEvent(evJoinRequest);
      } else if (Contains(v.MsgMoreInfo, "TERM")) {
        // Only the offer on screen can be withdrawn from it; the withdrawal
        // of a request already refused changes nothing.
        if (text == v.OfferRecord) HandleEvent(evWithdrawn);
      }
      break;
    default:
      ShowMessageBox("Unknown Message : " + text);
      break;
  }
}

}  // namespace lobby
