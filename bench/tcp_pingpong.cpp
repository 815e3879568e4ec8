// The floor for a message between two processes on this machine: a plain
// TCP ping-pong over loopback with blocking sockets and TCP_NODELAY. Prints
// round trips per second and the median and 99th percentile latency, once
// directly and once through a relay process (the route of a message that
// one member sends another through its owner). Both ends run on one CPU
// unless --spread is given, as in agent_roundtrip.
//
//   tcp_pingpong [--bytes N] [--count N] [--warmup N] [--spread]
#include <cstdio>
#include <cstring>

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
  bench::Latencies direct, relayed;
  if (!bench::TcpPingPong(size, warmup, count, &direct) ||
      !bench::TcpRelayPingPong(size, warmup, count, &relayed)) {
    std::fprintf(stderr, "tcp_pingpong: a peer process failed\n");
    return 1;
  }
  for (const auto& [name, l] : {std::pair{"direct", direct}, std::pair{"relayed", relayed}}) {
    std::printf("tcp ping-pong %s, %ld bytes each way: %s round trips/s, median %s us, p99 %s us\n",
                name, bytes, bench::Num(l.rate).c_str(), bench::Num(l.median).c_str(),
                bench::Num(l.p99).c_str());
  }
  return 0;
}
