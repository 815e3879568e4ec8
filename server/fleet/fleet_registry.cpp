#include "fleet/fleet_registry.hpp"

#include <hiredis/hiredis.h>

#include <unistd.h>

#include <algorithm>

#include "fleet/store_scripts.hpp"

namespace vossad {
namespace {

constexpr const char* kEvents = "vossad:events";
// Events taken per blocking read, and how long one waits for any.
constexpr const char* kReadCount = "512";
constexpr std::chrono::milliseconds kReadBlock{1000};
constexpr const char* kScanCount = "512";
// Each event has a handful of fields; one with more is not ours.
constexpr std::size_t kMaxEventFields = 16;
// Changes carried by one script call: the store runs a call at a time, so
// a long one would hold up every instance's commands.
constexpr std::size_t kMaxChangesPerCall = 128;
// Instance names a replica keeps apart; more are taken as corrupt.
constexpr std::size_t kMaxOwners = 4096;

std::string_view Text(const redisReply& r) {
  return r.type == REDIS_REPLY_STRING || r.type == REDIS_REPLY_STATUS ? std::string_view(r.str, r.len)
                                                                        : std::string_view();
}

std::string_view ErrorText(const redisReply& r) {
  return r.type == REDIS_REPLY_ERROR ? std::string_view(r.str, r.len) : std::string_view();
}

bool IsArray(const redisReply* r) { return r != nullptr && r->type == REDIS_REPLY_ARRAY; }

}  // namespace

FleetRegistry::FleetRegistry(platform::EventLoop& loop, FleetOptions options, ServerLog& log)
    : loop_(loop),
      options_(std::move(options)),
      log_(log),
      store_(
          loop, options_.store, options_.timing, [this] { OnStoreUp(); }, [this] { OnStoreDown(); }),
      reader_(
          loop, options_.store, options_.timing, [this] { Reload(); }, [this] { ++readerGeneration_; }),
      heartbeat_(loop, [this] { Heartbeat(); }),
      retry_(loop, [this] {
        if (reader_.up()) Reload();
      }),
      firstContact_(loop, [this] {
        if (store_.up() || reportedDown_) return;
        log_.Write(0, "-", "cannot reach the store at %s:%u: serving this instance's players, retrying",
                   options_.store.host.c_str(), options_.store.port);
        reportedDown_ = true;
      }) {}

FleetRegistry::~FleetRegistry() { *alive_ = false; }

void FleetRegistry::NameAfterPort(std::uint16_t port) {
  if (!options_.instance.empty()) return;
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  std::string name;
  for (const char* p = host; *p != '\0' && name.size() < 40; ++p) {
    if (ValidInstanceName(std::string_view(p, 1))) name += *p;
  }
  options_.instance = (name.empty() ? std::string("vossad") : name) + ":" + std::to_string(port);
}

void FleetRegistry::Start(FleetEvents* events) {
  events_ = events;
  firstContact_.Start(options_.timing.connectTimeout + options_.timing.maxBackoff);
  store_.Start();
  reader_.Start();
}

// ---- the replica -------------------------------------------------------

FleetRegistry::Entry* FleetRegistry::FindEntry(std::string_view id) const {
  const auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : it->second;
}

FleetRegistry::Entry* FleetRegistry::Insert(Player player, const std::string* owner) {
  auto entry = std::make_unique<Entry>();
  entry->player = std::move(player);
  entry->owner = owner;
  entry->token = nextToken_++;
  const std::uint64_t serial = entry->player.serial;
  ClearNumber(serial);
  Entry* raw = order_.Insert(serial, std::move(entry));
  byId_[std::string_view(raw->player.id)] = raw;
  return raw;
}

void FleetRegistry::Erase(Entry* entry) {
  const std::uint64_t serial = entry->player.serial;
  if (order_.Find(serial) != entry) return;
  byId_.erase(std::string_view(entry->player.id));
  order_.Take(serial);
}

void FleetRegistry::Rekey(Entry* entry, std::uint64_t serial) {
  if (entry->player.serial == serial) return;
  std::unique_ptr<Entry> moving = order_.Take(entry->player.serial);
  if (moving == nullptr) return;
  ClearNumber(serial);
  moving->player.serial = serial;
  order_.Insert(serial, std::move(moving));
}

void FleetRegistry::ClearNumber(std::uint64_t serial) {
  Entry* other = order_.Find(serial);
  if (other == nullptr) return;
  if (other->owner == nullptr) {
    // Our own, under a number of the store as it was before it restarted
    // empty: it goes to the end until its new number comes back.
    std::unique_ptr<Entry> moving = order_.Take(serial);
    moving->player.serial = nextProvisional_++;
    const std::uint64_t provisional = moving->player.serial;
    order_.Insert(provisional, std::move(moving));
    return;
  }
  // Two players of others under one number: a store that restarted, or a
  // corrupt one; the later one stands.
  byId_.erase(std::string_view(other->player.id));
  order_.Take(serial);
}

const std::string* FleetRegistry::Owner(std::string_view name) {
  if (const auto it = owners_.find(name); it != owners_.end()) return &*it;
  if (owners_.size() >= kMaxOwners) return nullptr;
  return &*owners_.emplace(name).first;
}

const Player* FleetRegistry::Add(Player player, ConnectionRef* displaced) {
  if (displaced != nullptr) *displaced = ConnectionRef{};
  if (Entry* old = FindEntry(player.id)) {
    if (displaced != nullptr) *displaced = old->player.connection;
    Remove(&old->player);
  }
  player.serial = nextProvisional_++;
  Entry* entry = Insert(std::move(player), nullptr);
  Publish(entry, 0);
  return &entry->player;
}

void FleetRegistry::Remove(const Player* player) {
  if (player == nullptr) return;
  Entry* entry = FindEntry(player->id);
  if (entry == nullptr || &entry->player != player) return;
  const bool own = entry->owner == nullptr;
  const std::uint64_t serial = player->serial;
  const std::string id = player->id;
  Erase(entry);
  // A registration not written yet is removed when its number comes back.
  if (own && serial < kProvisionalSerials) Change({"d", id, std::to_string(serial)});
}

void FleetRegistry::SetInGame(const Player* player) {
  if (player == nullptr) return;
  Entry* entry = FindEntry(player->id);
  if (entry == nullptr || &entry->player != player) return;
  entry->player.inGame = true;
  if (entry->owner == nullptr && player->serial < kProvisionalSerials)
    Change({"g", player->id, std::to_string(player->serial)});
}

const Player* FleetRegistry::Find(std::string_view id) const {
  const Entry* entry = FindEntry(id);
  return entry == nullptr ? nullptr : &entry->player;
}

std::size_t FleetRegistry::ScanFrom(std::uint64_t from, std::span<const Player*> out) const {
  return order_.Scan(from, out, [](const Entry& entry) { return &entry.player; });
}

// ---- writing to the store ----------------------------------------------

void FleetRegistry::Script(const char* script, std::vector<std::string> args, RedisClient::Callback done) {
  FlushChanges();
  if (!store_.up()) {
    if (done) done(nullptr);
    return;
  }
  SendScript(script, std::move(args), std::move(done));
}

void FleetRegistry::SendScript(const char* script, std::vector<std::string> args, RedisClient::Callback done) {
  const auto digest = digests_.find(script);
  const bool byDigest = digest != digests_.end();
  std::vector<std::string> command;
  command.reserve(args.size() + 3);
  command.insert(command.end(), {byDigest ? "EVALSHA" : "EVAL", byDigest ? digest->second : script, "0"});
  for (std::string& a : args) command.push_back(std::move(a));
  store_.Command(command, [this, byDigest, done = std::move(done), alive = alive_](const redisReply* reply) {
    if (!*alive) return;
    if (byDigest && reply != nullptr && ErrorText(*reply).starts_with("NOSCRIPT")) {
      // The store's script cache was emptied under us. Calls sent since
      // fail alike; sending them again could change their order, so the
      // connection starts over as after a loss (the store is told again
      // which players this instance holds).
      if (done) done(nullptr);
      store_.Reconnect("the store lost its scripts");
      return;
    }
    if (reply != nullptr && reply->type == REDIS_REPLY_ERROR) {
      log_.Write(0, "-", "the store refused a change: %s", Printable(ErrorText(*reply), 120).c_str());
    }
    if (done) done(reply);
  });
}

void FleetRegistry::LoadScripts() {
  for (const char* script : scripts::kAll) {
    if (digests_.count(script) != 0) continue;
    store_.Command({"SCRIPT", "LOAD", script}, [this, script, alive = alive_](const redisReply* reply) {
      if (!*alive || reply == nullptr) return;
      const std::string_view digest = Text(*reply);
      if (reply->type == REDIS_REPLY_STRING && digest.size() == 40 &&
          digest.find_first_not_of("0123456789abcdef") == std::string_view::npos)
        digests_[script] = std::string(digest);
    });
  }
}

void FleetRegistry::Change(std::initializer_list<std::string_view> change, RedisClient::Callback done) {
  if (!store_.up()) {
    if (done) done(nullptr);
    return;
  }
  if (changesDone_.empty()) changes_.push_back(options_.instance);
  for (const std::string_view part : change) changes_.emplace_back(part);
  changesDone_.push_back(std::move(done));
  if (changesDone_.size() >= kMaxChangesPerCall) {
    FlushChanges();
  } else if (!flushQueued_ && applying_ == 0) {
    // Sent at the end of this turn; while a call is on its way, the
    // changes wait for its answer and go together in the next one.
    flushQueued_ = true;
    loop_.RunInLoop([this, alive = alive_] {
      if (!*alive) return;
      flushQueued_ = false;
      FlushChanges();
    });
  }
}

void FleetRegistry::FlushChanges() {
  if (changesDone_.empty()) return;
  std::vector<std::string> args;
  args.swap(changes_);
  std::vector<RedisClient::Callback> done;
  done.swap(changesDone_);
  if (!store_.up()) {
    for (RedisClient::Callback& d : done) {
      if (d) d(nullptr);
    }
    return;
  }
  ++applying_;
  SendScript(scripts::kApply, std::move(args), [this, done = std::move(done), alive = alive_](const redisReply* reply) {
    if (!*alive) return;
    --applying_;
    // Each change gets its own answer; an error or a lost call is the
    // answer of all of them.
    const bool each = IsArray(reply) && reply->elements == done.size();
    for (std::size_t i = 0; i < done.size(); ++i) {
      if (done[i]) done[i](each ? reply->element[i] : reply);
    }
    if (applying_ == 0) FlushChanges();
  });
}

void FleetRegistry::Publish(Entry* entry, std::uint64_t previous) {
  const Player& p = entry->player;
  const std::string id = p.id;
  const std::uint64_t token = entry->token;
  entry->publishing = true;
  Change({"r", id, EncodeRecord(p.app, p.own, p.description.text()), std::to_string(previous),
          p.inGame ? "1" : "0"},
         [this, id, token](const redisReply* reply) {
           if (Entry* now = FindEntry(id); now != nullptr && now->token == token) now->publishing = false;
           if (reply == nullptr || reply->type != REDIS_REPLY_INTEGER || reply->integer <= 0 ||
               static_cast<std::uint64_t>(reply->integer) >= kProvisionalSerials)
             return;  // written again by the next heartbeat, or when the store is back
           const auto serial = static_cast<std::uint64_t>(reply->integer);
           Entry* now = FindEntry(id);
           if (now == nullptr || now->token != token) {
             // Removed while the write was on its way.
             Change({"d", id, std::to_string(serial)});
             return;
           }
           const bool wasProvisional = now->player.serial >= kProvisionalSerials;
           Rekey(now, serial);
           if (wasProvisional && now->player.inGame)
             Change({"g", id, std::to_string(serial)});
         });
}

void FleetRegistry::OnStoreUp() {
  LoadScripts();
  if (reportedDown_) log_.Write(0, "-", "the store is back: writing this instance's %s", "players again");
  reportedDown_ = false;
  std::vector<std::string> keep{options_.instance};
  std::vector<Entry*> own;
  for (Entry* entry : order_.From()) {
    if (entry->owner != nullptr) continue;
    keep.push_back(entry->player.id);
    own.push_back(entry);
  }
  Script(scripts::kKeepOnly, std::move(keep));
  for (Entry* entry : own) {
    const std::uint64_t serial = entry->player.serial;
    Publish(entry, serial < kProvisionalSerials ? serial : 0);
  }
  Heartbeat();
}

void FleetRegistry::OnStoreDown() {
  digests_.clear();  // the store that comes back may be another
  heartbeat_.Stop();
  if (!reportedDown_) {
    log_.Write(0, "-", "lost the store: serving this instance's players, reconnecting");
    reportedDown_ = true;
  }
}

void FleetRegistry::Heartbeat() {
  heartbeat_.Start(options_.heartbeat);
  // Registrations the store refused to write (a broken store) are tried
  // again, each at most once a heartbeat.
  std::vector<Entry*> unwritten;
  for (Entry* entry : order_.From(kProvisionalSerials)) {
    if (entry->owner == nullptr && !entry->publishing) unwritten.push_back(entry);
  }
  for (Entry* entry : unwritten) Publish(entry, 0);
  Script(scripts::kHeartbeat,
         {options_.instance, options_.advertise, std::to_string(options_.expiry.count())},
         [this](const redisReply* reply) {
           if (!IsArray(reply) || events_ == nullptr) return;
           std::vector<std::string> addresses;
           for (std::size_t i = 0; i + 1 < reply->elements && i < 2 * kMaxOwners; i += 2) {
             const std::string_view name = Text(*reply->element[i]);
             const std::string_view address = Text(*reply->element[i + 1]);
             if (!ValidInstanceName(name) || !ValidAdvertised(address)) {
               Corrupt("an instance entry");
               continue;
             }
             if (!address.empty()) addresses.emplace_back(address);
           }
           std::sort(addresses.begin(), addresses.end());
           addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
           if (addresses != fleetAddresses_) {
             fleetAddresses_ = addresses;
             events_->OnFleetAddresses(fleetAddresses_);
           }
         });
}

bool FleetRegistry::AskProbe(const Player& player, std::string_view reporter) {
  const Entry* entry = FindEntry(player.id);
  if (entry == nullptr || entry->owner == nullptr || !store_.up()) return false;
  Script(scripts::kMessage, {"probe", player.id, std::string(reporter), *entry->owner});
  return true;
}

bool FleetRegistry::Challenge(const Player& held) {
  const Entry* entry = FindEntry(held.id);
  if (entry == nullptr || entry->owner == nullptr || !store_.up()) return false;
  Script(scripts::kMessage, {"chal", held.id, options_.instance, *entry->owner});
  return true;
}

void FleetRegistry::Kept(std::string_view id, std::string_view challenger) {
  Script(scripts::kMessage, {"kept", std::string(id), options_.instance, std::string(challenger)});
}

bool FleetRegistry::HeldElsewhere(const Player& player) const {
  const Entry* entry = FindEntry(player.id);
  return entry != nullptr && &entry->player == &player && entry->owner != nullptr;
}

// ---- reading the store -------------------------------------------------

void FleetRegistry::Corrupt(const char* what) { log_.Write(0, "store", "skipped %s that does not read", what); }

void FleetRegistry::RetryLater(std::uint64_t generation, const char* what) {
  if (generation != readerGeneration_) return;
  Corrupt(what);
  ++readerGeneration_;  // nothing of this round goes on
  retry_.Start(std::chrono::milliseconds(1000));
}

void FleetRegistry::Reload() {
  const std::uint64_t generation = ++readerGeneration_;
  snapshot_.clear();
  // The last event first: the snapshot taken after it holds at least what
  // that event left, and the events after it apply again harmlessly.
  reader_.Command({"XREVRANGE", kEvents, "+", "-", "COUNT", "1"}, [this, generation](const redisReply* reply) {
    if (generation != readerGeneration_ || reply == nullptr) return;  // the reconnect reloads
    if (!IsArray(reply)) return RetryLater(generation, "an answer about the last event");
    lastId_ = "0-0";
    lastEvent_ = 0;
    if (reply->elements == 1 && IsArray(reply->element[0]) && reply->element[0]->elements == 2) {
      const redisReply& entry = *reply->element[0];
      const std::string_view id = Text(*entry.element[0]);
      if (!id.empty() && id.size() <= 48) lastId_.assign(id);
      const redisReply* fields = entry.element[1];
      for (std::size_t i = 0; IsArray(fields) && i + 1 < fields->elements && i < kMaxEventFields; i += 2) {
        if (Text(*fields->element[i]) == "e")
          lastEvent_ = ParseSerial(Text(*fields->element[i + 1])).value_or(0);
      }
    }
    ScanSnapshot(generation, "0");
  });
}

void FleetRegistry::ScanSnapshot(std::uint64_t generation, std::string cursor) {
  reader_.Command({"HSCAN", "vossad:players", cursor, "COUNT", kScanCount}, [this, generation](
                                                                                 const redisReply* reply) {
    if (generation != readerGeneration_ || reply == nullptr) return;
    if (!IsArray(reply) || reply->elements != 2 || !IsArray(reply->element[1]))
      return RetryLater(generation, "a snapshot page");
    const std::string_view next = Text(*reply->element[0]);
    const redisReply& page = *reply->element[1];
    for (std::size_t i = 0; i + 1 < page.elements; i += 2) {
      const std::string_view id = Text(*page.element[i]);
      std::optional<StoredPlayer> stored = DecodeValue(Text(*page.element[i + 1]));
      if (!ValidPlayerId(id) || !stored) {
        Corrupt("a stored player");
        continue;
      }
      if (snapshot_.size() < kMaxSnapshot) snapshot_.insert_or_assign(std::string(id), std::move(*stored));
    }
    if (next == "0" || next.empty() || next.size() > 20) {
      ApplySnapshot();
      Read(generation);
    } else {
      ScanSnapshot(generation, std::string(next));
    }
  });
}

void FleetRegistry::ApplySnapshot() {
  std::vector<std::string> gone;
  for (Entry* listed : order_.From()) {
    Entry& entry = *listed;
    if (entry.owner == nullptr) continue;
    const auto stored = snapshot_.find(entry.player.id);
    if (stored != snapshot_.end() && stored->second.serial == entry.player.serial &&
        stored->second.owner == *entry.owner)
      continue;
    gone.push_back(entry.player.id);
    Erase(&entry);
  }
  for (auto& [id, stored] : snapshot_) {
    // Our own are ours to know; an id held here and there is settled by
    // the events that follow.
    if (stored.owner == options_.instance) continue;
    Entry* present = FindEntry(id);
    if (present != nullptr && present->owner == nullptr) continue;
    const std::string* owner = Owner(stored.owner);
    if (owner == nullptr) continue;
    if (present != nullptr) {
      present->player.inGame = stored.inGame;
      continue;
    }
    Player player;
    player.id = id;
    player.app = std::move(stored.app);
    player.own = std::move(stored.own);
    player.description = Description(stored.description);
    player.inGame = stored.inGame;
    player.serial = stored.serial;
    Insert(std::move(player), owner);
  }
  snapshot_.clear();
  if (events_ != nullptr) {
    for (const std::string& id : gone) {
      if (FindEntry(id) == nullptr) events_->OnRemoteRemoved(id);
    }
  }
}

void FleetRegistry::Read(std::uint64_t generation) {
  reader_.Command(
      {"XREAD", "COUNT", kReadCount, "BLOCK", std::to_string(kReadBlock.count()), "STREAMS", kEvents, lastId_},
      [this, generation](const redisReply* reply) {
        if (generation != readerGeneration_ || reply == nullptr) return;  // the reconnect reloads
        if (IsArray(reply) && reply->elements == 1 && IsArray(reply->element[0]) &&
            reply->element[0]->elements == 2 && IsArray(reply->element[0]->element[1])) {
          const redisReply& entries = *reply->element[0]->element[1];
          for (std::size_t i = 0; i < entries.elements; ++i) {
            if (!ApplyEvent(*entries.element[i])) {
              log_.Write(0, "store", "events of the store skipped ahead: reloading the list");
              Reload();
              return;
            }
          }
        } else if (reply->type != REDIS_REPLY_NIL) {
          return RetryLater(generation, "an answer to a read");
        }
        Read(generation);
      },
      kReadBlock + options_.timing.commandTimeout);
}

bool FleetRegistry::ApplyEvent(const redisReply& entry) {
  if (entry.type != REDIS_REPLY_ARRAY || entry.elements != 2 || !IsArray(entry.element[1]) ||
      Text(*entry.element[0]).empty() || entry.element[0]->len > 48) {
    Corrupt("an event");
    return true;
  }
  lastId_.assign(Text(*entry.element[0]));
  const redisReply& fields = *entry.element[1];
  std::string_view e, type, id, value, number, from, to;
  for (std::size_t i = 0; i + 1 < fields.elements && i < kMaxEventFields; i += 2) {
    const std::string_view key = Text(*fields.element[i]);
    const std::string_view v = Text(*fields.element[i + 1]);
    if (key == "e") e = v;
    else if (key == "t") type = v;
    else if (key == "id") id = v;
    else if (key == "v") value = v;
    else if (key == "n") number = v;
    else if (key == "from") from = v;
    else if (key == "to") to = v;
  }
  const std::optional<std::uint64_t> eventNumber = ParseSerial(e);
  if (!eventNumber) {
    Corrupt("an event");
    return true;
  }
  if (*eventNumber != lastEvent_ + 1) return false;
  lastEvent_ = *eventNumber;
  if (!ValidPlayerId(id)) {
    Corrupt("an event");
    return true;
  }
  if (type == "reg") {
    ApplyRegistration(id, value);
    return true;
  }
  if (type == "del" || type == "game") {
    const std::optional<std::uint64_t> serial = ParseSerial(number);
    Entry* entry = FindEntry(id);
    if (!serial) {
      Corrupt("an event");
    } else if (entry != nullptr && entry->owner != nullptr && entry->player.serial == *serial) {
      if (type == "game") {
        entry->player.inGame = true;
      } else {
        Erase(entry);
        if (events_ != nullptr) events_->OnRemoteRemoved(id);
      }
    }
    return true;
  }
  // Messages: only those addressed to this instance, from a valid name.
  if (to != options_.instance || !ValidInstanceName(from) || events_ == nullptr) return true;
  if (type == "probe") {
    events_->OnProbeAsked(id, from);
  } else if (type == "chal") {
    events_->OnChallenged(id, from);
  } else if (type == "kept") {
    events_->OnKept(id);
  }
  return true;
}

void FleetRegistry::ApplyRegistration(std::string_view id, std::string_view value) {
  if (StoredOwner(value) == options_.instance) return;  // the echo of our own
  std::optional<StoredPlayer> stored = DecodeValue(value);
  if (!stored) {
    Corrupt("a registration");
    return;
  }
  if (Entry* present = FindEntry(id); present != nullptr && present->owner == nullptr) {
    // Another instance took the id (its take-over was decided there).
    const ConnectionRef connection = present->player.connection;
    if (events_ != nullptr) events_->OnDisplaced(connection);
    if (Entry* still = FindEntry(id); still != nullptr && still->owner == nullptr) return;
  }
  const std::string* owner = Owner(stored->owner);
  if (owner == nullptr) {
    Corrupt("a registration");
    return;
  }
  if (Entry* present = FindEntry(id)) Erase(present);
  Player player;
  player.id.assign(id);
  player.app = std::move(stored->app);
  player.own = std::move(stored->own);
  player.description = Description(stored->description);
  player.inGame = stored->inGame;
  player.serial = stored->serial;
  Insert(std::move(player), owner);
}

}  // namespace vossad
