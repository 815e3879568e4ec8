// Counting registrations and removals on their way into the registry.
#include "counted_registry.hpp"

#include <algorithm>

namespace vossad {

const Player* CountedRegistry::Add(Player player, ConnectionRef* displaced) {
  // A player under the same id is replaced: it counts as removed.
  if (const Player* held = inner_->Find(player.id)) {
    Count(held->app, -1);
    Increment(metrics_.removals);
  }
  const Player* added = inner_->Add(std::move(player), displaced);
  Count(added->app, +1);
  Increment(metrics_.registrations);
  metrics_.players.store(static_cast<std::int64_t>(inner_->size()), std::memory_order_relaxed);
  return added;
}

void CountedRegistry::Remove(const Player* player) {
  Count(player->app, -1);
  Increment(metrics_.removals);
  inner_->Remove(player);
  metrics_.players.store(static_cast<std::int64_t>(inner_->size()), std::memory_order_relaxed);
}

void CountedRegistry::Count(const std::string& app, int by) {
  changed_ = true;
  if (by > 0) {
    ++perApplication_[app];
    return;
  }
  const auto it = perApplication_.find(app);
  if (it == perApplication_.end()) return;
  if (--it->second == 0) perApplication_.erase(it);
}

void CountedRegistry::Publish() {
  if (!changed_) return;
  changed_ = false;
  LobbyMetrics::Applications top(perApplication_.begin(), perApplication_.end());
  const std::size_t kept = std::min(top.size(), kMaxPublishedApplications);
  const auto byPlayers = [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  };
  std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(kept), top.end(), byPlayers);
  top.resize(kept);
  metrics_.PublishApplications(std::move(top));
}

}  // namespace vossad
