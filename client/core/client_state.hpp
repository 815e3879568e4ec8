// client_state.hpp - the states of the client's state machine and the
// events that move it (internal).
#pragma once

namespace lobby {

// The values are the ones the design numbers the states with; SetState also
// takes any other (and says it cannot change to it).
enum class State {
  stRegister = 1,  // main window: profile and registration
  stLobby = 2,     // query dialog: registered, browsing players
  stOffering = 3,  // outgoing offer: waiting for the partner's answer
  stOffered = 4,   // incoming offer: answering another player
  stLeaving = 5,   // server left
  stPlaying = 6,   // the game runs; server left
};

enum class Event {
  evLeave = 1,
  evGo = 2,
  evJoinRequest = 3,
  evDeclined = 4,
  evCancelOffer = 5,
  evAccept = 6,
  evRefuse = 7,
  evAccepted = 8,
  evWithdrawn = 9,
  evServerLost = 10,
};

}  // namespace lobby
