// engine_game.hpp - one game as the lobby client starts it (internal to the
// engine library): the match session with the partner and the window that
// shows it, tied together on the client's thread and loop. It forwards the
// player's clicks and keys to the session, redraws the window on every
// change, plays the sound when the player wins a game, and when the match
// is over closes the window, tells its owner how it ended and deletes
// itself.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string_view>

#include "game_session.hpp"
#include "game_sound.hpp"

class GameWindow;

class EngineGame : public QObject, private cvgame::GameSessionObserver {
  Q_OBJECT

 public:
  using Finished = std::function<void(cvgame::EndCode code, std::uint32_t localWins,
                                      std::uint32_t remoteWins)>;

  EngineGame(cvgame::SessionOptions options, const QString& title, const char* soundFile,
             Finished finished);
  ~EngineGame() override;

  // Starts the session and shows the window. False when the session cannot
  // begin (GameSession::Start); nothing is shown or reported then.
  bool Start(std::string_view partner);
  bool running() const { return !ended_; }
  GameWindow* window() const { return window_.get(); }

 private:
  void OnColumnChosen(int column);
  void OnPlayAgain();
  void OnExit();

  void OnConnected() override { Refresh(); }
  void OnGameStarted() override { Refresh(); }
  void OnMove(cvgame::Side, cvgame::Cell) override { Refresh(); }
  void OnGameOver() override;
  void OnPartnerAskedAgain() override { Refresh(); }
  void OnEnded(cvgame::EndCode code) override;

  void Refresh();
  QString StatusText() const;

  std::unique_ptr<GameWindow> window_;
  cvgame::GameSession session_;
  GameSound sound_;
  Finished finished_;
  bool ended_ = false;
};
