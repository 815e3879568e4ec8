// process_counters.hpp - what one process of a benchmark asks of the kernel
// and of the heap: a count of its system calls and of its allocations, so
// that a figure can say how many of each a round trip costs. Internal to
// bench/.
//
// Both are counted in the benchmark program itself, never in the libraries
// it measures: the program defines operator new, and the libc functions
// through which the agent, the platform loop and the TCP baselines reach the
// kernel (send, recv, epoll_wait, ...), each counting and then calling the
// real one, and liburing's calls that may enter the kernel (it makes its
// system calls itself; a call that finds what it waits for already in the
// rings is counted all the same, so these are at most one high). The
// dynamic linker binds the libraries' calls to the program's definitions. System calls that libc makes inside itself (malloc growing
// its heap, the vDSO clock) are not seen; none happens per message once the
// heap has grown. process_counters.cpp must be linked into the program
// itself, not into a shared library.
#pragma once

#include <cstdint>

namespace bench {

struct ProcessCounts {
  std::uint64_t syscalls = 0;
  std::uint64_t allocations = 0;
};

// The counts so far in this process (a forked child inherits its parent's).
ProcessCounts CurrentCounts();

// Per unit over an interval between two readings.
struct CountsPer {
  double syscalls = 0;
  double allocations = 0;
};

inline CountsPer Per(const ProcessCounts& before, const ProcessCounts& after, std::uint64_t units) {
  CountsPer out;
  if (units == 0) return out;
  out.syscalls = static_cast<double>(after.syscalls - before.syscalls) / static_cast<double>(units);
  out.allocations = static_cast<double>(after.allocations - before.allocations) / static_cast<double>(units);
  return out;
}

}  // namespace bench
