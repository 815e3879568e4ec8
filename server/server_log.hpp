// server_log.hpp - the lobby server's log, usable from every module of the
// server (internal to vossad): one line per thing that happens, on standard
// error, stamped with the local time, and why a connection was dropped.
//
// Lines of one kind (their format) about one address are written up to a
// burst and then counted into one summary line (rate_limits.hpp), so that
// nobody can fill a disk through the log.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "rate_limits.hpp"

namespace vossad {

// Why the server dropped a connection it had accepted.
enum class DropReason {
  kLeft,           // LEAV
  kClosedByAgent,  // the agent ended the stream
  kConnectionLost,
  kSendFailed,
  kNotReading,     // output piled up past the cap
  kBadSignature,
  kFrameTooLong,
  kLineFlood,      // more lines than the token bucket holds
  kFrameStalled,   // a frame not complete within the ping timeout
  kNoPingAnswer,
  kTakenElsewhere,  // another instance of the fleet took its id
};

// The reason as the log says it.
const char* DropReasonText(DropReason reason);
// Whether the drop is the peer's fault (or its connection's), worth a line
// even when no player was registered on it.
bool IsFault(DropReason reason);

// A dotted IPv4 address.
std::string AddressText(in_addr address);
// The same followed by the separator and a port: "10.0.0.1:2001" (a
// player's id), "10.0.0.1/40000" (a peer before it registered).
std::string AddressText(in_addr address, char separator, std::uint16_t port);
// Text from the network as it may appear in the log: one line, no control
// characters, at most `max` characters and an ellipsis.
std::string Printable(std::string_view text, std::size_t max = 64);

class ServerLog {
 public:
  explicit ServerLog(bool quiet) : quiet_(quiet) {}
  ServerLog(const ServerLog&) = delete;
  ServerLog& operator=(const ServerLog&) = delete;

  // Nothing is written: a caller may skip building a line's arguments.
  bool quiet() const { return quiet_; }
  // One line about `source` (an address in network order; 0 for the server
  // itself) and `who` (a player id, an address/port or "-").
  void Write(std::uint32_t source, const std::string& who, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // One summary line for each kind of line that was held back and may be
  // logged again. Returns how many lines those summaries stand for.
  std::size_t Summarise(Clock::time_point now);

 private:
  void WriteLine(const std::string& who, const char* message);

  bool quiet_;
  LogLimiter limiter_;
  std::time_t stampSecond_ = -1;
  char stampPrefix_[32] = "";
};

}  // namespace vossad
