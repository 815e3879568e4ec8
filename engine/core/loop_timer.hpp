// loop_timer.hpp - a timer on the platform loop (internal to the game core):
// a timerfd watched like any socket, so it fires on the loop thread from
// plat_dispatch / plat_pump, in the client as in the console player.
//
// The callback may stop, restart or destroy its own timer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/loop.hpp"

namespace cvgame {

class LoopTimer {
 public:
  explicit LoopTimer(std::function<void()> callback);
  ~LoopTimer();
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;

  // Fires once after `delay` (0 fires on the next loop turn), then every
  // `interval` when that is not zero. Restarting replaces what was set.
  void Start(std::chrono::milliseconds delay,
             std::chrono::milliseconds interval = std::chrono::milliseconds(0));
  void Stop();
  bool active() const { return active_; }
  // False when the system gave no timer; Start then does nothing.
  bool valid() const { return watch_ != 0; }

 private:
  void OnReadable();

  std::function<void()> callback_;
  int fd_ = -1;
  platform::WatchId watch_ = 0;
  bool active_ = false;
  bool repeating_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace cvgame
