#include "tcp_baseline.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace bench {
namespace {

constexpr int kStartupMs = 10000;

// Echoes `bytes`-sized messages until the other side goes away.
void Echo(int fd, std::size_t bytes) {
  std::vector<char> buffer(bytes);
  while (RecvFull(fd, buffer.data(), bytes) && SendFull(fd, buffer.data(), bytes)) {
  }
}

// The measuring end: sends, waits for the whole answer, notes the time.
bool Drive(int fd, std::size_t bytes, long warmup, long count, Latencies* out) {
  std::vector<char> message(bytes, 'x');
  std::vector<char> answer(bytes);
  for (long i = 0; i < warmup; ++i) {
    if (!SendFull(fd, message.data(), bytes) || !RecvFull(fd, answer.data(), bytes)) return false;
  }
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    const auto sent = Clock::now();
    if (!SendFull(fd, message.data(), bytes) || !RecvFull(fd, answer.data(), bytes)) return false;
    micros.push_back(MicrosSince(sent));
  }
  *out = Summarize(std::move(micros), SecondsSince(start));
  return true;
}

// Forks a child that runs body(pipeWriteEnd) and exits; returns its pid and
// the read end of its pipe.
template <typename Body>
pid_t Spawn(const char* name, int* readEnd, Body body) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return -1;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    prctl(PR_SET_NAME, name);
    body(p[1]);
    _exit(0);
  }
  close(p[1]);
  if (pid < 0) {
    close(p[0]);
    return -1;
  }
  *readEnd = p[0];
  return pid;
}

}  // namespace

void ReapChild(pid_t pid, int timeoutMs) {
  if (pid <= 0) return;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool TcpPingPong(std::size_t bytes, long warmup, long count, Latencies* out) {
  int portPipe = -1;
  const pid_t echo = Spawn("tcp-echo", &portPipe, [bytes](int report) {
    unsigned port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0 || !SendValue(report, port)) return;
    const int fd = AcceptOne(listener, kStartupMs);
    close(listener);
    if (fd >= 0) Echo(fd, bytes);
  });
  if (echo < 0) return false;
  unsigned port = 0;
  const bool started = ReceiveValue(portPipe, port, kStartupMs);
  close(portPipe);
  bool ok = false;
  if (started) {
    const int fd = ConnectLoopback(port);
    if (fd >= 0) {
      ok = Drive(fd, bytes, warmup, count, out);
      close(fd);
    }
  }
  ReapChild(echo);
  return ok;
}

bool TcpRelayPingPong(std::size_t bytes, long warmup, long count, Latencies* out) {
  int relayPipe = -1;
  const pid_t relay = Spawn("tcp-relay", &relayPipe, [bytes](int report) {
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
  const pid_t echo = Spawn("tcp-echo", &echoPipe, [bytes, port](int report) {
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
