// rate_limits.hpp - the lobby server's two rate limits (internal to vossad):
// a token bucket per connection for the lines it may send, and the log's
// limiter, which lets a burst of lines of one kind about one address through
// and then counts the rest into one summary line, so that nobody can fill a
// disk through the log.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace vossad {

using Clock = std::chrono::steady_clock;

// `rate` tokens a second, at most `burst` saved up; starts full.
class TokenBucket {
 public:
  TokenBucket(double rate, double burst, Clock::time_point now)
      : rate_(rate), burst_(burst), tokens_(burst), refilled_(now) {}
  // Takes one token; false when there is none.
  bool Take(Clock::time_point now);
  // Whether a token could be taken now (nothing is taken).
  bool HasToken(Clock::time_point now);
  bool IsFull(Clock::time_point now);

 private:
  void Refill(Clock::time_point now);

  double rate_;
  double burst_;
  double tokens_;
  Clock::time_point refilled_;
};

class LogLimiter {
 public:
  struct Settings {
    // Per kind of line and address: far above what one player causes (a
    // registration, a query every few seconds, a removal).
    double linesPerSecond = 5;
    double burst = 50;
    // Kinds x addresses remembered; beyond it, all further ones share one
    // bucket.
    std::size_t maxEntries = 4096;
  };

  LogLimiter() : LogLimiter(Settings{}) {}
  explicit LogLimiter(Settings settings) : settings_(settings) {}

  // Whether a line of `kind` (its format) about `source` (an IPv4 address;
  // 0 for the server's own lines) may be written now. When not, it is
  // counted, and the first one kept as the example for the summary.
  bool Admit(std::uint32_t source, const void* kind, Clock::time_point now, const std::string& line);

  // Calls write(source, count, example) once for every kind whose lines were
  // held back and which may be logged again, then forgets the count; drops
  // what there is nothing left to remember about.
  void Summarise(Clock::time_point now,
                 const std::function<void(std::uint32_t source, std::size_t count, const std::string& example)>& write);

  std::size_t entries() const { return entries_.size(); }

 private:
  struct Entry {
    TokenBucket bucket;
    std::size_t held = 0;
    std::string example;
  };
  using Key = std::pair<std::uint32_t, const void*>;

  Settings settings_;
  std::map<Key, Entry> entries_;
};

}  // namespace vossad
