// The loop timer: a timerfd watched on its loop, made when first armed and
// kept until the timer goes.
#include "platform/timer.hpp"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform {
namespace {

timespec ToTimespec(std::chrono::nanoseconds d) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(d.count() / 1000000000);
  t.tv_nsec = static_cast<long>(d.count() % 1000000000);
  return t;
}

}  // namespace

Timer::Timer(std::function<void()> callback) : Timer(EventLoop::Default(), std::move(callback)) {}

Timer::Timer(EventLoop& loop, std::function<void()> callback)
    : loop_(loop), callback_(std::move(callback)) {}

Timer::~Timer() {
  watch_.Reset();
  if (fd_ >= 0) ::close(fd_);
}

bool Timer::Start(std::chrono::milliseconds delay, std::chrono::milliseconds interval) {
  if (fd_ < 0) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) return false;
    watch_ = FdWatch(loop_, fd_, EPOLLIN, [this](std::uint32_t) { Fire(); });
    if (!watch_.active()) {
      ::close(fd_);
      fd_ = -1;
      return false;
    }
  }
  itimerspec when{};
  // A zero it_value would disarm the timer; the shortest real wait is 1 ns.
  when.it_value = ToTimespec(delay.count() > 0 ? std::chrono::nanoseconds(delay) : std::chrono::nanoseconds(1));
  if (interval.count() > 0) when.it_interval = ToTimespec(interval);
  if (timerfd_settime(fd_, 0, &when, nullptr) != 0) return false;
  armed_ = true;
  repeating_ = interval.count() > 0;
  return true;
}

void Timer::Stop() {
  if (fd_ < 0 || !armed_) return;
  itimerspec off{};
  timerfd_settime(fd_, 0, &off, nullptr);
  std::uint64_t expirations = 0;
  (void)!read(fd_, &expirations, sizeof expirations);
  armed_ = false;
}

void Timer::Fire() {
  std::uint64_t expirations = 0;
  // Nothing to read: a Stop or a new Start came between readiness and now.
  if (read(fd_, &expirations, sizeof expirations) != sizeof expirations || expirations == 0) return;
  if (!repeating_) armed_ = false;
  // A copy runs: the callback may destroy this timer, and with it callback_.
  const std::function<void()> callback = callback_;
  if (callback) callback();
}

}  // namespace platform
