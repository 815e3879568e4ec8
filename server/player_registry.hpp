// player_registry.hpp - the players registered with the lobby server, in
// registration order, found by player id. Internal to the lobby server.
//
// Queries are answered a slice at a time, and players come and go between
// slices, so a running query keeps its place as a registration number (a
// cursor), never as a pointer or an index: a player removed meanwhile is
// simply not met again, one added meanwhile is met at the end.
//
// Order is a vector of slots sorted by registration number. Removing a player
// leaves an empty slot behind (O(log n) to find it); slots are compacted once
// more than half of them are empty, which keeps the numbers, so cursors stay
// valid.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "filter.hpp"

namespace vossad {

struct Player {
  std::string id;  // "address:port" of the agent's listener
  std::string app;
  std::string own;
  Description description;
  int connection = -1;  // the owning connection, as the server names it
  bool inGame = false;
  std::uint64_t serial = 0;  // registration number, set by the registry
};

class PlayerRegistry {
 public:
  PlayerRegistry() = default;
  PlayerRegistry(const PlayerRegistry&) = delete;
  PlayerRegistry& operator=(const PlayerRegistry&) = delete;

  // Adds the player after every other one. A player already registered under
  // the same id is removed first; its connection is stored in *displaced
  // (else -1 is).
  Player* Add(Player player, int* displaced = nullptr);
  // Forgets the player; the pointer is invalid afterwards.
  void Remove(const Player* player);
  Player* Find(std::string_view id) const;
  std::size_t size() const { return byId_.size(); }

  // Calls visit(const Player&) for each player whose registration number is
  // at least *cursor, in registration order, advancing *cursor past each one
  // visited, until visit returns false (that player counts as visited).
  template <typename Visit>
  void ScanFrom(std::uint64_t* cursor, Visit&& visit) const {
    for (std::size_t i = LowerBound(*cursor); i < slots_.size(); ++i) {
      const Player* player = slots_[i].player.get();
      if (player == nullptr) continue;
      *cursor = slots_[i].serial + 1;
      if (!visit(*player)) return;
    }
    *cursor = nextSerial_;
  }

 private:
  struct Slot {
    std::uint64_t serial;
    std::unique_ptr<Player> player;  // empty once removed
  };

  std::size_t LowerBound(std::uint64_t serial) const;
  void Compact();

  std::vector<Slot> slots_;
  std::size_t emptySlots_ = 0;
  std::uint64_t nextSerial_ = 1;
  // Keys point into the players' own id strings.
  std::unordered_map<std::string_view, Player*> byId_;
};

}  // namespace vossad
