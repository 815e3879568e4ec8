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
std::optional<Form> FormOfState(int state) {
  switch (state) {
    case stRegister: return Form::Test;
    case stLobby: return Form::Connect;
    case stOffering: return Form::Suggest;
    case stOffered: return Form::Accept;
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

void ClientCore::SetState(int state) {
  ClientValues& v = Values();
  v.CurrentState = state;
  // The form this state shows is not hidden on the way when it is on screen
  // already (SetState twice in a row): it is shown again instead.
  const std::optional<Form> shown = FormOfState(state);
  const bool onScreen = shown && ui_.IsFormVisible(*shown);
  HideDialogs(shown);
  const auto show = [&](Form form) { onScreen ? ui_.ShowFormAgain(form) : ui_.ShowForm(form); };
  switch (state) {
    case stRegister:
      LeaveSubGroupIfIn();
      show(Form::Test);
      ui_.HideForm(Form::Open);
      break;
    case stLobby:
      LeaveSubGroupIfIn();
      show(Form::Connect);
      ui_.HideForm(Form::Open);
      break;
    case stOffering:
      show(Form::Suggest);
      ui_.HideForm(Form::Open);
      break;
    case stOffered:
      show(Form::Accept);
      ui_.HideForm(Form::Open);
      break;
    case stLeaving:
    case stPlaying:
      ui_.SetRefreshTimer(false);
      ui_.SetQueryTimer(false);
      if (v.SessionFlag) ZEPLeaveServer(v.SessionHandle);
      break;
    default:
      ShowMessageBox("SetState cannot change to Unknown State : " + std::to_string(state));
      break;
  }
}

void ClientCore::RefuseOffer(const char* reason) {
  ClientValues& v = Values();
  // The offer just fetched, not the one on screen (OfferRecord).
  ZEPAcceptSubGroupJoinRequest(v.SessionHandle, v.MsgText.c_str(), 0, reason);
}

void ClientCore::HandleEvent(int event) {
  ClientValues& v = Values();
  switch (v.CurrentState) {
    case stRegister:
      switch (event) {
        case evLeave: SetState(stLeaving); break;
        case evGo: SetState(stLobby); break;
        case evJoinRequest: RefuseOffer("I am not connected to the Vossa!"); break;
        default: break;
      }
      break;
    case stLobby:
      switch (event) {
        case evLeave: SetState(stLeaving); break;
        case evGo: SetState(stOffering); break;
        case evJoinRequest: SetState(stOffered); break;
        case evServerLost:
          ui_.SetQueryTimer(false);
          SetState(stRegister);
          ShowMessageBox("The connection to the server has been closed.  Try again later");
          break;
        default: break;
      }
      break;
    case stOffering:
      switch (event) {
        // A double quote where an apostrophe belongs: the other side has
        // always been shown exactly this text.
        case evJoinRequest: RefuseOffer("I am waiting for somebody\"s response!"); break;
        case evDeclined:
          SetState(stLobby);
          ShowMessageBox("Remote has declined your offer. Reason : " + v.MsgMoreInfo);
          break;
        case evCancelOffer: SetState(stLobby); break;
        case evAccepted: {
          // The partner's player id less ":" and the port.
          std::string address = v.MsgSender;
          address.erase(address.size() >= 5 ? address.size() - 5 : 0);
          StartGame(address, ui_.RemoteNameCaption());
          v.InSubGroup = true;
          SetState(stPlaying);
          break;
        }
        default: break;  // a lost server is ignored while waiting
      }
      break;
    case stOffered:
      switch (event) {
        case evJoinRequest: RefuseOffer("Someone already has offered me a game"); break;
        case evAccept:
          v.InSubGroup = true;
          SetState(stPlaying);
          break;
        case evRefuse: SetState(stLobby); break;
        case evWithdrawn:
          SetState(stLobby);
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
