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

bool GameListener::Listen(std::uint16_t port, std::function<void(int fd)> onFirst) {
  if (listener_.listening()) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  onFirst_ = std::move(onFirst);
  return listener_.Listen(address, 4, [this](int fd, const sockaddr_in&) { OnConnection(fd); });
}

void GameListener::OnConnection(int fd) {
  if (handedOn_) {
    // One partner per game: whoever else knocks is sent away at once.
    close(fd);
    return;
  }
  handedOn_ = true;
  const auto onFirst = onFirst_;
  onFirst(fd);
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
  watch_.Reset();
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
  watch_ = platform::FdWatch(platform::EventLoop::Default(), fd, EPOLLOUT,
                             [this, alive = alive_](std::uint32_t) {
                               if (*alive) OnWritable();
                             });
  if (!watch_.active()) {
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
  watch_.Reset();
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
