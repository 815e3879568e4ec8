// The lobby server: what ties its modules together. Agents are accepted
// here and each becomes a Connection (connection.hpp); the lines they send
// are handled by the protocol (lobby_protocol.hpp), queries are answered by
// the query runner (query_runner.hpp), and the tick keeps the list alive
// (probes.hpp). Every loop callback ends with Reap: JOINs waiting for an id
// their holder let go are registered, and the connections closed during the
// callback are freed.
#include "lobby_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "connection.hpp"
#include "counted_registry.hpp"
#include "lobby_protocol.hpp"
#include "platform/listener.hpp"
#include "platform/timer.hpp"
#include "player_registry.hpp"
#include "probes.hpp"
#include "query_runner.hpp"
#include "refusals.hpp"
#include "server_log.hpp"

namespace vossad {
namespace {

// One receive takes at most this much; a busy agent gets its next share on
// the next loop turn, after everyone else.
constexpr std::size_t kReadChunk = 64 * 1024;
// What an unfinished frame may keep of a connection's input buffer before
// the buffer is given back: a whole frame of the largest size.
constexpr std::size_t kMaxHeldInput = 4 * LobbyServer::kMaxLineText;

}  // namespace

class LobbyServer::Impl final : private platform::StreamChannel::Handler, private FleetEvents {
 public:
  Impl(ServerOptions options, std::shared_ptr<LobbyMetrics> metrics);
  ~Impl() { Stop(); }

  bool Start(std::string* error);
  void Stop();
  bool Adopt(int fd, const sockaddr_in& peer) { return Accept(fd, peer, false); }

  std::uint16_t port() const { return listener_.port(); }
  std::size_t connectionCount() const { return connections_.size(); }
  std::size_t playerCount() const { return registry_->size(); }
  bool storeUp() const { return fleet_ != nullptr && fleet_->storeUp(); }
  const std::shared_ptr<LobbyMetrics>& metrics() const { return metrics_; }

 private:
  // The connections' stream events.
  void OnReceived(platform::StreamChannel& channel, platform::ByteBuffer& input) override;
  void OnFailed(platform::StreamChannel& channel, platform::StreamChannel::Failure failure) override;
  void OnWrote(platform::StreamChannel& channel) override;

  // What the other instances of the fleet ask.
  void OnProbeAsked(std::string_view id, std::string_view from) override;
  void OnChallenged(std::string_view id, std::string_view from) override;
  void OnKept(std::string_view id) override;
  void OnRemoteRemoved(std::string_view id) override;
  void OnDisplaced(ConnectionRef connection) override;
  void OnFleetAddresses(const std::vector<std::string>& addresses) override;
  // The own connection holding the player registered under id, if any.
  Connection* Holder(std::string_view id) const;

  // `fromListener`: accepted by our own listener, whose options and
  // address the connection shares.
  bool Accept(int fd, const sockaddr_in& address, bool fromListener);
  void OnTick();
  void Reap();

