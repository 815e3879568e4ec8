// fleet_registry.hpp - the player list shared by every vossad instance on
// one Redis (internal to vossad): the Registry the server runs on with
// --store.
//
// Queries are answered from memory, from a replica of the fleet's list:
// the players of this instance, held as the in-memory registry holds them,
// and those of the others, kept current from the store's event stream
// (read with blocking reads on a connection of its own) after a snapshot
// to start from. Registration numbers come from the store, so the order is
// the same at every instance; a registration not yet written (just made,
// or made while the store is away) is listed after every written one.
//
// Liveness: each instance renews a heartbeat key with an expiry; the same
// call removes the registrations of every instance whose heartbeat is gone.
// Messages to one instance (a probe asked for, a take-over challenge and
// its refusal) travel on the same stream, addressed by instance name.
//
// The store lost: the own players stay listed, the others as last known;
// the log says so once; both connections come back with a backoff. Back:
// the store is told exactly which registrations this instance holds (those
// it lost meanwhile go, those it made meanwhile are written) and the
// replica is reloaded. An event number that skips (a trim, a store
// restarted empty) also reloads it.
#pragma once

#include <chrono>
#include <initializer_list>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fleet/redis_client.hpp"
#include "fleet/store_records.hpp"
#include "platform/timer.hpp"
#include "registry.hpp"
#include "serial_order.hpp"
#include "server_log.hpp"

namespace vossad {

struct FleetOptions {
  RedisAddress store;
  std::string instance;   // ValidInstanceName; empty: "<host name>:<port>"
  std::string advertise;  // empty: not in the server list
  std::chrono::milliseconds heartbeat{2000};
  std::chrono::milliseconds expiry{6000};
  RedisClient::Timing timing;
};

class FleetRegistry final : public Registry {
 public:
  // Most players a snapshot may hold; a bigger one is cut off with a log line.
  static constexpr std::size_t kMaxSnapshot = 1'000'000;

  FleetRegistry(platform::EventLoop& loop, FleetOptions options, ServerLog& log);
  ~FleetRegistry() override;

  // Names an unnamed instance after the host and the port it listens on.
  void NameAfterPort(std::uint16_t port);
  void Start(FleetEvents* events) override;
  bool storeUp() const { return store_.up(); }
  const std::string& instance() const { return options_.instance; }

  const Player* Add(Player player, ConnectionRef* displaced = nullptr) override;
  void Remove(const Player* player) override;
  void SetInGame(const Player* player) override;
  const Player* Find(std::string_view id) const override;
  std::size_t size() const override { return byId_.size(); }
  std::size_t ScanFrom(std::uint64_t from, std::span<const Player*> out) const override;

  bool AskProbe(const Player& player, std::string_view reporter) override;
  bool Challenge(const Player& held) override;
  void Kept(std::string_view id, std::string_view challenger) override;
  bool HeldElsewhere(const Player& player) const override;

 private:
  struct Entry {
    Player player;
    const std::string* owner = nullptr;  // null: this instance's own
    std::uint64_t token = 0;             // tells an entry from a later one of the same id
    bool publishing = false;             // its write is on its way
  };

  Entry* FindEntry(std::string_view id) const;
  Entry* Insert(Player player, const std::string* owner);
  void Erase(Entry* entry);
  void Rekey(Entry* entry, std::uint64_t serial);
  // Makes room for a registration under `serial`: an own player there moves
  // to a provisional number, another instance's is dropped.
  void ClearNumber(std::uint64_t serial);
  const std::string* Owner(std::string_view name);

  // The store connection.
  void OnStoreUp();
  void OnStoreDown();
  void Publish(Entry* entry, std::uint64_t previous);
  // Runs a script in the store, after every change queued before it.
  void Script(const char* script, std::vector<std::string> args, RedisClient::Callback done = {});
  // Calls it by its digest once the store has it cached, by its text
  // until then.
  void SendScript(const char* script, std::vector<std::string> args, RedisClient::Callback done);
  void LoadScripts();
  // Queues a change for the next kApply call (store_scripts.hpp): the
  // changes of one turn of the loop go in one call, and while a call is on
  // its way, those that come meanwhile wait to go in the next (the store
  // busy, the calls grow). `done` gets that change's own answer.
  void Change(std::initializer_list<std::string_view> change, RedisClient::Callback done = {});
  void FlushChanges();
  void Heartbeat();

  // The reader connection.
  void Reload();
  void ScanSnapshot(std::uint64_t generation, std::string cursor);
  void ApplySnapshot();
  void Read(std::uint64_t generation);
  // False: the event showed a gap and a reload is on its way.
  bool ApplyEvent(const redisReply& entry);
  void ApplyRegistration(std::string_view id, std::string_view value);
  void Corrupt(const char* what);
  // An answer the reader cannot go on from (an error, a wrong shape): the
  // list is reloaded after a pause, not at once, so a broken store costs
  // a command a second, not a busy loop.
  void RetryLater(std::uint64_t generation, const char* what);

  platform::EventLoop& loop_;
  FleetOptions options_;
  ServerLog& log_;
  FleetEvents* events_ = nullptr;
  RedisClient store_;
  RedisClient reader_;
  platform::Timer heartbeat_;
  platform::Timer retry_;
  // Says once when the store cannot be reached from the start.
  platform::Timer firstContact_;

  SerialOrder<Entry> order_;
  // Keys point into the entries' own id strings.
  std::unordered_map<std::string_view, Entry*> byId_;
  std::set<std::string, std::less<>> owners_;
  std::uint64_t nextProvisional_ = kProvisionalSerials;
  std::uint64_t nextToken_ = 1;

  // Changes queued this turn: kApply's arguments and each one's callback.
  std::vector<std::string> changes_;
  std::vector<RedisClient::Callback> changesDone_;
  bool flushQueued_ = false;
  int applying_ = 0;  // kApply calls waiting for their answers
  // Script text -> digest in the store's cache, for this connection.
  std::unordered_map<const char*, std::string> digests_;

  std::uint64_t readerGeneration_ = 0;
  std::string lastId_ = "0-0";
  std::uint64_t lastEvent_ = 0;
  std::unordered_map<std::string, StoredPlayer> snapshot_;
  std::vector<std::string> fleetAddresses_;
  bool reportedDown_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vossad
