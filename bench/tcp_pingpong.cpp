// The floor for a message between two processes on this machine: a plain
// TCP ping-pong over loopback with blocking sockets and TCP_NODELAY. Prints
// round trips per second and the median and 99th percentile latency, once
// directly and once through a relay process (the route of a message that
// one member sends another through its owner), then directly with both ends
// waiting as a loop-driven end must: in epoll_wait, and in io_uring_enter
// with the receive posted (where io_uring is allowed). Both ends run on one
// CPU unless --spread is given, as in agent_roundtrip.
//
//   tcp_pingpong [--bytes N] [--count N] [--warmup N] [--spread]
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ring_receiver.hpp"
#include "tcp_baseline.hpp"

int main(int argc, char** argv) {
  long bytes = 96, count = 20000, warmup = 2000;
  bool spread = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--spread") == 0) {
      spread = true;
      continue;
    }
    if (bench::ParseCountOption(argc, argv, &i, "--bytes", &bytes) ||
        bench::ParseCountOption(argc, argv, &i, "--count", &count) ||
        bench::ParseCountOption(argc, argv, &i, "--warmup", &warmup))
      continue;
    std::fprintf(stderr, "usage: tcp_pingpong [--bytes N] [--count N] [--warmup N] [--spread]\n");
    return 2;
  }
  if (!spread) bench::PinToOneCpu();
  const auto size = static_cast<std::size_t>(bytes);
  bench::Latencies direct, relayed, viaEpoll, viaRing;
  std::string noRing;
  bool ring = bench::RingReceiver::Available(&noRing);
  if (!bench::TcpPingPong(size, warmup, count, &direct) ||
      !bench::TcpRelayPingPong(size, warmup, count, &relayed) ||
      !bench::TcpPingPong(size, warmup, count, &viaEpoll, nullptr, bench::Wait::kEpoll)) {
    std::fprintf(stderr, "tcp_pingpong: a peer process failed\n");
    return 1;
  }
  // Multishot receives need Linux 6.0.
  if (ring && !bench::TcpPingPong(size, warmup, count, &viaRing, nullptr, bench::Wait::kRing)) {
    ring = false;
    noRing = "its ping-pong failed";
  }
  if (!ring) std::fprintf(stderr, "tcp_pingpong: no io_uring here (%s)\n", noRing.c_str());
  std::vector<std::pair<const char*, bench::Latencies>> runs = {
      {"direct", direct}, {"relayed", relayed}, {"waiting in epoll_wait", viaEpoll}};
  if (ring) runs.emplace_back("waiting in io_uring_enter", viaRing);
  for (const auto& [name, l] : runs) {
    std::printf("tcp ping-pong %s, %ld bytes each way: %s round trips/s, median %s us, p99 %s us\n",
                name, bytes, bench::Num(l.rate).c_str(), bench::Num(l.median).c_str(),
                bench::Num(l.p99).c_str());
  }
  return 0;
}
