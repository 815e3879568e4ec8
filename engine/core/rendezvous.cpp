#include "rendezvous.hpp"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace cvgame {

std::optional<in_addr> ParsePartnerAddress(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) text = text.substr(0, colon);
  if (text.empty() || text.size() > 15) return std::nullopt;
  const std::string dotted(text);
  in_addr address{};
  if (inet_pton(AF_INET, dotted.c_str(), &address) != 1) return std::nullopt;
  return address;
}

// ---- GameListener ------------------------------------------------------------

GameListener::~GameListener() {
  *alive_ = false;
  if (watch_ != 0) platform::UnwatchFd(watch_);
  if (fd_ >= 0) close(fd_);
}

bool GameListener::Listen(std::uint16_t port, std::function<void(int fd)> onFirst) {
  if (fd_ >= 0) return false;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // Lets a new game listen while the last one's connection is in TIME_WAIT;
  // on Linux it does not let two listeners share the port.
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return false;
  }
  watch_ = platform::WatchFd(fd, EPOLLIN, [this, alive = alive_](std::uint32_t) {
    if (*alive) OnAcceptable();
  });
  if (watch_ == 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  port_ = ntohs(address.sin_port);
  onFirst_ = std::move(onFirst);
  return true;
}

void GameListener::OnAcceptable() {
  const std::shared_ptr<bool> alive = alive_;
  for (;;) {
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // nothing more waiting (or a transient error)
    if (handedOn_) {
      // One partner per game: whoever else knocks is sent away at once.
      close(fd);
      continue;
    }
    handedOn_ = true;
    const auto onFirst = onFirst_;
    onFirst(fd);
    if (!*alive) return;
  }
}

// ---- GameConnector -------------------------------------------------------------

GameConnector::GameConnector()
    : retryTimer_([this] { Attempt(); }), boundTimer_([this] { Report(-1); }) {}

GameConnector::~GameConnector() {
  *alive_ = false;
  Drop();
}

void GameConnector::Start(in_addr address, std::uint16_t port, std::chrono::milliseconds bound,
                          std::chrono::milliseconds retry, std::function<void(int fd)> done) {
  target_ = {};
  target_.sin_family = AF_INET;
  target_.sin_addr = address;
  target_.sin_port = htons(port);
  retry_ = retry;
  done_ = std::move(done);
  boundTimer_.Start(bound);
  // The first attempt runs from the loop too, so that a failure is never
  // reported from inside Start.
  retryTimer_.Start(std::chrono::milliseconds(0));
}

void GameConnector::Drop() {
  if (watch_ != 0) platform::UnwatchFd(watch_);
  watch_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void GameConnector::Attempt() {
  if (reported_) return;
  Drop();
  ++attempts_;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    retryTimer_.Start(retry_);
    return;
  }
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&target_), sizeof target_);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    fd_ = fd;
    return OnWritable();
  }
  if (errno != EINPROGRESS) {
    close(fd);
    retryTimer_.Start(retry_);
    return;
  }
  fd_ = fd;
  watch_ = platform::WatchFd(fd, EPOLLOUT, [this, alive = alive_](std::uint32_t) {
    if (*alive) OnWritable();
  });
  if (watch_ == 0) {
    Drop();
    retryTimer_.Start(retry_);
  }
}

void GameConnector::OnWritable() {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  if (error != 0) {
    // Refused (nobody listens yet) or unreachable: try again a little later.
    Drop();
    retryTimer_.Start(retry_);
    return;
  }
  if (watch_ != 0) platform::UnwatchFd(watch_);
  watch_ = 0;
  const int fd = fd_;
  fd_ = -1;
  Report(fd);
}

void GameConnector::Report(int fd) {
  if (reported_) {
    if (fd >= 0) close(fd);
    return;
  }
  reported_ = true;
  retryTimer_.Stop();
  boundTimer_.Stop();
  Drop();
  const auto done = std::move(done_);
  done(fd);
}

}  // namespace cvgame
