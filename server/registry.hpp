// registry.hpp - the seam between the lobby server and the players it lists
// (internal to vossad). The server registers, removes, marks and finds
// players, and answers queries by scanning them in registration order,
// only through this interface; the in-memory PlayerRegistry is the one
// behind it today.
//
// Queries are answered a slice at a time, and players come and go between
// slices, so a running query keeps its place as a registration number (a
// cursor), never as a pointer or an index: a player removed meanwhile is
// simply not met again, one added meanwhile is met at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "filter.hpp"

namespace vossad {

// The connection that owns a registration: its descriptor and the serial
// that tells it from a later connection on the same descriptor. The default
// value names no connection of this server, as for a player whose
// connection is owned elsewhere.
struct ConnectionRef {
  int descriptor = -1;
  std::uint64_t serial = 0;
  bool operator==(const ConnectionRef&) const = default;
};

struct Player {
  std::string id;  // "address:port" of the agent's listener
  std::string app;
  std::string own;
  Description description;
  ConnectionRef connection;
  bool inGame = false;
  std::uint64_t serial = 0;  // registration number, set by the registry
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Adds the player after every other one. A player already registered
  // under the same id is removed first; its connection is stored in
  // *displaced (else the default reference is).
  virtual const Player* Add(Player player, ConnectionRef* displaced = nullptr) = 0;
  // Forgets the player; the pointer is invalid afterwards.
  virtual void Remove(const Player* player) = 0;
  // The player is in a game and no longer listed.
  virtual void SetInGame(const Player* player) = 0;
  virtual const Player* Find(std::string_view id) const = 0;
  virtual std::size_t size() const = 0;
  // Fills `out` with the players whose registration number is `from` or
  // higher, in registration order, and returns how many. Fewer than
  // out.size(): there are no more. The pointers stay valid until a player
  // is removed.
  virtual std::size_t ScanFrom(std::uint64_t from, std::span<const Player*> out) const = 0;
};

}  // namespace vossad
