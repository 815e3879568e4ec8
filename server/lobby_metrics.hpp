// lobby_metrics.hpp - what the lobby server counts about itself, for the
// HTTP side to show (internal to vossad).
//
// The lobby loop updates these with relaxed atomic operations only; the
// HTTP threads read them whenever they like. Nothing here points into the
// lobby's own state. The players per application are the one thing that is
// not a number: the loop publishes a copy of them (PublishApplications, at
// most once per tick) under a mutex that only that copy and its readers
// take.
//
// The fleet's store code sets the store part: storeConfigured once at start,
// then storeUp, fleetInstances and replicationLagSeconds as it learns them.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "server_log.hpp"

namespace vossad {

using Counter = std::atomic<std::uint64_t>;

inline void Increment(Counter& counter, std::uint64_t by = 1) { counter.fetch_add(by, std::memory_order_relaxed); }

// A latency histogram of fixed buckets, each an atomic count.
class LatencyHistogram {
 public:
  // Upper bounds in seconds; a last, unbounded bucket follows.
  static constexpr std::array<double, 12> kBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01,  0.025,
                                                     0.05,   0.1,   0.25,   0.5,   1.0,   2.5};

  void Observe(std::chrono::nanoseconds elapsed);

  struct Snapshot {
    std::array<std::uint64_t, kBounds.size() + 1> buckets{};  // not cumulative
    std::uint64_t count = 0;
    double sumSeconds = 0;
  };
  Snapshot Read() const;

 private:
  std::array<Counter, kBounds.size() + 1> buckets_{};
  Counter sumNanoseconds_{0};
};

// Why a connection was turned away before it was taken on.
enum class RefusalCause { kServerFull, kPerAddress };
inline constexpr std::size_t kRefusalCauses = 2;
const char* RefusalCauseLabel(RefusalCause cause);

inline constexpr std::size_t kDropReasons = static_cast<std::size_t>(DropReason::kNoPingAnswer) + 1;
// The reason as a metric label: short, lower case, no blanks.
const char* DropReasonLabel(DropReason reason);

struct LobbyMetrics {
  // The server accepts connections (set once listening, cleared on stop).
  std::atomic<bool> listening{false};
  std::atomic<std::int64_t> openConnections{0};
  std::atomic<std::int64_t> players{0};
  Counter registrations{0};
  Counter removals{0};
  Counter queries{0};
  LatencyHistogram queryLatency;
  std::array<Counter, kRefusalCauses> refused{};
  std::array<Counter, kDropReasons> dropped{};
  Counter logLinesSummarised{0};
  Counter probeRequests{0};      // CPIN lines naming a registered player
  Counter probeRequestsSent{0};  // the PINGs they brought about

  // The fleet's store; none of it is shown while storeConfigured is false.
  std::atomic<bool> storeConfigured{false};
  std::atomic<bool> storeUp{false};
  std::atomic<std::uint64_t> fleetInstances{0};
  std::atomic<double> replicationLagSeconds{0};

  void Refused(RefusalCause cause) { Increment(refused[static_cast<std::size_t>(cause)]); }
  void Dropped(DropReason reason) { Increment(dropped[static_cast<std::size_t>(reason)]); }

  // Players per application, most first.
  using Applications = std::vector<std::pair<std::string, std::size_t>>;
  void PublishApplications(Applications applications);
  Applications applications() const;

 private:
  mutable std::mutex applicationsMutex_;
  Applications applications_;
};

}  // namespace vossad
