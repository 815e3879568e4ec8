// registry.hpp - the seam between the lobby server and the players it lists
// (internal to vossad). The server registers, removes, marks and finds
// players, and answers queries by scanning them in registration order,
// only through this interface. The in-memory PlayerRegistry is the one
// behind it for a server on its own, the FleetRegistry (fleet/) for one of
// several instances sharing their list through a store.
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
#include <vector>

#include "filter.hpp"
#include "line_aligned.hpp"
#include "record_pool.hpp"

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

// What a query's scan reads of every player comes first, and a record made
// with new starts a cache line (a slot of a line-sized record pool), so that
// is one line: ten thousand players are looked at per full scan. (The type
// itself is not over-aligned: a record held inside another, as the fleet's
// entries do, stays as small.)
struct Player final {
  static void* operator new(std::size_t) { return RecordPool<sizeof(Player), kCacheLine>::Take(); }
  static void operator delete(void* memory) noexcept { RecordPool<sizeof(Player), kCacheLine>::Give(memory); }

  std::uint64_t serial = 0;  // registration number, set by the registry
  Description description;
  bool inGame = false;
  std::string app;
  ConnectionRef connection;
  std::string id;  // "address:port" of the agent's listener
  std::string own;
};

// What the other instances of a fleet ask of this one, and what changes
// under it; run on the loop.
class FleetEvents {
 public:
  virtual ~FleetEvents() = default;
  // Another instance's agent `from` could not reach our player `id`.
  virtual void OnProbeAsked(std::string_view id, std::string_view from) = 0;
  // Instance `from` has a JOIN for our player's id waiting on its probe.
  virtual void OnChallenged(std::string_view id, std::string_view from) = 0;
  // The holder of `id` at another instance answered: our waiting JOIN for
  // it is refused.
  virtual void OnKept(std::string_view id) = 0;
  // The player another instance held under `id` is gone.
  virtual void OnRemoteRemoved(std::string_view id) = 0;
  // Another instance took the id of our player on this connection: the
  // connection is to be closed (which removes the player).
  virtual void OnDisplaced(ConnectionRef connection) = 0;
  // The addresses the live instances advertise, sorted; empty when none does.
  virtual void OnFleetAddresses(const std::vector<std::string>& addresses) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Begins sharing, when the registry shares its list at all.
  virtual void Start(FleetEvents* /*events*/) {}
  // For a player whose connection another instance owns: that owner is
  // asked to probe it, or to decide on a take-over of its id. False when
  // no owner can be asked (the list is this server's alone, or the store
  // is away).
  virtual bool AskProbe(const Player& /*player*/, std::string_view /*reporter*/) { return false; }
  virtual bool Challenge(const Player& /*held*/) { return false; }
  // Our holder of `id` answered the probe of `challenger`'s take-over.
  virtual void Kept(std::string_view /*id*/, std::string_view /*challenger*/) {}
  // Whether another instance registered the player (so it was never added
  // here).
  virtual bool HeldElsewhere(const Player& /*player*/) const { return false; }

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
