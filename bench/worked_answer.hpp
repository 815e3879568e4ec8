// worked_answer.hpp - the plain-TCP request and answer that a server's query
// latency is set against: a forked process that answers each request after
// a given time of computing, both ends waiting in poll before they read. It
// is a query's work with no server around it, so what the two processes'
// placement on the CPUs adds shows in it alone. Internal to bench/.
#pragma once

#include <cstddef>

#include "bench_support.hpp"

namespace bench {

// `warmup` untimed requests, then `count` timed one by one, of `bytes` each
// way.
bool TcpWorkedRequests(std::size_t bytes, double workMicros, long warmup, long count, Latencies* out);

}  // namespace bench
