// engine_api.hpp - the engine library's process-wide state behind the C API
// (internal): the one game that may run at a time and the closing message
// waiting for CVGetMsg. Exposed for the library's own tests.
#pragma once

#include <optional>

#include "game_session.hpp"

class EngineGame;

namespace cvengine {

// Environment variable that overrides the game port (tests, two hosts on one
// machine); both engines of a game must agree on it.
inline constexpr const char* kGamePortVariable = "CVENGINE_GAME_PORT";

// The session options the next CVRunGame uses: the defaults with the game
// port from kGamePortVariable when that holds a valid port.
cvgame::SessionOptions CurrentSessionOptions();
// Tests shorten the bounds with this; nullopt returns to the defaults.
void SetSessionOptionsForTests(std::optional<cvgame::SessionOptions> options);
// The game started by CVRunGame while it runs, else null.
EngineGame* RunningGame();

}  // namespace cvengine
