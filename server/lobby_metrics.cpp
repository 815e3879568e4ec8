// The lobby's own figures: the histogram's buckets, the label texts and the
// published copy of the players per application.
#include "lobby_metrics.hpp"

#include <algorithm>

namespace vossad {

void LatencyHistogram::Observe(std::chrono::nanoseconds elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  const auto bucket = std::lower_bound(kBounds.begin(), kBounds.end(), seconds) - kBounds.begin();
  Increment(buckets_[static_cast<std::size_t>(bucket)]);
  Increment(sumNanoseconds_, static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed.count(), 0)));
}

LatencyHistogram::Snapshot LatencyHistogram::Read() const {
  Snapshot s;
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    s.buckets[i] = buckets_[i].load(std::memory_order_relaxed);
    s.count += s.buckets[i];
  }
  s.sumSeconds = static_cast<double>(sumNanoseconds_.load(std::memory_order_relaxed)) / 1e9;
  return s;
}

const char* RefusalCauseLabel(RefusalCause cause) {
  return cause == RefusalCause::kServerFull ? "server_full" : "per_address_cap";
}

const char* DropReasonLabel(DropReason reason) {
  switch (reason) {
    case DropReason::kLeft:
      return "left";
    case DropReason::kClosedByAgent:
      return "closed_by_agent";
    case DropReason::kConnectionLost:
      return "connection_lost";
    case DropReason::kSendFailed:
      return "send_failed";
    case DropReason::kNotReading:
      return "not_reading";
    case DropReason::kBadSignature:
      return "bad_signature";
    case DropReason::kFrameTooLong:
      return "frame_too_long";
    case DropReason::kLineFlood:
      return "line_rate";
    case DropReason::kFrameStalled:
      return "frame_deadline";
    case DropReason::kNoPingAnswer:
      return "probe_not_answered";
  }
  return "unknown";
}

void LobbyMetrics::PublishApplications(Applications applications) {
  const std::lock_guard<std::mutex> lock(applicationsMutex_);
  applications_.swap(applications);
}

LobbyMetrics::Applications LobbyMetrics::applications() const {
  const std::lock_guard<std::mutex> lock(applicationsMutex_);
  return applications_;
}

}  // namespace vossad
