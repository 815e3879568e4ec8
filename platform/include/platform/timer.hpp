// timer.hpp - a one-shot timer on the process loop (public).
//
// For deadlines that must fire while nothing else happens: a connection
// that went quiet half-way through a frame produces no event of its own.
// The callback runs on the loop thread from plat_dispatch / plat_pump, and
// may restart, cancel or destroy its own timer.
#pragma once

#include <chrono>
#include <functional>

#include "platform/loop.hpp"

namespace platform {

class PLAT_EXPORT Timer {
 public:
  explicit Timer(std::function<void()> callback);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Arms the timer to fire once after `delay` (at once for 0 or less),
  // replacing an earlier arming. False when the loop cannot hold it.
  bool Start(std::chrono::milliseconds delay);
  void Cancel();
  bool IsArmed() const { return armed_; }

 private:
  void Fire();

  std::function<void()> callback_;
  int fd_ = -1;
  WatchId watch_ = 0;
  bool armed_ = false;
};

}  // namespace platform
