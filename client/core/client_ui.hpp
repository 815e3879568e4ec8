// client_ui.hpp - what the client's state machine needs from its windows
// (internal).
//
// The state machine, the dispatch of agent messages and the game link are
// plain code in ClientCore; they reach the windows only through this
// interface, so that tests can drive every transition without a window.
// FormsUi (forms_ui.hpp) is the real implementation over the seven forms.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace lobby {

// The seven windows, in the order they are created at start-up.
enum class Form { Open, Test, Server, Suggest, Accept, Message, Connect };

class ClientUi {
 public:
  virtual ~ClientUi() = default;

  virtual bool IsFormVisible(Form form) const = 0;
  // Makes the form visible, brings it to the front and activates it.
  virtual void ShowForm(Form form) = 0;
  virtual void HideForm(Form form) = 0;
  // A form that is visible already, shown as if it had just been hidden and
  // shown: brought to the front, activated, and re-initialised as on any
  // activation. (Hidden and shown again at once, a window can stay unmapped
  // for good under a window manager, which sees the two out of order.)
  virtual void ShowFormAgain(Form form) = 0;
  // Shows text in the client's message box, kept above owner (none: above
  // the main window or the splash, whichever is on screen). A second text
  // replaces the first.
  virtual void ShowMessage(std::optional<Form> owner, const std::string& text) = 0;
  // The platform's modal box for the fatal start-up messages; the real
  // implementation ends the process and never returns.
  virtual void FatalMessage(const std::string& text) = 0;
  // Destroys the splash window and ends the message loop (the exit sequence).
  virtual void DestroySplash() = 0;
  virtual void QuitLoop() = 0;

  // Another program has the screen: the client is minimised or behind
  // another program's window.
  virtual bool InBackground() const = 0;
  // Calls the person back to form, which waits for them: the client flashes
  // in the task bar and a desktop notification says summary and body; a
  // click on it brings form to the front.
  virtual void CallPlayerBack(Form form, const std::string& summary, const std::string& body) = 0;

  // The query dialog's parts the state machine drives.
  virtual void SetQueryTimer(bool on) = 0;
  virtual void SetRefreshTimer(bool on) = 0;
  // The answers of a query are all in: bRefresh enabled, RefreshTimer on,
  // and what an automatic query found put into the list.
  virtual void QueryEnded() = 0;
  virtual void EnableConnectButton() = 0;
  // Lists one query result; true when the player was listed.
  virtual bool ListQueryResult(const std::string& text) = 0;
  // The caption of the query dialog's lRemoteName.
  virtual std::string RemoteNameCaption() const = 0;

  // The hidden buttons whose platform windows receive the agent's and the
  // game engine's notifications.
  virtual plat_hwnd AgentMessageWindow() const = 0;
  virtual plat_hwnd HangmanWindow() const = 0;
};

}  // namespace lobby
