#include "player_registry.hpp"

#include <algorithm>

namespace vossad {

const Player* PlayerRegistry::Add(Player player, ConnectionRef* displaced) {
  if (displaced != nullptr) *displaced = ConnectionRef{};
  if (const Player* old = Find(player.id)) {
    if (displaced != nullptr) *displaced = old->connection;
    Remove(old);
  }
  auto owned = std::make_unique<Player>(std::move(player));
  owned->serial = nextSerial_++;
  Player* raw = owned.get();
  slots_.push_back(Slot{raw->serial, std::move(owned)});
  byId_.emplace(std::string_view(raw->id), raw);
  return raw;
}

void PlayerRegistry::Remove(const Player* player) {
  if (player == nullptr) return;
  const std::size_t i = LowerBound(player->serial);
  if (i >= slots_.size() || slots_[i].player.get() != player) return;
  byId_.erase(std::string_view(player->id));
  slots_[i].player.reset();
  ++emptySlots_;
  if (emptySlots_ > 64 && emptySlots_ * 2 > slots_.size()) Compact();
}

void PlayerRegistry::SetInGame(const Player* player) {
  if (player == nullptr) return;
  if (Player* owned = FindOwned(player->id); owned == player) owned->inGame = true;
}

const Player* PlayerRegistry::Find(std::string_view id) const { return FindOwned(id); }

Player* PlayerRegistry::FindOwned(std::string_view id) const {
  const auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : it->second;
}

std::size_t PlayerRegistry::ScanFrom(std::uint64_t from, std::span<const Player*> out) const {
  std::size_t filled = 0;
  for (std::size_t i = LowerBound(from); i < slots_.size() && filled < out.size(); ++i) {
    if (const Player* player = slots_[i].player.get()) out[filled++] = player;
  }
  return filled;
}

std::size_t PlayerRegistry::LowerBound(std::uint64_t serial) const {
  const auto it = std::lower_bound(slots_.begin(), slots_.end(), serial,
                                   [](const Slot& slot, std::uint64_t s) { return slot.serial < s; });
  return static_cast<std::size_t>(it - slots_.begin());
}

void PlayerRegistry::Compact() {
  std::erase_if(slots_, [](const Slot& slot) { return slot.player == nullptr; });
  emptySlots_ = 0;
  if (slots_.capacity() > 2 * slots_.size() + 64) slots_.shrink_to_fit();
}

}  // namespace vossad
