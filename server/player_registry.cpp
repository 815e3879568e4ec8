#include "player_registry.hpp"

namespace vossad {

const Player* PlayerRegistry::Add(Player player, ConnectionRef* displaced) {
  if (displaced != nullptr) *displaced = ConnectionRef{};
  // One hash for the look-up and the insertion.
  const std::uint64_t hash = byId_.Hash(player.id);
  if (const Player* old = byId_.Find(player.id, hash)) {
    if (displaced != nullptr) *displaced = old->connection;
    Remove(old);
  }
  player.serial = nextSerial_++;
  const std::uint64_t serial = player.serial;
  Player* raw = order_.Insert(serial, std::make_unique<Player>(std::move(player)));
  byId_.Insert(raw, hash);
  return raw;
}

void PlayerRegistry::Remove(const Player* player) {
  if (player == nullptr) return;
  // Freed once its id is out of the index.
  const std::unique_ptr<Player> owned = order_.Take(player->serial, player);
  if (owned) byId_.Erase(owned->id);
}

void PlayerRegistry::SetInGame(const Player* player) {
  if (player == nullptr) return;
  if (Player* owned = FindOwned(player->id); owned == player) owned->inGame = true;
}

const Player* PlayerRegistry::Find(std::string_view id) const { return FindOwned(id); }

Player* PlayerRegistry::FindOwned(std::string_view id) const {
  return byId_.Find(id);
}

std::size_t PlayerRegistry::ScanFrom(std::uint64_t from, std::span<const Player*> out) const {
  return order_.Scan(from, out, [](const Player& player) { return &player; });
}

}  // namespace vossad
