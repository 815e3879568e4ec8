// rendezvous.hpp - how the two engines find each other (internal to the game
// core). The accepting side listens on the game port; the offering side
// connects to the partner's address, trying again after each refusal until a
// bound passes, because the partner starts listening only just before it
// sends its acceptance. Neither ever waits inside a call: connects are
// non-blocking and finish on the platform loop.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/event_loop.hpp"
#include "platform/listener.hpp"
#include "platform/timer.hpp"

namespace cvgame {

// The IPv4 address in a partner address as the lobby client gives it: a
// dotted address, possibly followed by ':' and whatever is left of a port.
// Host names are refused: looking one up could block the loop.
std::optional<in_addr> ParsePartnerAddress(std::string_view text);

// Listens on every local address. The first connection is handed on; any
// later one is closed at once, for as long as the listener lives.
class GameListener {
 public:
  GameListener() = default;
  GameListener(const GameListener&) = delete;
  GameListener& operator=(const GameListener&) = delete;

  // False when the port cannot be bound (another game listens there) or the
  // system refuses; nothing stays open then.
  bool Listen(std::uint16_t port, std::function<void(int fd)> onFirst);
  std::uint16_t port() const { return listener_.port(); }

 private:
  void OnConnection(int fd);

  platform::Listener listener_;
  bool handedOn_ = false;
  std::function<void(int fd)> onFirst_;
};

// Connects to the partner, again every `retry` after a refused or failed
// attempt, until `bound` has passed since Start. Reports a connected
// non-blocking descriptor, or -1 once the bound has passed. Reports exactly
// once, never from inside Start.
class GameConnector {
 public:
  GameConnector();
  ~GameConnector();
  GameConnector(const GameConnector&) = delete;
  GameConnector& operator=(const GameConnector&) = delete;

  void Start(in_addr address, std::uint16_t port, std::chrono::milliseconds bound,
             std::chrono::milliseconds retry, std::function<void(int fd)> done);
  int attempts() const { return attempts_; }

 private:
  void Attempt();
  void OnWritable();
  void Drop();
  void Report(int fd);

  sockaddr_in target_{};
  std::chrono::milliseconds retry_{0};
  std::function<void(int fd)> done_;
  int fd_ = -1;
  platform::FdWatch watch_;
  int attempts_ = 0;
  bool reported_ = false;
  platform::Timer retryTimer_;
  platform::Timer boundTimer_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace cvgame