  ServerOptions options_;
  platform::EventLoop& loop_ = platform::EventLoop::Default();
  const platform::StreamChannel::Limits limits_{LobbyServer::kMaxPendingOutput, kReadChunk, kMaxHeldInput};
  const std::shared_ptr<LobbyMetrics> metrics_;
  ServerLog log_;
  // The fleet's registry, when the server is one of a fleet; declared
  // before registry_, which wraps it.
  FleetRegistry* fleet_ = nullptr;
  const std::unique_ptr<CountedRegistry> registry_;
  Connections connections_;
  QueryRunner queries_;
  Probes probes_;
  LobbyProtocol protocol_;
  platform::Listener listener_;
  // Refused connections waiting to read their BUSY line.
  Refusals refusals_;
  platform::Timer tick_;
  std::uint64_t nextSerial_ = 1;
  bool stopped_ = false;
};

LobbyServer::LobbyServer(ServerOptions options, std::shared_ptr<LobbyMetrics> metrics)
    : impl_(std::make_unique<Impl>(std::move(options),
                                   metrics ? std::move(metrics) : std::make_shared<LobbyMetrics>())) {}
LobbyServer::~LobbyServer() = default;
bool LobbyServer::Start(std::string* error) { return impl_->Start(error); }
bool LobbyServer::storeUp() const { return impl_->storeUp(); }
bool LobbyServer::Adopt(int fd, const sockaddr_in& peer) { return impl_->Adopt(fd, peer); }
void LobbyServer::Stop() { impl_->Stop(); }
std::uint16_t LobbyServer::port() const { return impl_->port(); }
std::size_t LobbyServer::connectionCount() const { return impl_->connectionCount(); }
std::size_t LobbyServer::playerCount() const { return impl_->playerCount(); }
const std::shared_ptr<LobbyMetrics>& LobbyServer::metrics() const { return impl_->metrics(); }

static std::unique_ptr<Registry> MakeRegistry(const ServerOptions& options, ServerLog& log, FleetRegistry** fleet) {
  if (!options.fleet) return std::make_unique<PlayerRegistry>();
  auto shared = std::make_unique<FleetRegistry>(platform::EventLoop::Default(), *options.fleet, log);
  *fleet = shared.get();
  return shared;
}

LobbyServer::Impl::Impl(ServerOptions options, std::shared_ptr<LobbyMetrics> metrics)
    : options_(std::move(options)),
      metrics_(std::move(metrics)),
      log_(options_.quiet),
      registry_(std::make_unique<CountedRegistry>(MakeRegistry(options_, log_, &fleet_), *metrics_)),
      connections_(*registry_, log_, *metrics_),
      queries_(loop_, *registry_, connections_, log_, [this] { Reap(); }),
      probes_(options_, *registry_, connections_, log_),
      protocol_(options_, *registry_, connections_, log_, queries_, probes_),
      listener_(loop_),
      tick_(loop_, [this] {
        OnTick();
        Reap();
      }) {}

bool LobbyServer::Impl::Start(std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  if (inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
    if (error != nullptr) *error = "not an IPv4 address: " + options_.bindAddress;
    return false;
  }
  const char* failedCall = "listen";
  if (!listener_.Listen(address, SOMAXCONN, [this](int fd, const sockaddr_in& peer) { Accept(fd, peer, true); },
                        &failedCall)) {
    const std::string what = std::strcmp(failedCall, "bind") == 0
                                 ? "cannot bind " + options_.bindAddress + ":" + std::to_string(options_.port)
                             : std::strcmp(failedCall, "watch") == 0 ? std::string("cannot watch on the loop")
                                                                      : std::string(failedCall);
    if (error != nullptr) *error = what + ": " + std::strerror(errno);
    return false;
  }
  // Frames are gathered per loop turn and written at once; waiting for an
  // acknowledgement before the next small write would only add delay.
  // Linux gives the option of the listening socket to every connection it
  // accepts, which saves a system call per connection.
  const int one = 1;
  setsockopt(listener_.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  listener_.SetShedCallback([this] { log_.Write(0, "-", "out of file descriptors: a new connection was closed"); });

  // Probes and their deadlines are checked on a tick fine enough for the
  // shorter of the two periods, but never busier than 100 times a second.
  const auto shorter = std::min(options_.pingInterval, options_.pingTimeout);
  const auto tick = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::clamp<Clock::duration>(shorter / 4, std::chrono::milliseconds(10), std::chrono::seconds(1)));
  if (!tick_.Start(tick, tick)) {
    if (error != nullptr) *error = std::string("cannot start the probe timer: ") + std::strerror(errno);
    Stop();
    return false;
  }

  metrics_->listening.store(true);
  log_.Write(0, "-", "listening on %s:%u, at most %zu players", options_.bindAddress.c_str(), port(),
             options_.maxPlayers);
  if (fleet_ != nullptr) {
    fleet_->NameAfterPort(port());
    log_.Write(0, "-", "instance %s of the fleet on %s:%u", fleet_->instance().c_str(),
               options_.fleet->store.host.c_str(), options_.fleet->store.port);
  }
  registry_->Start(this);
  return true;
}

void LobbyServer::Impl::Stop() {
  metrics_->listening.store(false);
  // In a fleet the replica still lists the other instances' players after
  // a first Stop; the destructor's Stop says nothing again.
  if (stopped_) return;
  stopped_ = true;
  const std::size_t players = registry_->size();
  const std::size_t closed = connections_.CloseAll();
  listener_.Close();
  tick_.Stop();
  refusals_.CloseAll();
  if (closed > 0 || players > 0) {
    log_.Write(0, "-", "stopped: %zu connections closed, %zu players were registered", closed, players);
  }
}

bool LobbyServer::Impl::Accept(int fd, const sockaddr_in& address, bool fromListener) {
  const std::uint32_t source = address.sin_addr.s_addr;
  const auto who = [&] { return AddressText(address.sin_addr, '/', ntohs(address.sin_port)); };
  if (connections_.size() >= options_.maxPlayers) {
    refusals_.Refuse(fd, "server full", Clock::now());
    metrics_->Refused(RefusalCause::kServerFull);
    log_.Write(source, who(), "refused: the server is full (%zu connections)", connections_.size());
    return false;
  }
  if (const std::size_t fromThere = connections_.FromAddress(source); fromThere >= options_.maxPerAddress) {
    refusals_.Refuse(fd, "too many connections from this address", Clock::now());
    metrics_->Refused(RefusalCause::kPerAddress);
    log_.Write(source, who(), "refused: %zu connections from this address already", fromThere);
    return false;
  }
  if (!fromListener) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // as the listener's have it
  }

