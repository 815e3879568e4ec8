// Fetching the agent's messages and acting on each by its type.
#include <optional>
#include <string>

#include "client_core.hpp"
#include "client_values.hpp"
#include "sound.hpp"
#include "zep/zep.h"

namespace lobby {

namespace {
bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }
}  // namespace

std::optional<AgentMessage> ClientCore::PollAgentMessage() {
  const ClientValues& v = Values();
  if (!v.SessionFlag) return std::nullopt;
  char sender[ZEP_PLAYERID_SIZE] = {};
  char text[ZEP_TEXT_SIZE] = {};
  char moreInfo[ZEP_TEXT_SIZE] = {};
  AgentMessage message;
  // Anything but a message (an empty queue, or the agent refusing) ends the
  // tick: what an error leaves in the buffers is not defined.
  if (ZEPGetNextMessage(v.SessionHandle, sender, &message.type, text, moreInfo) != ZEP_RET_OK) return std::nullopt;
  // The agent always terminates what it writes; the last byte is ours anyway.
  sender[sizeof sender - 1] = text[sizeof text - 1] = moreInfo[sizeof moreInfo - 1] = '\0';
  message.sender = sender;
  message.text = text;
  message.moreInfo = moreInfo;
  return message;
}

void ClientCore::AgentMessTimerTimer() {
  while (const std::optional<AgentMessage> message = PollAgentMessage()) {
    // A fetched message whose text is empty (a peer's empty user message) is
    // skipped, not taken for the end of the queue: the agent notifies again
    // only once its queue has run empty, so stopping here would leave every
    // later message unread for good.
    if (!message->text.empty()) DispatchAgentMessage(*message);
  }
}

void ClientCore::DispatchAgentMessage(const AgentMessage& message) {
  ClientValues& v = Values();
  const std::string& text = message.text;
  switch (message.type) {
    case ZEP_MT_NODELIVERY:
      if (Contains(message.moreInfo, "JOINFAIL")) {
        SetState(State::stLobby);
        ShowMessageBox("Couldn't offer a game to Remote " + message.sender +
                       ".  There was a communications problem.");
      }
      if (Contains(message.moreInfo, "MSGFAIL")) {
        SetState(State::stLobby);
        ShowMessageBox("Couldn't send message to Remote " + message.sender + ".  There was a communications problem.");
      }
      break;
    case ZEP_MT_JOINSRVRESPONSE:
      if (Contains(text, "BUSY")) {
        HandleEvent(Event::evLeave);
        SetState(State::stRegister);
        ShowMessageBox("Server is full.  Please try another server or try again later.");
      } else if (Contains(text, "FAIL")) {
        HandleEvent(Event::evLeave);
        SetState(State::stRegister);
        ShowMessageBox("Lost connection to server.  Server is probably down.");
      } else if (Contains(text, "ACKJ")) {
        v.ServerAcknowledged = true;
        HandleEvent(Event::evGo);
      } else {
        ShowMessageBox("Unknown message with ZEP_MT_JOINSRVRESPONSE : " + text);
      }
      break;
    case ZEP_MT_QUERYRESPONSE:
      ui_.QueryEnded();
      break;
    case ZEP_MT_USERDESC:
      if (ui_.ListQueryResult(text)) ui_.EnableConnectButton();
      break;
    case ZEP_MT_JOINRESPONSE:
      if (Contains(text, "AKNJ")) {
        StopAllSound();
        HandleEvent(Event::evAccepted, message);
      } else {
        // Loops until all sound is stopped, by the message box's OK at the
        // latest.
        PlaySoundFile(v.InstallDir + "BUSY.WAV", kSoundAsyncLoop);
        HandleEvent(Event::evDeclined, message);
      }
      break;
    case ZEP_MT_REMPLAYER:
    case ZEP_MT_LOSTOWNER:
      break;
    case ZEP_MT_LOSTSERVER:
      HandleEvent(Event::evServerLost);
      break;
    case ZEP_MT_USERMSG:
      if (Contains(message.moreInfo, "JOIN")) {
        // Only in the lobby is an offer shown. Anywhere else it is refused
        // (HandleEvent refuses the message just fetched) and leaves alone
        // the offer on screen, whose buttons answer it, and the response
        // status: offers arriving faster than the player answers them must
        // neither take the place of the one shown nor keep the agent
        // refusing everybody once the player is back in the lobby.
        if (v.CurrentState == State::stLobby) {
          // From now on the agent refuses further offers itself.
          ZEPSetResponseStatus(v.SessionHandle, 0, 0, "I am answering somebody's request");
          v.OfferRecord = text;
          v.OfferName = GetField(text, "REAL=");
          if (v.OfferName.empty()) v.OfferName = "???";
          v.OfferDesc = GetField(text, "DESC=");
          if (v.OfferDesc.empty()) v.OfferDesc = "???";
        }
        HandleEvent(Event::evJoinRequest, message);
      } else if (Contains(message.moreInfo, "TERM")) {
        // Only the offer on screen can be withdrawn from it; the withdrawal
        // of a request already refused changes nothing.
        if (text == v.OfferRecord) HandleEvent(Event::evWithdrawn);
      }
      break;
    default:
      ShowMessageBox("Unknown Message : " + text);
      break;
  }
}

}  // namespace lobby
