// refusals.hpp - turning a connection away so that its agent hears why
// (internal to vossad).
//
// An agent sends its registration as soon as it has connected, without
// waiting for an answer. A connection the server refuses (full, or too many
// from one address) and closes at once may get that registration after the
// close, and the agent then finds its connection reset before it could read
// why. So a refused connection is sent one "BUSY <reason>" line, its sending
// side is shut, and what the agent still sends is read and dropped until it
// closes or kLinger has passed. At most kMaxHeld connections are held so;
// beyond that one is closed right after its BUSY, so that refusals cannot be
// used to run the server out of descriptors.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/loop.hpp"
#include "rate_limits.hpp"

namespace vossad {

class Refusals {
 public:
  static constexpr std::chrono::seconds kLinger{5};
  static constexpr std::size_t kMaxHeld = 256;

  Refusals() = default;
  ~Refusals() { CloseAll(); }
  Refusals(const Refusals&) = delete;
  Refusals& operator=(const Refusals&) = delete;

  // Takes over fd, a connection just accepted: sends "BUSY <reason>" and
  // closes it once the agent has gone.
  void Refuse(int fd, std::string_view reason, Clock::time_point now);
  // Closes those held past their time; called from the server's tick.
  void Expire(Clock::time_point now);
  void CloseAll();
  std::size_t held() const { return held_.size(); }

 private:
  struct Held {
    int fd;
    platform::WatchId watch;
    Clock::time_point until;
  };
  void Drain(int fd);
  void Release(std::size_t index);

  std::vector<Held> held_;
};

}  // namespace vossad