  const TimePoint now = Clock::now();
  platform::StreamChannel::Handler& handler = *this;
  auto c = std::make_unique<Connection>(loop_, fd, limits_, handler, ConnectionRef{fd, nextSerial_++}, address,
                                        TokenBucket(options_.lineRate, static_cast<double>(options_.lineBurst), now));
  if (!c->open()) return false;  // the loop would not watch it; the channel closed it
  c->nextProbe = now + options_.pingInterval;
  probes_.Due(c->nextProbe);
  // A listener bound to one address is reached on that one; the kernel is
  // asked only when it listens on every address.
  if (fromListener && listener_.address().s_addr != htonl(INADDR_ANY)) {
    c->local = listener_.address();
  } else {
    sockaddr_in local{};
    socklen_t localSize = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 && local.sin_family == AF_INET)
      c->local = local.sin_addr;
  }
  connections_.Insert(std::move(c));
  return true;
}

void LobbyServer::Impl::OnReceived(platform::StreamChannel& channel, platform::ByteBuffer& input) {
  Connection& c = static_cast<Connection&>(channel);
  const TimePoint now = Clock::now();
  const std::size_t frames = protocol_.TakeLines(c, input, now);
  if (!c.closed) {
    // A frame under way must be complete within the ping timeout of its
    // start; one that never ends would hold its buffer for as long as the
    // peer likes while the frames before it answer every probe.
    if (input.ReadableBytes() == 0) {
      c.frameDue = kNoDeadline;
    } else if (frames > 0 || c.frameDue == kNoDeadline) {
      c.frameDue = now + options_.pingTimeout;
      probes_.Due(c.frameDue);
    }
    connections_.Flush(c);
  }
  Reap();
}

void LobbyServer::Impl::OnFailed(platform::StreamChannel& channel, platform::StreamChannel::Failure failure) {
  Connection& c = static_cast<Connection&>(channel);
  switch (failure) {
    case platform::StreamChannel::Failure::kPeerClosed:
      connections_.Close(c, DropReason::kClosedByAgent);
      break;
    case platform::StreamChannel::Failure::kReadFailed:
      connections_.Close(c, DropReason::kConnectionLost);
      break;
    case platform::StreamChannel::Failure::kWriteFailed:
      connections_.Close(c, DropReason::kSendFailed);
      break;
  }
  Reap();
}

void LobbyServer::Impl::OnWrote(platform::StreamChannel& channel) {
  queries_.Resume(static_cast<Connection&>(channel));
  Reap();
}

void LobbyServer::Impl::OnTick() {
  const TimePoint now = Clock::now();
  refusals_.Expire(now);
  Increment(metrics_->logLinesSummarised, log_.Summarise(now));
  registry_->Publish();
  probes_.Tick(now);
}

Connection* LobbyServer::Impl::Holder(std::string_view id) const {
  const Player* player = registry_->Find(id);
  return player == nullptr ? nullptr : connections_.Find(player->connection);
}

void LobbyServer::Impl::OnProbeAsked(std::string_view id, std::string_view from) {
  if (Connection* target = Holder(id)) probes_.ProbeReported(*target, "an agent at " + std::string(from), Clock::now());
  Reap();
}

void LobbyServer::Impl::OnChallenged(std::string_view id, std::string_view from) {
  Connection* holder = Holder(id);
  if (holder == nullptr) return;  // gone already: its removal tells the challenger
  holder->challengers.push_back({ConnectionRef{}, std::string(id), std::string(from)});
  log_.Write(holder->peer.s_addr, Who(*holder), "a JOIN for this id at %s waits: probing",
             std::string(from).c_str());
  probes_.Probe(*holder, Clock::now());
  connections_.Flush(*holder);
  Reap();
}

void LobbyServer::Impl::OnKept(std::string_view id) { probes_.RemoteKept(id); }

void LobbyServer::Impl::OnRemoteRemoved(std::string_view id) {
  probes_.RemoteFreed(id);
  Reap();
}

void LobbyServer::Impl::OnDisplaced(ConnectionRef connection) {
  if (Connection* c = connections_.Find(connection)) connections_.Close(*c, DropReason::kTakenElsewhere);
  Reap();
}

void LobbyServer::Impl::OnFleetAddresses(const std::vector<std::string>& addresses) {
  if (options_.serverList) return;  // a list file stands
  protocol_.SetServerList(addresses.empty() ? std::nullopt : std::optional(FleetServerList(addresses)));
  log_.Write(0, "-", "%zu live instances advertise an address", addresses.size());
}

void LobbyServer::Impl::Reap() {
  probes_.HandOver();
  connections_.ReleaseClosed();
}

}  // namespace vossad
