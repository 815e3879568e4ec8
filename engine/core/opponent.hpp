// opponent.hpp - the computer opponent of the game core: simple, but it
// never misses a win in one move, always blocks the partner's win in one
// move, avoids handing the partner a win on top of its own disc, and
// otherwise prefers the middle. Internal to the game core; no Qt.
#pragma once

#include <random>

#include "board.hpp"

namespace cvgame {

// A column for `me` to play on a board that is not full (-1 when it is).
// Ties are broken with `rng`, so a seeded generator plays reproducibly.
int ChooseMove(const Board& board, Disc me, std::mt19937& rng);

}  // namespace cvgame
