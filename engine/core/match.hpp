// match.hpp - one match between this player and the partner: the games one
// after the other on one board at a time, whose turn it is, who began, the
// score, and the "another game?" agreement between two games. Pure state,
// no network and no Qt: the game session feeds it both players' moves.
// Internal to the game core.
//
// Rules kept here: the players move in turn; a game ends with four in a row
// or a full board; another game starts only once both players asked for it,
// and it is begun by the player who did not begin the last one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "board.hpp"

namespace cvgame {

enum class Side : std::uint8_t { kLocal, kRemote };

constexpr Side Other(Side s) { return s == Side::kLocal ? Side::kRemote : Side::kLocal; }
// This player's discs are always kOne, the partner's kTwo.
constexpr Disc DiscOf(Side s) { return s == Side::kLocal ? Disc::kOne : Disc::kTwo; }

enum class Phase : std::uint8_t { kPlaying, kBetweenGames };
enum class Result : std::uint8_t { kLocalWon, kRemoteWon, kDraw };

class Match {
 public:
  explicit Match(Side firstStarter) : starter_(firstStarter), toMove_(firstStarter) {}

  Phase phase() const { return phase_; }
  const Board& board() const { return board_; }
  Side toMove() const { return toMove_; }
  Side starter() const { return starter_; }
  // The game being played or, between games, the one that just ended (1 for
  // the first).
  unsigned gameNumber() const { return gameNumber_; }
  std::uint32_t localWins() const { return localWins_; }
  std::uint32_t remoteWins() const { return remoteWins_; }
  std::uint32_t draws() const { return draws_; }
  // Set between games: how the last game ended, and its winning cells.
  std::optional<Result> lastResult() const { return lastResult_; }
  const std::vector<Cell>& winningCells() const { return winning_; }

  // A move of `who`; the cell it landed in, or nothing (and no change)
  // unless a game is on, it is `who`'s turn and the column has room.
  std::optional<Cell> Play(Side who, int column);
  // `who` asks for another game. False (no change) unless between games and
  // `who` has not asked yet. When both have asked, the next game starts.
  bool AskAgain(Side who);
  bool HasAskedAgain(Side who) const { return who == Side::kLocal ? localAgain_ : remoteAgain_; }

 private:
  void FinishGame(Result result);

  Board board_;
  Phase phase_ = Phase::kPlaying;
  Side starter_;
  Side toMove_;
  unsigned gameNumber_ = 1;
  std::uint32_t localWins_ = 0;
  std::uint32_t remoteWins_ = 0;
  std::uint32_t draws_ = 0;
  std::optional<Result> lastResult_;
  std::vector<Cell> winning_;
  bool localAgain_ = false;
  bool remoteAgain_ = false;
};

}  // namespace cvgame
