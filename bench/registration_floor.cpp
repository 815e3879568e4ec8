#include "registration_floor.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "bench_support.hpp"

namespace bench {
namespace {

constexpr int kStartupMs = 10000;
constexpr std::size_t kFrameTextMax = 4096;  // the server's bound on a frame's text
constexpr unsigned char kSignature[8] = {0x6D, 0x52, 0x26, 0x32, 0x73, 0x37, 0x71, 0x56};

// What the process keeps of a connection: the bytes of a frame still
// arriving and how many frames have.
struct Connection {
  std::string input;
  int frames = 0;
};

// Counts the whole frames at the front of `input` (server frames: the
// signature, a length prefix, the text) and drops them; false for a frame
// the server would refuse.
bool TakeFrames(Connection& c) {
  std::size_t pos = 0;
  for (;;) {
    const std::size_t avail = c.input.size() - pos;
    const auto* p = reinterpret_cast<const unsigned char*>(c.input.data()) + pos;
    if (avail < 9) break;
    if (std::memcmp(p, kSignature, 8) != 0) return false;
    std::size_t length = p[8], header = 9;
    if (length == 255) {
      if (avail < 11) break;
      length = p[9] | (std::size_t{p[10]} << 8);
      header = 11;
    }
    if (length > kFrameTextMax) return false;
    if (avail < header + length) break;
    pos += header + length;
    ++c.frames;
  }
  c.input.erase(0, pos);
  return true;
}

void Serve(int listener, int report, const std::string& answer) {
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listener;
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
  // The report pipe's write end reports an error once the parent closes
  // the other end: the signal to stop.
  ev.events = 0;
  ev.data.fd = report;
  epoll_ctl(ep, EPOLL_CTL_ADD, report, &ev);
  std::vector<Connection> connections;
  char buffer[4096];
  for (;;) {
    epoll_event ready[64];
    const int n = epoll_wait(ep, ready, 64, 1000);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const int fd = ready[i].data.fd;
      if (fd == report) {
        close(ep);
        return;
      }
      if (fd == listener) {
        int c;
        while ((c = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
          if (static_cast<std::size_t>(c) >= connections.size()) connections.resize(static_cast<std::size_t>(c) + 1);
          connections[static_cast<std::size_t>(c)] = Connection{};
          ev.events = EPOLLIN;
          ev.data.fd = c;
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
        }
        continue;
      }
      Connection& c = connections[static_cast<std::size_t>(fd)];
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got > 0) {
        const int before = c.frames;
        c.input.append(buffer, static_cast<std::size_t>(got));
        if (!TakeFrames(c)) {
          close(fd);
          continue;
        }
        if (before < 2 && c.frames >= 2) send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
      }
    }
  }
  close(ep);
}

}  // namespace

RegistrationFloor::RegistrationFloor(std::string answer) {
  pid_ = SpawnChild("least-server", &pipe_, [&answer](int report) {
    unsigned port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0) return;
    // As the server does: Nagle off for every connection it accepts, and
    // a backlog as long as the kernel allows.
    const int one = 1;
    setsockopt(listener, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    listen(listener, SOMAXCONN);
    fcntl(listener, F_SETFL, fcntl(listener, F_GETFL) | O_NONBLOCK);
    if (!SendValue(report, port)) return;
    Serve(listener, report, answer);
  });
  if (pid_ > 0 && !ReceiveValue(pipe_, port_, kStartupMs)) port_ = 0;
}

RegistrationFloor::~RegistrationFloor() {
  if (pipe_ >= 0) close(pipe_);
  ReapChild(pid_);
}

double RegistrationFloor::CpuSeconds() const { return bench::CpuSeconds(pid_); }

}  // namespace bench
