#include "match.hpp"

namespace cvgame {

std::optional<Cell> Match::Play(Side who, int column) {
  if (phase_ != Phase::kPlaying || who != toMove_) return std::nullopt;
  const std::optional<Cell> cell = board_.Drop(column, DiscOf(who));
  if (!cell) return std::nullopt;
  std::vector<Cell> winning = board_.WinningCells(*cell);
  if (!winning.empty()) {
    winning_ = std::move(winning);
    FinishGame(who == Side::kLocal ? Result::kLocalWon : Result::kRemoteWon);
  } else if (board_.Full()) {
    FinishGame(Result::kDraw);
  } else {
    toMove_ = Other(who);
  }
  return cell;
}

void Match::FinishGame(Result result) {
  phase_ = Phase::kBetweenGames;
  lastResult_ = result;
  if (result == Result::kLocalWon) ++localWins_;
  if (result == Result::kRemoteWon) ++remoteWins_;
  if (result == Result::kDraw) ++draws_;
}

bool Match::AskAgain(Side who) {
  if (phase_ != Phase::kBetweenGames) return false;
  bool& asked = who == Side::kLocal ? localAgain_ : remoteAgain_;
  if (asked) return false;
  asked = true;
  if (!localAgain_ || !remoteAgain_) return true;
  board_ = Board();
  phase_ = Phase::kPlaying;
  starter_ = Other(starter_);
  toMove_ = starter_;
  ++gameNumber_;
  lastResult_.reset();
  winning_.clear();
  localAgain_ = remoteAgain_ = false;
  return true;
}

}  // namespace cvgame
