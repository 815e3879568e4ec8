// api_floor.hpp - the least any agent can do per user message and still
// speak the agents' wire and offer the client API's shape: the floor that
// the agent's own round trip is set against, beside plain TCP and the
// epoll-waiting ping-pong. Internal to bench/.
//
// Each end is a loop over a non-blocking socket and an eventfd (for work
// posted from other threads) that waits in epoll_wait, receives, and takes
// whole frames from its receive buffer: the signature, the close marker,
// the length prefix and its bound checked as the agents' reader checks
// them. A line is split into its command, its id and its message, each read
// to at most 499 characters; the owner checks that the target is its own
// end of the connection (or, relaying, the other member's id, and sends the
// message on as OWNS without its client). The message is copied into a ring of fixed records
// (the queue), a notification is posted to the "window" and delivered by
// the same turn of the loop, whose handler reads records until the queue is
// empty (the second read answering "no message"), copying each into the
// caller's buffers, and answers: the reply line (PLRS from the member, OWNS
// from the owner) is built behind its frame header and sent with one send.
// The measuring end also checks that the answer is the message it sent, as
// the agent benchmark's client does.
//
// What it leaves out is what a library needs beyond the least: locks for
// callers on other threads, several sessions and connections, timers,
// member tables, and the checks of the other commands. No figure it gives
// can be beaten by an agent that keeps the wire and the API.
#pragma once

#include <cstddef>

#include "bench_support.hpp"

namespace bench {

// Round trips of a `messageBytes`-character user message between this
// process (the member, measuring) and a forked owner: `warmup` untimed,
// then `count` timed one by one. *wireBytes gets the size of one frame.
bool ApiFloorPingPong(std::size_t messageBytes, long warmup, long count, Latencies* out,
                      std::size_t* wireBytes = nullptr);

// The relay: this process (a member, measuring) sends a forked member's id
// a message through a forked owner, which relays it (PLRS in, OWNS out,
// without its client); that member answers the same way back.
bool ApiFloorRelayPingPong(std::size_t messageBytes, long warmup, long count, Latencies* out,
                           std::size_t* wireBytes = nullptr);

}  // namespace bench
