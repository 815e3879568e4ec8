#include "rate_limits.hpp"

#include <algorithm>

namespace vossad {

void TokenBucket::Refill(Clock::time_point now) {
  if (now <= refilled_) return;
  const double seconds = std::chrono::duration<double>(now - refilled_).count();
  tokens_ = std::min(burst_, tokens_ + seconds * rate_);
  refilled_ = now;
}

bool TokenBucket::Take(Clock::time_point now) {
  Refill(now);
  if (tokens_ < 1) return false;
  tokens_ -= 1;
  return true;
}

bool TokenBucket::HasToken(Clock::time_point now) {
  Refill(now);
  return tokens_ >= 1;
}

bool TokenBucket::IsFull(Clock::time_point now) {
  Refill(now);
  return tokens_ >= burst_;
}

bool LogLimiter::Admit(std::uint32_t source, const void* kind, Clock::time_point now, const std::string& line) {
  Key key{source, kind};
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    // Beyond the bound every new kind and address shares one bucket, so
    // that many addresses cannot grow this map either.
    if (entries_.size() >= settings_.maxEntries) key = Key{0xFFFFFFFFu, nullptr};
    it = entries_.try_emplace(key, Entry{TokenBucket(settings_.linesPerSecond, settings_.burst, now), 0, {}}).first;
  }
  Entry& entry = it->second;
  if (entry.held == 0 && entry.bucket.Take(now)) return true;
  // While lines are held back the summary comes first; it takes the token.
  if (entry.held++ == 0) entry.example = line;
  return false;
}

void LogLimiter::Summarise(
    Clock::time_point now,
    const std::function<void(std::uint32_t source, std::size_t count, const std::string& example)>& write) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    Entry& entry = it->second;
    if (entry.held > 0 && entry.bucket.Take(now)) {
      write(it->first.first, entry.held, entry.example);
      entry.held = 0;
      entry.example.clear();
    }
    // A full bucket with nothing held is what a new entry would be.
    if (entry.held == 0 && entry.bucket.IsFull(now)) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace vossad
