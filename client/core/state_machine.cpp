// The client's states and the events that move it between them.
#include <string>

#include "client_core.hpp"
#include "client_values.hpp"
#include "zep/zep.h"

namespace lobby {

void ClientCore::HideDialogs(std::optional<Form> keep) {
  for (Form form : {Form::Accept, Form::Connect, Form::Test, Form::Suggest}) {
    if (form != keep && ui_.IsFormVisible(form)) ui_.HideForm(form);
  }
}

namespace {

// The form a state shows, if any.
std::optional<Form> FormOfState(State state) {
  switch (state) {
    case State::stRegister: return Form::Test;
    case State::stLobby: return Form::Connect;
    case State::stOffering: return Form::Suggest;
    case State::stOffered: return Form::Accept;
    default: return std::nullopt;
  }
}

}  // namespace

void ClientCore::LeaveSubGroupIfIn() {
  ClientValues& v = Values();
  if (!v.InSubGroup) return;
  ZEPLeaveSubGroup(v.SessionHandle);
  v.InSubGroup = false;
}

void ClientCore::SetState(State state) {
  ClientValues& v = Values();
  v.CurrentState = state;
  // The form this state shows is not hidden on the way when it is on screen
  // already (SetState twice in a row): it is shown again instead.
  const std::optional<Form> shown = FormOfState(state);
  const bool onScreen = shown && ui_.IsFormVisible(*shown);
  HideDialogs(shown);
  const auto show = [&](Form form) { onScreen ? ui_.ShowFormAgain(form) : ui_.ShowForm(form); };
  switch (state) {
    case State::stRegister:
      LeaveSubGroupIfIn();
      show(Form::Test);
      ui_.HideForm(Form::Open);
      break;
    case State::stLobby:
      LeaveSubGroupIfIn();
      show(Form::Connect);
      ui_.HideForm(Form::Open);
      break;
    case State::stOffering:
      show(Form::Suggest);
      ui_.HideForm(Form::Open);
      break;
    case State::stOffered:
      show(Form::Accept);
      ui_.HideForm(Form::Open);
      break;
    case State::stLeaving:
    case State::stPlaying:
      ui_.SetRefreshTimer(false);
      ui_.SetQueryTimer(false);
      if (v.SessionFlag) ZEPLeaveServer(v.SessionHandle);
      break;
    default:
      ShowMessageBox("SetState cannot change to Unknown State : " + std::to_string(static_cast<int>(state)));
      break;
  }
}

void ClientCore::RefuseOffer(const AgentMessage& request, const char* reason) {
  // The offer just fetched, not the one on screen (OfferRecord).
  ZEPAcceptSubGroupJoinRequest(Values().SessionHandle, request.text.c_str(), 0, reason);
}

void ClientCore::HandleEvent(Event event, const AgentMessage& cause) {
  ClientValues& v = Values();
  switch (v.CurrentState) {
    case State::stRegister:
      switch (event) {
        case Event::evLeave: SetState(State::stLeaving); break;
        case Event::evGo: SetState(State::stLobby); break;
        case Event::evJoinRequest: RefuseOffer(cause, "I am not connected to the Vossa!"); break;
        default: break;
      }
      break;
    case State::stLobby:
      switch (event) {
        case Event::evLeave: SetState(State::stLeaving); break;
        case Event::evGo: SetState(State::stOffering); break;
        case Event::evJoinRequest: {
          // Asked before the offer is shown: showing it asks for the
          // activation, which the window system may or may not grant.
          const bool away = ui_.InBackground();
          SetState(State::stOffered);
          if (away) ui_.CallPlayerBack(Form::Accept, v.OfferName + kOfferSummary, v.OfferDesc);
          break;
        }
        case Event::evServerLost:
          ui_.SetQueryTimer(false);
          SetState(State::stRegister);
          ShowMessageBox("The connection to the server has been closed.  Try again later");
          break;
        default: break;
      }
      break;
    case State::stOffering:
      switch (event) {
        // A double quote where an apostrophe belongs: the other side has
        // always been shown exactly this text.
        case Event::evJoinRequest: RefuseOffer(cause, "I am waiting for somebody\"s response!"); break;
        case Event::evDeclined:
          SetState(State::stLobby);
          ShowMessageBox("Remote has declined your offer. Reason : " + cause.moreInfo);
          break;
        case Event::evCancelOffer: SetState(State::stLobby); break;
        case Event::evAccepted: {
          // The partner's player id less ":" and the port.
          std::string address = cause.sender;
          address.erase(address.size() >= 5 ? address.size() - 5 : 0);
          StartGame(address, ui_.RemoteNameCaption());
          v.InSubGroup = true;
          SetState(State::stPlaying);
          break;
        }
        default: break;  // a lost server is ignored while waiting
      }
      break;
    case State::stOffered:
      switch (event) {
        case Event::evJoinRequest: RefuseOffer(cause, "Someone already has offered me a game"); break;
        case Event::evAccept:
          v.InSubGroup = true;
          SetState(State::stPlaying);
          break;
        case Event::evRefuse: SetState(State::stLobby); break;
        case Event::evWithdrawn:
          SetState(State::stLobby);
          ZEPSetResponseStatus(v.SessionHandle, 1, 0, nullptr);
          ShowMessageBox("Remote partner has cancelled his offer to play a game.");
          break;
        default: break;
      }
      break;
    default:
      break;  // leaving, playing, and any unknown state: nothing applies
  }
}

void ClientCore::ShowMessageBox(const std::string& text) {
  std::optional<Form> owner;
  for (Form form : {Form::Accept, Form::Connect, Form::Server, Form::Suggest}) {
    if (ui_.IsFormVisible(form)) owner = form;
  }
  ui_.ShowMessage(owner, text);
}

}  // namespace lobby
