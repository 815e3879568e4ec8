// tcp_baseline.hpp - the plain-TCP floor that the agent's figures are set
// against: blocking loopback sockets with TCP_NODELAY, one process per end,
// no framing, no event loop, no copies beyond the kernel's. Internal to
// bench/.
//
// A second form of the ping-pong has each end wait in epoll_wait before it
// reads, as a program driven by an event loop must: the same system calls
// per message as the agent (wait, receive, send) and nothing else, the floor
// of any loop-driven end.
#pragma once

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

#include "bench_support.hpp"
#include "process_counters.hpp"

namespace bench {

// System calls and allocations per timed round trip at each end.
struct EndCounts {
  CountsPer measuring;
  CountsPer answering;
};

// Round trips of `bytes` each way between this process and a forked echo
// process: `warmup` untimed ones, then `count` timed one by one. With
// viaEpoll, both ends wait in epoll_wait before each receive. `counts`,
// when given, gets what each end asked of the kernel and the heap.
bool TcpPingPong(std::size_t bytes, long warmup, long count, Latencies* out, EndCounts* counts = nullptr,
                 bool viaEpoll = false);

// The same route a relayed agent message takes: this process, a forked
// relay that forwards each message, and a forked echo behind it (four
// loopback hops per round trip).
bool TcpRelayPingPong(std::size_t bytes, long warmup, long count, Latencies* out);

// Forks a child (named `name`) that runs body(pipeWriteEnd) and exits; returns its pid and
// the read end of its pipe.
template <typename Body>
pid_t SpawnChild(const char* name, int* readEnd, Body body) {
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

// Waits for a child this benchmark started, killing it if it has not ended
// within timeoutMs.
void ReapChild(pid_t pid, int timeoutMs = 5000);

}  // namespace bench
