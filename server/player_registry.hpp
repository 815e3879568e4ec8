// player_registry.hpp - the players registered with this lobby server, held
// in its memory (internal to vossad): the Registry the server runs on when
// it shares its list with no one.
//
// Players are numbered in the order they register and kept in that order
// (serial_order.hpp), found by id through an open-addressing table
// (id_index.hpp).
#pragma once

#include <cstdint>
#include <string_view>

#include "id_index.hpp"
#include "registry.hpp"
#include "serial_order.hpp"

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
  Player* FindOwned(std::string_view id) const;
  static std::string_view IdOf(const Player& player) { return player.id; }

  SerialOrder<Player> order_;
  std::uint64_t nextSerial_ = 1;
  IdIndex<Player, &PlayerRegistry::IdOf> byId_;
};

}  // namespace vossad
