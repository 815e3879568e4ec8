// tcp_baseline.hpp - the plain-TCP floor that the agent's figures are set
// against: blocking loopback sockets with TCP_NODELAY, one process per end,
// no framing, no event loop, no copies beyond the kernel's. Internal to
// bench/.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "bench_support.hpp"

namespace bench {

// Round trips of `bytes` each way between this process and a forked echo
// process: `warmup` untimed ones, then `count` timed one by one.
bool TcpPingPong(std::size_t bytes, long warmup, long count, Latencies* out);

// The same route a relayed agent message takes: this process, a forked
// relay that forwards each message, and a forked echo behind it (four
// loopback hops per round trip).
bool TcpRelayPingPong(std::size_t bytes, long warmup, long count, Latencies* out);

// Waits for a child this benchmark started, killing it if it has not ended
// within timeoutMs.
void ReapChild(pid_t pid, int timeoutMs = 5000);

}  // namespace bench
