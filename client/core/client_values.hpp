// client_values.hpp - the values the lobby client's modules share (internal).
//
// Everything here lives on the GUI thread; nothing is locked. The names are
// the ones the client's design uses throughout, so that a reader can follow
// a value from the window that sets it to the state machine that reads it.
#pragma once

#include <string>

#include "client_state.hpp"

namespace lobby {

struct ClientValues {
  // Installation directory, Windows-style, always ending in a backslash.
  std::string InstallDir = "C:\\";
  // The application's help file, Windows-style (set once InstallDir is known).
  std::string HelpFile = "corva.hlp";
  int SessionHandle = 0;
  // The client may use its agent session: the poll, leaving the server and
  // opening a session all do nothing while this is false.
  bool SessionFlag = false;
  bool MusicPlaying = false;
  bool InSubGroup = false;
  bool GameRunning = false;
  bool ServerAcknowledged = false;

  // The state machine's state: the value last passed to SetState (none, 0,
  // before the first call).
  State CurrentState{};

  // The join request that arrived last and what the incoming-offer dialog
  // shows of it.
  std::string OfferRecord;
  std::string OfferName;
  std::string OfferDesc;
};

// The one set of values of the process.
ClientValues& Values();
// Puts every value back to its initial state (start-up, and between tests).
void ResetValues();

}  // namespace lobby
