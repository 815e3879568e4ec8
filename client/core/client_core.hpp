// client_core.hpp - the lobby client's state machine, its dispatch of agent
// messages, its binding to the agent and its link to the game engine
// (internal).
//
// One small state machine decides which window is on screen and how the
// client answers what happens. Agent messages are fetched when the agent
// notifies, dispatched by type and mostly turned into numbered events; the
// windows raise the same events for the player's own actions. Every text the
// client shows for these happenings is here. The windows are reached only
// through ClientUi, so tests drive all of it without a window.
//
//   state_machine.cpp   SetState, HandleEvent, HideDialogs, ShowMessageBox
//   agent_messages.cpp  PollAgentMessage, DispatchAgentMessage, the poll tick
//   agent_binding.cpp   OpenAgentSession, the exit sequences
//   game_link.cpp       starting a game, the engine's closing message
#pragma once

#include <optional>
#include <string>

#include "client_state.hpp"
#include "client_ui.hpp"
#include "description_record.hpp"

namespace lobby {

// The message number the agent and the engine post to the hidden buttons
// (a left-button-up, which runs the buttons' mouse-up handlers).
inline constexpr unsigned kNotifyMessage = 514;
// The application name the agent registers under.
inline constexpr const char* kApplicationName = "QORCORVA";
// Title of the game window, before the partner's name.
inline constexpr const char* kGameTitlePrefix = "QOR's Corvane Game v091.b2 - Connected to ";
// The support address named when the agent cannot be started.
inline constexpr const char* kSupportAddress = "support@lobby.invalid";
// The desktop notifications that call the person back: after the offering
// player's name, and at a match's end (with the result as the body).
inline constexpr const char* kOfferSummary = " offers you a game";
inline constexpr const char* kMatchOverSummary = "Your match is over";

// One message fetched from the agent's queue: "SERVER" or the sending
// player's id, its type, its text and its extra information.
struct AgentMessage {
  std::string sender;
  int type = 0;
  std::string text;
  std::string moreInfo;
};

class ClientCore {
 public:
  explicit ClientCore(ClientUi& ui) : ui_(ui) {}
  ClientCore(const ClientCore&) = delete;
  ClientCore& operator=(const ClientCore&) = delete;

  ClientUi& ui() { return ui_; }

  // --- state machine ---
  void SetState(State state);
  // Applies event to the current state. cause is the agent message that
  // raised it (a partner's answer to an offer: its sender and reason); the
  // windows' own events have none.
  void HandleEvent(Event event, const AgentMessage& cause = {});
  // Hides the four dialogs that are visible; keep, the form the new state
  // shows, stays on screen and is shown again (ClientUi::ShowFormAgain).
  void HideDialogs(std::optional<Form> keep = std::nullopt);
  // Shows text in the message box, owned by the last visible of the
  // incoming-offer, query, server and outgoing-offer windows, in that order.
  void ShowMessageBox(const std::string& text);

  // --- agent messages ---
  // The next message; none when the queue is empty, the agent refuses, or
  // there is no session to ask.
  std::optional<AgentMessage> PollAgentMessage();
  void DispatchAgentMessage(const AgentMessage& message);
  // The poll timer's tick: fetches and dispatches until nothing more comes.
  void AgentMessTimerTimer();

  // --- agent binding ---
  // Leaves any previous session, opens a new one with the record built from
  // profile and asks to join the current server. False when the join was
  // refused at once. A failed open is fatal.
  bool OpenAgentSession(plat_hwnd notifyWindow, const Profile& profile);
  // Exit from the main window: splash destroyed, server and session left,
  // sound stopped, message loop ended.
  void ExitSequence();
  // Exit from the query dialog: the same without destroying the splash.
  void ExitFromLobby();

  // --- game link ---
  // Starts the engine with the partner unless a game already runs.
  void StartGame(const std::string& partnerAddress, const std::string& partnerName);
  // The game message pump's tick: the engine has reported the end of a game.
  void HangmanMessTimerTimer();

 private:
  void LeaveSubGroupIfIn();
  // Refuses the join request just fetched with `reason`.
  void RefuseOffer(const AgentMessage& request, const char* reason);

  ClientUi& ui_;
};

}  // namespace lobby
