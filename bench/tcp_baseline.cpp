#include "tcp_baseline.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ring_receiver.hpp"

namespace bench {
namespace {

constexpr int kStartupMs = 10000;

// One end's way of waiting for and reading its next message.
class Waiter {
 public:
  Waiter(int fd, Wait wait) : fd_(fd), wait_(wait) {
    if (wait == Wait::kEpoll) epollFd_ = EpollFor(fd);
    if (wait == Wait::kRing) ring_ = std::make_unique<RingReceiver>(fd);
  }
  ~Waiter() {
    if (epollFd_ >= 0) close(epollFd_);
  }
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  bool Ready() const {
    switch (wait_) {
      case Wait::kInReceive: return true;
      case Wait::kEpoll: return epollFd_ >= 0;
      case Wait::kRing: return ring_->Ready();
    }
    return false;
  }

  // Receives n bytes; every wait is bounded by the socket's timeout.
  bool Receive(char* p, std::size_t n) {
    if (wait_ == Wait::kRing) return ring_->Receive(p, n);
    if (wait_ == Wait::kEpoll) {
      epoll_event ready{};
      int r;
      do {
        r = epoll_wait(epollFd_, &ready, 1, kSocketTimeoutSeconds * 1000);
      } while (r < 0 && errno == EINTR);
      if (r != 1) return false;
    }
    return RecvFull(fd_, p, n);
  }

 private:
  // An epoll set watching fd for input. Edge-triggered, as the agent's
  // sockets are: the kernel does not look at the socket again at the next
  // wait (each message here is read whole).
  static int EpollFor(int fd) {
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = fd;
    if (ep >= 0 && epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) == 0) return ep;
    if (ep >= 0) close(ep);
    return -1;
  }

  int fd_;
  Wait wait_;
  int epollFd_ = -1;
  std::unique_ptr<RingReceiver> ring_;
};

// Echoes `bytes`-sized messages until the other side goes away. With a
// report descriptor, counts what it asks of the kernel and the heap from the
// first timed message (after `warmup`) to the last (`count` of them) and
// writes the figure per round trip there.
void Echo(int fd, std::size_t bytes, Wait wait = Wait::kInReceive, long warmup = 0, long count = 0,
          int report = -1) {
  std::vector<char> buffer(bytes);
  Waiter waiter(fd, wait);
  if (!waiter.Ready()) return;
  long received = 0;
  ProcessCounts first;
  while (waiter.Receive(buffer.data(), bytes)) {
    ++received;
    if (report >= 0 && received == warmup + 1) first = CurrentCounts();
    if (report >= 0 && received == warmup + count) {
      const CountsPer per = Per(first, CurrentCounts(), static_cast<std::uint64_t>(count - 1));
      SendValue(report, per);
    }
    if (!SendFull(fd, buffer.data(), bytes)) break;
  }
}

// The measuring end: sends, waits for the whole answer, notes the time.
bool Drive(int fd, std::size_t bytes, long warmup, long count, Latencies* out, CountsPer* counts = nullptr,
           Wait wait = Wait::kInReceive) {
  std::vector<char> message(bytes, 'x');
  std::vector<char> answer(bytes);
  Waiter waiter(fd, wait);
  if (!waiter.Ready()) return false;
  bool ok = true;
  for (long i = 0; i < warmup && ok; ++i) {
    ok = SendFull(fd, message.data(), bytes) && waiter.Receive(answer.data(), bytes);
  }
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  const ProcessCounts before = CurrentCounts();
  const auto start = Clock::now();
  for (long i = 0; i < count && ok; ++i) {
    const auto sent = Clock::now();
    ok = SendFull(fd, message.data(), bytes) && waiter.Receive(answer.data(), bytes);
    micros.push_back(MicrosSince(sent));
  }
  const double seconds = SecondsSince(start);
  if (counts != nullptr) *counts = Per(before, CurrentCounts(), static_cast<std::uint64_t>(count));
  if (!ok) return false;
  *out = Summarize(std::move(micros), seconds);
  return true;
}

}  // namespace

bool TcpPingPong(std::size_t bytes, long warmup, long count, Latencies* out, EndCounts* counts, Wait wait) {
  static const char* const kEchoNames[] = {"tcp-echo", "tcp-epoll-echo", "tcp-ring-echo"};
  int pipeEnd = -1;
  const pid_t echo = SpawnChild(kEchoNames[static_cast<int>(wait)], &pipeEnd, [=](int report) {
    const int fd = AcceptOneReported(report, kStartupMs);
    if (fd >= 0) Echo(fd, bytes, wait, warmup, count, counts != nullptr ? report : -1);
  });
  if (echo < 0) return false;
  unsigned port = 0;
  bool ok = ReceiveValue(pipeEnd, port, kStartupMs);
  if (ok) {
    const int fd = ConnectLoopback(port);
    ok = fd >= 0 && Drive(fd, bytes, warmup, count, out, counts ? &counts->measuring : nullptr, wait);
    // The echo reports once it has had the last timed message.
    if (ok && counts != nullptr) ok = ReceiveValue(pipeEnd, counts->answering, kStartupMs);
    if (fd >= 0) close(fd);
  }
  close(pipeEnd);
  ReapChild(echo);
  return ok;
}

bool TcpRelayPingPong(std::size_t bytes, long warmup, long count, Latencies* out) {
  int relayPipe = -1;
  const pid_t relay = SpawnChild("tcp-relay", &relayPipe, [bytes](int report) {
    unsigned port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0 || !SendValue(report, port)) return;
    // Each end says who it is with one byte: 'A' measures, 'B' echoes.
    int a = -1, b = -1;
    for (int i = 0; i < 2; ++i) {
      const int fd = AcceptOne(listener, kStartupMs);
      char role = 0;
      if (fd < 0 || !RecvFull(fd, &role, 1)) return;
      (role == 'A' ? a : b) = fd;
    }
    close(listener);
    if (a < 0 || b < 0) return;
    std::vector<char> buffer(bytes);
    while (RecvFull(a, buffer.data(), bytes) && SendFull(b, buffer.data(), bytes) &&
           RecvFull(b, buffer.data(), bytes) && SendFull(a, buffer.data(), bytes)) {
    }
  });
  if (relay < 0) return false;
  unsigned port = 0;
  const bool started = ReceiveValue(relayPipe, port, kStartupMs);
  close(relayPipe);
  if (!started) {
    ReapChild(relay);
    return false;
  }

  int echoPipe = -1;
  const pid_t echo = SpawnChild("tcp-echo", &echoPipe, [bytes, port](int report) {
    const int fd = ConnectLoopback(port);
    const char role = 'B';
    const bool ready = fd >= 0 && SendFull(fd, &role, 1);
    SendValue(report, static_cast<int>(ready));
    if (ready) Echo(fd, bytes);
  });
  int echoReady = 0;
  bool ok = false;
  if (echo > 0 && ReceiveValue(echoPipe, echoReady, kStartupMs) && echoReady) {
    const int fd = ConnectLoopback(port);
    const char role = 'A';
    if (fd >= 0 && SendFull(fd, &role, 1)) ok = Drive(fd, bytes, warmup, count, out);
    if (fd >= 0) close(fd);
  }
  if (echoPipe >= 0) close(echoPipe);
  ReapChild(echo);
  ReapChild(relay);
  return ok;
}

}  // namespace bench
