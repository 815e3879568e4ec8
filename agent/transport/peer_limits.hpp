// peer_limits.hpp - how much other agents can make one agent hold, and for
// how long (internal to the zep library). Every number here is far above
// what agents of this system ever need; each bounds what a hostile peer can
// take. docs/limits.md lists them with what happens at each.
#pragma once

#include <chrono>
#include <cstddef>

#include "msg.hpp"

namespace zep {

// Lines between agents are short: a request text, an id and a message are
// each read to 499 characters at most, so no line that means anything comes
// near this. A longer frame closes its connection before its text arrives.
inline constexpr std::size_t kMaxAgentFrameText = 8 * 1024;
// What one agent connection may hold of received bytes not yet taken as
// lines: always room for one whole frame of the largest size, so a full
// buffer still holds a line to hand on.
inline constexpr std::size_t kMaxAgentInputBytes = 2 * (kMaxAgentFrameText + kMaxFrameHeader);

struct PeerLimits {
  // A two-player game needs a handful; the listener closes a connection
  // over this at once. With kMaxAgentInputBytes it bounds what all peers
  // together can make the agent hold (256 x 16 KiB).
  std::size_t maxConnections = 256;
  // How long a frame may take from its first byte to its last, and an
  // accepted connection to deliver its first line. Agents write each line
  // with one send, so only a stalled or hostile peer ever comes near it.
  std::chrono::milliseconds frameDeadline{30000};
  // "CPIN" (an agent could not be reached) is sent to the server at most
  // once per player id in this time: the server's own probe interval.
  std::chrono::milliseconds unreachableReportInterval{30000};
};

// Join requests waiting for the client's answer that one address may hold:
// counted once by the address the JOIN connection came from and once by
// the address in the requester's player id, each against this cap. A
// household behind one address has a few players; without this one host
// could take every place of kMaxPendingRequests (player_table.hpp) and have
// every other player's request refused. A JOIN over it is refused at once,
// as at the overall cap.
inline constexpr std::size_t kMaxPendingPerAddress = 4;

// Ids remembered for the CPIN interval; a flood of unreachable ids beyond
// this within one interval is not worth telling the server about.
inline constexpr std::size_t kMaxUnreachableReports = 1024;

}  // namespace zep
