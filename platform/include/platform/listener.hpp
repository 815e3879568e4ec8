// listener.hpp - a TCP listener on a loop that never waits (public; the
// lobby server and the game engine use it).
//
// Each loop turn it accepts what is waiting, up to a batch, and hands each
// connection on as a non-blocking, close-on-exec descriptor with the peer's
// address. When the process is out of descriptors it takes the waiting
// connection with the descriptor held in reserve and closes it (reported
// through the shed callback), so that the loop never spins on a listener it
// cannot serve. The callbacks may destroy the listener.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/event_loop.hpp"

namespace platform {

class PLAT_EXPORT Listener {
 public:
  // Connections taken per loop turn; the rest wait for the next turn, after
  // the connections already open have had theirs.
  static constexpr int kAcceptsPerTurn = 64;

  using AcceptCallback = std::function<void(int fd, const sockaddr_in& peer)>;

  explicit Listener(EventLoop& loop = EventLoop::Default());
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Binds the address (reusing it while old connections linger in
  // TIME_WAIT; a live listener's port still cannot be taken twice), listens
  // and starts accepting. False, with nothing left open, errno set, and
  // *failedCall naming the call that failed ("socket", "bind", "listen",
  // "getsockname" or "watch").
  bool Listen(const sockaddr_in& address, int backlog, AcceptCallback onAccept,
              const char** failedCall = nullptr);
  // Called after a waiting connection was closed for want of descriptors.
  void SetShedCallback(std::function<void()> onShed) { onShed_ = std::move(onShed); }
  void Close();

  bool listening() const { return fd_ >= 0; }
  // The listening descriptor (-1 when not listening), for socket options
  // that accepted connections inherit from it.
  int fd() const { return fd_; }
  // The port bound (useful with port 0) and the address (INADDR_ANY when
  // bound to every address).
  std::uint16_t port() const { return port_; }
  in_addr address() const { return address_; }

 private:
  void OnAcceptable();

  EventLoop& loop_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  in_addr address_{};
  FdWatch watch_;
  AcceptCallback onAccept_;
  std::function<void()> onShed_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace platform
