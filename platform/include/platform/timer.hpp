// timer.hpp - the loop's timer, one-shot or repeating (public).
//
// For deadlines that must fire while nothing else happens (a connection
// that went quiet half-way through a frame produces no event of its own),
// retries, and periodic sweeps. The callback runs on the loop thread from
// Dispatch / Pump, and may restart, stop or destroy its own timer.
#pragma once

#include <chrono>
#include <functional>

#include "platform/event_loop.hpp"

namespace platform {

class PLAT_EXPORT Timer {
 public:
  // On the process loop.
  explicit Timer(std::function<void()> callback);
  Timer(EventLoop& loop, std::function<void()> callback);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Arms the timer to fire once after `delay` (on the next turn for 0 or
  // less), then every `interval` when that is positive, replacing an
  // earlier arming. False when the loop cannot hold a timer.
  bool Start(std::chrono::milliseconds delay,
             std::chrono::milliseconds interval = std::chrono::milliseconds(0));
  // Disarms it; an expiry already due is dropped, so no late call follows.
  void Stop();
  bool IsArmed() const { return armed_; }

 private:
  void Fire();

  EventLoop& loop_;
  std::function<void()> callback_;
  int fd_ = -1;
  FdWatch watch_;
  bool armed_ = false;
  bool repeating_ = false;
};

}  // namespace platform
