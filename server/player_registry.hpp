// player_registry.hpp - the players registered with this lobby server, held
// in its memory (internal to vossad): the Registry the server runs on when
// it shares its list with no one.
//
// Order is a vector of slots sorted by registration number. Removing a player
// leaves an empty slot behind (O(log n) to find it); slots are compacted once
// more than half of them are empty, which keeps the numbers, so cursors stay
// valid.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry.hpp"

namespace vossad {

class PlayerRegistry final : public Registry {
 public:
  PlayerRegistry() = default;
  PlayerRegistry(const PlayerRegistry&) = delete;
  PlayerRegistry& operator=(const PlayerRegistry&) = delete;

  const Player* Add(Player player, ConnectionRef* displaced = nullptr) override;
  void Remove(const Player* player) override;
  void SetInGame(const Player* player) override;
  const Player* Find(std::string_view id) const override;
  std::size_t size() const override { return byId_.size(); }
  std::size_t ScanFrom(std::uint64_t from, std::span<const Player*> out) const override;

 private:
  struct Slot {
    std::uint64_t serial;
    std::unique_ptr<Player> player;  // empty once removed
  };

  std::size_t LowerBound(std::uint64_t serial) const;
  Player* FindOwned(std::string_view id) const;
  void Compact();

  std::vector<Slot> slots_;
  std::size_t emptySlots_ = 0;
  std::uint64_t nextSerial_ = 1;
  // Keys point into the players' own id strings.
  std::unordered_map<std::string_view, Player*> byId_;
};

}  // namespace vossad
