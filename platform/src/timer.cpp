// The one-shot loop timer: a timerfd watched on the process loop, made when
// first armed and kept until the timer goes.
#include "platform/timer.hpp"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

Timer::Timer(std::function<void()> callback) : callback_(std::move(callback)) {}

Timer::~Timer() {
  if (watch_ != 0) UnwatchFd(watch_);
  if (fd_ >= 0) ::close(fd_);
}

bool Timer::Start(std::chrono::milliseconds delay) {
  if (fd_ < 0) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) return false;
    watch_ = WatchFd(fd_, EPOLLIN, [this](std::uint32_t) { Fire(); });
    if (watch_ == 0) {
      ::close(fd_);
      fd_ = -1;
      return false;
    }
  }
  // A zero it_value would disarm the timer; the shortest real wait is 1 ns.
  const long long ns = delay.count() <= 0 ? 1 : std::chrono::nanoseconds(delay).count();
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
  when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
  if (timerfd_settime(fd_, 0, &when, nullptr) != 0) return false;
  armed_ = true;
  return true;
}

void Timer::Cancel() {
  if (fd_ < 0 || !armed_) return;
  itimerspec off{};
  timerfd_settime(fd_, 0, &off, nullptr);
  std::uint64_t expirations = 0;
  (void)!read(fd_, &expirations, sizeof expirations);
  armed_ = false;
}

void Timer::Fire() {
  std::uint64_t expirations = 0;
  // Nothing to read: a Cancel or a new Start came between readiness and now.
  if (read(fd_, &expirations, sizeof expirations) != sizeof expirations) return;
  armed_ = false;
  // A copy runs: the callback may destroy this timer, and with it callback_.
  const std::function<void()> callback = callback_;
  if (callback) callback();
}

}  // namespace platform
