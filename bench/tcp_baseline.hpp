// tcp_baseline.hpp - the plain-TCP floor that the agent's figures are set
// against: blocking loopback sockets with TCP_NODELAY, one process per end,
// no framing, no event loop, no copies beyond the kernel's. Internal to
// bench/.
//
// A second form of the ping-pong has each end wait in epoll_wait before it
// reads, as a program driven by an event loop must: the same system calls
// per message as the agent (wait, receive, send) and nothing else, the floor
// of any loop-driven end. A third form waits in io_uring_enter with the
// receive already posted (ring_receiver.hpp): the same loop-driven wait, with
// the receive done by the kernel before the wait returns.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "bench_support.hpp"
#include "process_counters.hpp"

namespace bench {

// How each end of a ping-pong waits for the next message.
enum class Wait {
  kInReceive,  // a blocking recv
  kEpoll,      // epoll_wait, then recv
  kRing,       // io_uring_enter, the bytes already received
};

// System calls and allocations per timed round trip at each end.
struct EndCounts {
  CountsPer measuring;
  CountsPer answering;
};

// Round trips of `bytes` each way between this process and a forked echo
// process: `warmup` untimed ones, then `count` timed one by one. With
// `wait` says how both ends wait. `counts`, when given, gets what each end
// asked of the kernel (through libc: io_uring_enter is not seen) and the heap.
bool TcpPingPong(std::size_t bytes, long warmup, long count, Latencies* out, EndCounts* counts = nullptr,
                 Wait wait = Wait::kInReceive);

// The same route a relayed agent message takes: this process, a forked
// relay that forwards each message, and a forked echo behind it (four
// loopback hops per round trip).
bool TcpRelayPingPong(std::size_t bytes, long warmup, long count, Latencies* out);

}  // namespace bench
