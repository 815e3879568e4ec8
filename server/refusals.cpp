#include "refusals.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/byte_buffer.hpp"
#include "platform/frame_codec.hpp"

namespace vossad {
namespace {
// What one wake-up reads of a refused connection: an agent's registration is
// a few hundred bytes; a peer that sends much more is cut short by the
// linger deadline, not served.
constexpr std::size_t kReadPerWake = 16 * 1024;
}  // namespace

void Refusals::Refuse(int fd, std::string_view reason, Clock::time_point now) {
  platform::ByteBuffer frame;
  platform::AppendFrame(frame, "BUSY " + std::string(reason), false);
  // A connection just accepted has room for one short frame; if it has not,
  // it is closed without it.
  const std::string_view bytes = frame.Readable();
  const bool sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
                    static_cast<ssize_t>(bytes.size());
  if (!sent || held_.size() >= kMaxHeld || shutdown(fd, SHUT_WR) != 0) {
    ::close(fd);
    return;
  }
  const platform::WatchId watch = platform::WatchFd(fd, EPOLLIN, [this, fd](std::uint32_t) { Drain(fd); });
  if (watch == 0) {
    ::close(fd);
    return;
  }
  held_.push_back({fd, watch, now + kLinger});
}

void Refusals::Drain(int fd) {
  char chunk[4096];
  std::size_t taken = 0;
  while (taken < kReadPerWake) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      taken += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    break;  // the agent has gone, or the connection failed
  }
  if (taken >= kReadPerWake) return;  // more next time, until the deadline
  for (std::size_t i = 0; i < held_.size(); ++i) {
    if (held_[i].fd == fd) return Release(i);
  }
}

void Refusals::Expire(Clock::time_point now) {
  for (std::size_t i = held_.size(); i > 0; --i) {
    if (now >= held_[i - 1].until) Release(i - 1);
  }
}

void Refusals::CloseAll() {
  while (!held_.empty()) Release(held_.size() - 1);
}

void Refusals::Release(std::size_t index) {
  platform::UnwatchFd(held_[index].watch);
  ::close(held_[index].fd);
  held_[index] = held_.back();
  held_.pop_back();
}

}  // namespace vossad
