#include "auto_player.hpp"

#include "opponent.hpp"

namespace cvgame {
namespace {

std::string Score(const Match& m) {
  return std::to_string(m.localWins()) + "-" + std::to_string(m.remoteWins());
}

}  // namespace

AutoPlayer::AutoPlayer(SessionOptions session, AutoPlayerOptions options, Events events)
    : options_(options),
      events_(std::move(events)),
      rng_(options.seed),
      session_(session, *this),
      thinkTimer_([this] { Act(); }) {}

AutoPlayer::~AutoPlayer() = default;

bool AutoPlayer::Start(std::string_view partner) { return session_.Start(partner); }

void AutoPlayer::Say(const std::string& line) {
  if (events_.say) events_.say(line);
}

void AutoPlayer::OnConnected() { Say("partner connected"); }

void AutoPlayer::OnGameStarted() {
  const Match& m = session_.match();
  Say("game " + std::to_string(m.gameNumber()) + " starts, " +
      (m.toMove() == Side::kLocal ? "I begin" : "partner begins"));
  if (m.toMove() == Side::kLocal) thinkTimer_.Start(options_.think);
}

void AutoPlayer::OnMove(Side who, Cell cell) {
  if (who == Side::kLocal) {
    Say("I play column " + std::to_string(cell.column + 1));
    return;
  }
  Say("partner plays column " + std::to_string(cell.column + 1));
  const Match& m = session_.match();
  if (m.phase() == Phase::kPlaying && m.toMove() == Side::kLocal) thinkTimer_.Start(options_.think);
}

void AutoPlayer::OnGameOver() {
  const Match& m = session_.match();
  const Result r = *m.lastResult();
  Say("game " + std::to_string(m.gameNumber()) + ": " +
      (r == Result::kLocalWon ? "I won" : r == Result::kRemoteWon ? "partner won" : "draw") +
      " (" + Score(m) + ")");
  thinkTimer_.Start(options_.think);
}

void AutoPlayer::OnPartnerAskedAgain() { Say("partner wants another game"); }

void AutoPlayer::Act() {
  const Match& m = session_.match();
  if (session_.state() != GameSession::State::kPlaying) return;
  if (m.phase() == Phase::kPlaying) {
    if (m.toMove() == Side::kLocal) session_.Play(ChooseMove(m.board(), DiscOf(Side::kLocal), rng_));
    return;
  }
  if (m.HasAskedAgain(Side::kLocal)) return;
  if (options_.games != 0 && m.gameNumber() >= options_.games) {
    Say("no further game");
    session_.Decline();
  } else {
    Say("asking for another game");
    session_.PlayAgain();
  }
}

void AutoPlayer::OnEnded(EndCode code) {
  thinkTimer_.Stop();
  if (events_.ended) {
    const auto ended = events_.ended;
    ended(code);
  }
}

}  // namespace cvgame
