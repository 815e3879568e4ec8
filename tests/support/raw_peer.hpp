// raw_peer.hpp - a scripted peer for tests: a plain loopback TCP socket that
// writes exact bytes and reads what arrives, while the platform loop of the
// code under test is pumped on the same thread.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace testsupport {

// Pumps the loop until done() holds; gives up after about ten seconds so a
// broken build fails instead of hanging (a bound, not a timing assertion).
inline bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i) plat_pump(5);
  return done();
}

// Pumps a little so that anything that was going to happen has happened.
inline void PumpAWhile(int rounds = 20) {
  for (int i = 0; i < rounds; ++i) plat_pump(2);
}

class RawPeer {
 public:
  RawPeer() = default;
  ~RawPeer() { Close(); }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  // `from`: the local address to connect from (any of 127/8 reaches the
  // loopback), for tests where peers must come from different hosts.
  bool Connect(unsigned port, const char* from = nullptr) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      if (inet_pton(AF_INET, from, &local.sin_addr) != 1 ||
          bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return false;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
    Setup();
    return true;
  }

  // Listens on a free port of 127.0.0.1 (or of `at`); Accept() takes one
  // connection.
  unsigned Listen(const char* at = nullptr) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (at != nullptr && inet_pton(AF_INET, at, &a.sin_addr) != 1) return 0;
    socklen_t len = sizeof a;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listenFd_, 8) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return 0;
    fcntl(listenFd_, F_SETFL, O_NONBLOCK);
    return ntohs(a.sin_port);
  }

  bool Accept() {
    if (!PumpUntil([&] {
          if (fd_ < 0) fd_ = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
          return fd_ >= 0;
        }))
      return false;
    Setup();
    return true;
  }

  bool Send(const std::string& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // Reads whatever is there without waiting; false once the other side
  // closed the connection.
  bool Poll() {
    char buf[65536];
    for (;;) {
      ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        received_.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) closed_ = true;
      return !closed_;
    }
  }

  // Pumps until at least n bytes arrived (or the peer closed).
  bool WaitForBytes(size_t n) {
    return PumpUntil([&] {
      Poll();
      return received_.size() >= n || closed_;
    }) && received_.size() >= n;
  }

  bool WaitForClose() {
    return PumpUntil([&] {
      Poll();
      return closed_;
    });
  }

  std::string& received() { return received_; }
  bool closed() const { return closed_; }
  int fd() const { return fd_; }

  void Close() {
    if (fd_ >= 0) close(fd_);
    if (listenFd_ >= 0) close(listenFd_);
    fd_ = listenFd_ = -1;
  }

 private:
  void Setup() {
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  int fd_ = -1;
  int listenFd_ = -1;
  std::string received_;
  bool closed_ = false;
};

}  // namespace testsupport
