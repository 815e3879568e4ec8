#include "worked_answer.hpp"

#include <vector>

namespace bench {
namespace {

constexpr int kStartupMs = 10000;

// Waits for input (bounded), then takes the whole of n bytes.
bool AwaitAndReceive(int fd, char* p, std::size_t n) {
  pollfd ready{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&ready, 1, kSocketTimeoutSeconds * 1000);
  } while (r < 0 && errno == EINTR);
  return r == 1 && RecvFull(fd, p, n);
}

void Compute(double micros) {
  const auto done = Clock::now() + std::chrono::duration<double, std::micro>(micros);
  while (Clock::now() < done) {
  }
}

}  // namespace

bool TcpWorkedRequests(std::size_t bytes, double workMicros, long warmup, long count, Latencies* out) {
  int pipeEnd = -1;
  const pid_t worker = SpawnChild("tcp-worker", &pipeEnd, [=](int report) {
    const int fd = AcceptOneReported(report, kStartupMs);
    if (fd < 0) return;
    std::vector<char> buffer(bytes);
    while (AwaitAndReceive(fd, buffer.data(), bytes)) {
      Compute(workMicros);
      if (!SendFull(fd, buffer.data(), bytes)) break;
    }
    close(fd);
  });
  if (worker < 0) return false;
  unsigned port = 0;
  bool ok = ReceiveValue(pipeEnd, port, kStartupMs);
  const int fd = ok ? ConnectLoopback(port) : -1;
  ok = fd >= 0;
  std::vector<char> request(bytes, 'q');
  std::vector<char> answer(bytes);
  const auto ask = [&] {
    return SendFull(fd, request.data(), bytes) && AwaitAndReceive(fd, answer.data(), bytes);
  };
  for (long i = 0; i < warmup && ok; ++i) ok = ask();
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  const auto start = Clock::now();
  for (long i = 0; i < count && ok; ++i) {
    const auto sent = Clock::now();
    ok = ask();
    micros.push_back(MicrosSince(sent));
  }
  if (ok) *out = Summarize(std::move(micros), SecondsSince(start));
  if (fd >= 0) close(fd);
  close(pipeEnd);
  ReapChild(worker);
  return ok;
}

}  // namespace bench
