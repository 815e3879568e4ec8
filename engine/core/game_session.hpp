// game_session.hpp - one match over one TCP connection between two engines,
// run on the platform loop (internal to the game core; used by the engine
// library's window and by the console player).
//
// The accepting side listens on the game port, the offering side connects to
// the partner. Both send HELLO; the match starts when the partner's HELLO
// arrives, with the offering side beginning the first game. Moves, "another
// game?" answers and leaving travel as wire.hpp lines. Bounded everywhere:
//  - no connection within the bound (or the port taken, or a bad address):
//    the match ends with kNoConnection;
//  - a partner that sends nothing at all, not even its keep-alive, for
//    idleTimeout (a human may think as long as they like, the program keeps
//    talking), a line that is too long, unknown, or not allowed at that
//    moment (a move out of turn, into a full column, ...), or a connection
//    that breaks: kDisconnected.
//
// The session is started once and ends once; OnEnded is its last call.
// Observer calls run on the loop thread, or inside the local action that
// caused them (Play, PlayAgain, Decline, Exit). The observer may destroy the
// session from OnEnded.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "end_message.hpp"
#include "line_channel.hpp"
#include "match.hpp"
#include "platform/timer.hpp"
#include "rendezvous.hpp"
#include "wire.hpp"

namespace cvgame {

// The game port: the accepting side listens here (docs/game.md).
inline constexpr std::uint16_t kDefaultGamePort = 2430;
// Environment variable that overrides it, for tests and for two hosts on one
// machine; both engines of a game must agree on the port.
inline constexpr const char* kGamePortVariable = "CVENGINE_GAME_PORT";
// The port from kGamePortVariable when it holds one (1-65535), else
// kDefaultGamePort.
std::uint16_t GamePortFromEnvironment();

struct SessionOptions {
  std::uint16_t port = kDefaultGamePort;
  // Offering side: how long to keep trying to reach the partner, and the
  // pause after a refused attempt.
  std::chrono::milliseconds connectBound{8000};
  std::chrono::milliseconds connectRetry{250};
  // Accepting side: how long to wait for the partner to connect.
  std::chrono::milliseconds listenBound{30000};
  // Longest silence of the connection, and how often this side shows it is
  // still there when it has nothing else to say.
  std::chrono::milliseconds idleTimeout{15000};
  std::chrono::milliseconds keepAlive{3000};
};

class GameSessionObserver {
 public:
  virtual ~GameSessionObserver() = default;
  // The partner's engine answered; OnGameStarted follows at once.
  virtual void OnConnected() {}
  // A game starts (the first one included); match().toMove() begins.
  virtual void OnGameStarted() {}
  // A disc landed: this player's (inside Play) or the partner's.
  virtual void OnMove(Side /*who*/, Cell /*cell*/) {}
  // The game that just ended; match().lastResult() says how.
  virtual void OnGameOver() {}
  // Between games: the partner asked for another game, this player has not.
  virtual void OnPartnerAskedAgain() {}
  virtual void OnEnded(EndCode code) = 0;
};

class GameSession {
 public:
  enum class State { kNew, kWaiting, kHandshake, kPlaying, kEnded };

  GameSession(SessionOptions options, GameSessionObserver& observer);
  ~GameSession();
  GameSession(const GameSession&) = delete;
  GameSession& operator=(const GameSession&) = delete;

  // "l": listen for the partner; otherwise the partner's IPv4 address (see
  // ParsePartnerAddress), connected to on options.port. False, with the
  // session ended as kNoConnection and the observer not called, when it
  // cannot even begin: the port is taken, the address is unusable, or the
  // session was started before.
  bool Start(std::string_view partner);

  // This player's actions; false (nothing sent) when not allowed now.
  bool Play(int column);
  bool PlayAgain();
  // Between games: no further game. Ends the match with kOneTime.
  bool Decline();
  // Leaves the match at any time before it ended: kExit here, kPartnerExit
  // at the partner.
  void Exit();

  State state() const { return state_; }
  bool listening() const { return listening_; }
  EndCode endCode() const { return endCode_; }
  const Match& match() const { return match_; }
  // The port listened on (accepting side), useful with port 0.
  std::uint16_t listenPort() const { return listener_ ? listener_->port() : 0; }

 private:
  void OnConnection(int fd);
  void OnLine(std::string_view line);
  void OnHello();
  void OnMatchMessage(const wire::Message& message);
  void ApplyMove(Side who, int column);
  // False when the channel failed; the session has then ended.
  bool SendMessage(const wire::Message& message);
  void End(EndCode code, bool graceful = false);

  SessionOptions options_;
  GameSessionObserver& observer_;
  State state_ = State::kNew;
  bool listening_ = false;
  EndCode endCode_ = EndCode::kNoConnection;
  Match match_{Side::kLocal};
  std::unique_ptr<GameListener> listener_;
  std::unique_ptr<GameConnector> connector_;
  std::unique_ptr<LineChannel> channel_;
  platform::Timer waitTimer_;
  platform::Timer idleTimer_;
  platform::Timer keepAliveTimer_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace cvgame
