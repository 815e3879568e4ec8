// engine_api.hpp - the engine library's process-wide state behind the C API
// (internal): the one game that may run at a time and the closing message
// waiting for CVGetMsg. Exposed for the library's own tests.
#pragma once

#include <optional>

#include "game_session.hpp"

class EngineGame;

namespace cvengine {

// The session options the next CVRunGame uses: the tests' options when set,
// else the defaults with the game port from cvgame::GamePortFromEnvironment.
cvgame::SessionOptions CurrentSessionOptions();
// Tests shorten the bounds with this; nullopt returns to the defaults.
void SetSessionOptionsForTests(std::optional<cvgame::SessionOptions> options);
// The game started by CVRunGame while it runs, else null.
EngineGame* RunningGame();

}  // namespace cvengine
