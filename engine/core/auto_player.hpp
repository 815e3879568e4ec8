// auto_player.hpp - a match played by the computer opponent: it owns a game
// session, answers each turn with opponent.hpp's move after a short pause,
// asks for another game until it has played its share, then declines.
// Internal to the game core; the console player plays its matches with it,
// and tests use it as the partner of a window.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "game_session.hpp"

namespace cvgame {

struct AutoPlayerOptions {
  // Pause before each move and each answer, so that a person can follow.
  std::chrono::milliseconds think{0};
  // Games per match: after this many it declines another one. 0: it plays
  // for as long as the partner wants.
  unsigned games = 0;
  std::uint32_t seed = 1;
};

class AutoPlayer : private GameSessionObserver {
 public:
  struct Events {
    // One line for each thing that happens ("I play column 4").
    std::function<void(const std::string&)> say;
    // The match is over; the player may be destroyed from here.
    std::function<void(EndCode)> ended;
  };

  AutoPlayer(SessionOptions session, AutoPlayerOptions options, Events events);
  ~AutoPlayer() override;

  // As GameSession::Start.
  bool Start(std::string_view partner);
  void Exit() { session_.Exit(); }
  const GameSession& session() const { return session_; }

 private:
  void OnConnected() override;
  void OnGameStarted() override;
  void OnMove(Side who, Cell cell) override;
  void OnGameOver() override;
  void OnPartnerAskedAgain() override;
  void OnEnded(EndCode code) override;

  void Act();
  void Say(const std::string& line);

  AutoPlayerOptions options_;
  Events events_;
  std::mt19937 rng_;
  GameSession session_;
  platform::Timer thinkTimer_;
};

}  // namespace cvgame
