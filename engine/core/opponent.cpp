#include "opponent.hpp"

#include <cstdlib>
#include <vector>

namespace cvgame {
namespace {

int PickAmong(const std::vector<int>& columns, std::mt19937& rng) {
  std::uniform_int_distribution<std::size_t> pick(0, columns.size() - 1);
  return columns[pick(rng)];
}

// Lines through the middle are the most numerous, so closer is better.
int CentreScore(int column) { return kColumns / 2 - std::abs(column - kColumns / 2); }

}  // namespace

int ChooseMove(const Board& board, Disc me, std::mt19937& rng) {
  const Disc them = Opponent(me);
  std::vector<int> legal;
  for (int c = 0; c < kColumns; ++c)
    if (board.CanDrop(c)) legal.push_back(c);
  if (legal.empty() || me == Disc::kNone) return -1;

  for (int c : legal)
    if (board.WouldWin(c, me)) return c;
  std::vector<int> blocks;
  for (int c : legal)
    if (board.WouldWin(c, them)) blocks.push_back(c);
  if (!blocks.empty()) return PickAmong(blocks, rng);

  // A move that lets the partner win by dropping on top of it loses at once.
  std::vector<int> safe;
  for (int c : legal) {
    Board after = board;
    after.Drop(c, me);
    if (!after.WouldWin(c, them)) safe.push_back(c);
  }
  const std::vector<int>& pool = safe.empty() ? legal : safe;

  int best = -1;
  std::vector<int> top;
  for (int c : pool) {
    // A little noise so that it does not play the same game every time.
    const int score = CentreScore(c) * 2 + std::uniform_int_distribution<int>(0, 2)(rng);
    if (score > best) {
      best = score;
      top.clear();
    }
    if (score == best) top.push_back(c);
  }
  return PickAmong(top, rng);
}

}  // namespace cvgame
