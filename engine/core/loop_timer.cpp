#include "loop_timer.hpp"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace cvgame {
namespace {

timespec ToTimespec(std::chrono::nanoseconds d) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(d.count() / 1000000000);
  t.tv_nsec = static_cast<long>(d.count() % 1000000000);
  return t;
}

}  // namespace

LoopTimer::LoopTimer(std::function<void()> callback) : callback_(std::move(callback)) {
  fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ < 0) return;
  watch_ = platform::WatchFd(fd_, EPOLLIN, [this, alive = alive_](std::uint32_t) {
    if (*alive) OnReadable();
  });
}

LoopTimer::~LoopTimer() {
  *alive_ = false;
  if (watch_ != 0) platform::UnwatchFd(watch_);
  if (fd_ >= 0) close(fd_);
}

void LoopTimer::Start(std::chrono::milliseconds delay, std::chrono::milliseconds interval) {
  if (watch_ == 0) return;
  itimerspec setting{};
  // A zero it_value would disarm the timer; the shortest delay is "now".
  setting.it_value = ToTimespec(delay.count() > 0 ? std::chrono::nanoseconds(delay)
                                               : std::chrono::nanoseconds(1));
  setting.it_interval = ToTimespec(interval);
  active_ = timerfd_settime(fd_, 0, &setting, nullptr) == 0;
  repeating_ = active_ && interval.count() > 0;
}

void LoopTimer::Stop() {
  if (fd_ < 0) return;
  itimerspec setting{};
  timerfd_settime(fd_, 0, &setting, nullptr);
  std::uint64_t expirations;
  // Drop an expiry that is already counted, so no late call follows Stop.
  (void)!read(fd_, &expirations, sizeof expirations);
  active_ = false;
}

void LoopTimer::OnReadable() {
  std::uint64_t expirations = 0;
  if (read(fd_, &expirations, sizeof expirations) != sizeof expirations || expirations == 0) return;
  if (!repeating_) active_ = false;
  // A copy, because the callback may destroy this timer and with it callback_.
  const std::function<void()> callback = callback_;
  callback();
}

}  // namespace cvgame
