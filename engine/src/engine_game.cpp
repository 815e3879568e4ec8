#include "engine_game.hpp"

#include "board_view.hpp"
#include "game_window.hpp"

using cvgame::GameSession;
using cvgame::Phase;
using cvgame::Result;
using cvgame::Side;

EngineGame::EngineGame(cvgame::SessionOptions options, const QString& title, const char* soundFile,
                       Finished finished)
    : window_(std::make_unique<GameWindow>(title)),
      session_(options, *this),
      sound_(soundFile),
      finished_(std::move(finished)) {
  window_->board()->SetMatch(&session_.match());
  connect(window_.get(), &GameWindow::columnChosen, this, &EngineGame::OnColumnChosen);
  connect(window_.get(), &GameWindow::playAgainRequested, this, &EngineGame::OnPlayAgain);
  connect(window_.get(), &GameWindow::exitRequested, this, &EngineGame::OnExit);
}

EngineGame::~EngineGame() = default;

bool EngineGame::Start(std::string_view partner) {
  if (!session_.Start(partner)) {
    ended_ = true;
    return false;
  }
  Refresh();
  window_->show();
  window_->raise();
  window_->activateWindow();
  window_->board()->setFocus();
  return true;
}

void EngineGame::OnColumnChosen(int column) { session_.Play(column); }
void EngineGame::OnPlayAgain() {
  // Asking alone changes nothing the session reports, but the window shows it.
  if (session_.PlayAgain() && !ended_) Refresh();
}
void EngineGame::OnExit() { session_.Exit(); }

void EngineGame::OnGameOver() {
  if (session_.match().lastResult() == Result::kLocalWon) sound_.Play();
  Refresh();
}

void EngineGame::OnEnded(cvgame::EndCode code) {
  ended_ = true;
  window_->MarkFinished();
  window_->hide();
  const cvgame::Match& m = session_.match();
  if (finished_) finished_(code, m.localWins(), m.remoteWins());
  // Deleted once control is back in the event loop: this may run inside a
  // click on the window or inside the session's own socket callback.
  deleteLater();
}

QString EngineGame::StatusText() const {
  const cvgame::Match& m = session_.match();
  switch (session_.state()) {
    case GameSession::State::kNew:
    case GameSession::State::kEnded:
      return {};
    case GameSession::State::kWaiting:
    case GameSession::State::kHandshake:
      return session_.listening() ? tr("Waiting for your partner to connect\u2026")
                                  : tr("Connecting to your partner\u2026");
    case GameSession::State::kPlaying:
      break;
  }
  if (m.phase() == Phase::kPlaying) {
    return m.toMove() == Side::kLocal ? tr("Your turn (red) \u2013 click a column or press 1\u20137")
                                      : tr("Your partner's turn (yellow)\u2026");
  }
  const Result r = m.lastResult().value_or(Result::kDraw);
  QString text = r == Result::kLocalWon    ? tr("You won!")
                 : r == Result::kRemoteWon ? tr("Your partner won.")
                                           : tr("A draw.");
  if (m.HasAskedAgain(Side::kLocal))
    text += ' ' + tr("Waiting for your partner's answer\u2026");
  else if (m.HasAskedAgain(Side::kRemote))
    text += ' ' + tr("Your partner wants to play again.");
  else
    text += ' ' + tr("Play again?");
  return text;
}

void EngineGame::Refresh() {
  const cvgame::Match& m = session_.match();
  const bool playing = session_.state() == GameSession::State::kPlaying;
  window_->SetStatus(StatusText());
  window_->SetScore(m.localWins(), m.remoteWins());
  window_->SetPlayAgainEnabled(playing && m.phase() == Phase::kBetweenGames &&
                               !m.HasAskedAgain(Side::kLocal));
  window_->board()->SetInteractive(playing && m.phase() == Phase::kPlaying &&
                                   m.toMove() == Side::kLocal);
  window_->board()->update();
}
