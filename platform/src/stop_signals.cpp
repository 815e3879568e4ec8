#include "platform/stop_signals.hpp"

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace platform {

StopSignals::StopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  fd_ = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::string("signalfd: ") + std::strerror(errno);
    return;
  }
  const int fd = fd_;
  watch_ = FdWatch(EventLoop::Default(), fd, EPOLLIN, [fd](std::uint32_t) {
    signalfd_siginfo info{};
    while (read(fd, &info, sizeof info) == sizeof info) {
    }
    plat_quit();
  });
  if (!watch_.active()) error_ = "cannot watch signals";
}

StopSignals::~StopSignals() {
  watch_.Reset();
  if (fd_ >= 0) close(fd_);
}

}  // namespace platform
