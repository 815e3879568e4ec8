#include "lobby_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "byte_buffer.hpp"
#include "listed_address.hpp"
#include "msg.hpp"
#include "platform/loop.hpp"
#include "player_registry.hpp"
#include "rate_limits.hpp"
#include "refusals.hpp"

namespace vossad {
namespace {

using TimePoint = Clock::time_point;
constexpr TimePoint kNoDeadline = TimePoint::max();

constexpr char kSeparator = 0x18;
// One receive takes at most this much; a busy agent gets its next share on
// the next loop turn, after everyone else.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kSliceLines = 64;
// Players looked at per slice, so that a query matching few of them does not
// hold the loop for a whole scan of a full server.
constexpr std::size_t kSliceScan = 4096;
// A query produces its next slice only while less than this waits to be
// sent, so a slow reader holds a bounded answer, not the whole list.
constexpr std::size_t kLowWater = 64 * 1024;
constexpr int kMaxAcceptsPerWake = 64;
// Registration fields are copied into memory kept for as long as the player
// stays; a hostile JOIN must not be able to make that large. The client's
// own description stays under 700 bytes.
constexpr std::size_t kMaxDescription = 1024;
constexpr std::size_t kMaxField = 255;
// Matching costs players x filter pairs; the client's filters stay under
// 600 bytes.
constexpr std::size_t kMaxFilter = 1024;
// What an unfinished frame may keep of a connection's input buffer before
// the buffer is given back: a whole frame of the largest size.
constexpr std::size_t kMaxHeldInput = 4 * LobbyServer::kMaxLineText;

struct Query {
  std::string app;
  Filter filter;
  std::uint64_t remaining = 0;  // USER lines still allowed
  std::size_t listed = 0;
  std::uint64_t cursor = 0;  // registration number to continue from
  std::string standIn;       // listed_address.hpp
};

struct Connection {
  int fd = -1;
  std::uint64_t serial = 0;  // tells this connection from a later one on the same fd
  platform::WatchId watch = 0;
  std::uint32_t events = EPOLLIN;
  in_addr peer{};
  std::uint16_t peerPort = 0;
  in_addr local{};  // the address the agent reached the server on
  // Only while a frame is half received / output waits for the kernel.
  std::unique_ptr<zep::ByteBuffer> in;
  std::unique_ptr<zep::ByteBuffer> out;
  Player* player = nullptr;
  std::unique_ptr<Query> query;
  TimePoint nextProbe{};
  TimePoint probeDeadline = kNoDeadline;
  // When the frame under way must be complete (the ping timeout after its
  // first byte arrived).
  TimePoint frameDue = kNoDeadline;
  // The last probe another agent's CPIN asked for.
  TimePoint requestedProbe{};
  TokenBucket lines{0, 0, TimePoint{}};
  // A JOIN for an id another live connection holds: registered only if
  // that holder fails to answer the probe it was sent.
  std::unique_ptr<Player> waitingJoin;
  // Connections whose JOIN for this one's id waits on its answer.
  struct Challenger {
    int fd;
    std::uint64_t serial;
    std::string id;
  };
  std::vector<Challenger> challengers;
  bool closed = false;
  bool queued = false;  // waiting in the slice queue
};

std::string AddressText(in_addr address) {
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// Value of KEY= in the command part of a line ("JOIN ID=2001;APP=x;"): the
// key must follow the command's blank, a ";" or begin the text.
std::optional<std::string_view> Param(std::string_view part, std::string_view key) {
  std::size_t pos = 0;
  while ((pos = part.find(key, pos)) != std::string_view::npos) {
    const std::size_t after = pos + key.size();
    const bool boundary = pos == 0 || part[pos - 1] == ';' || part[pos - 1] == ' ';
    if (boundary && after < part.size() && part[after] == '=') {
      std::size_t end = part.find(';', after + 1);
      if (end == std::string_view::npos) end = part.size();
      return part.substr(after + 1, end - after - 1);
    }
    pos = after;
  }
  return std::nullopt;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint64_t> ParseMax(std::string_view text) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value <= 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

// Text from the network as it may appear in the log: one line, no control
// characters.
std::string Printable(std::string_view text, std::size_t max = 64) {
  std::string out(text.substr(0, max));
  for (char& ch : out) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
  }
  if (text.size() > max) out += "...";
  return out;
}

bool StartsWith(std::string_view line, std::string_view command) {
  return line.substr(0, command.size()) == command;
}

}  // namespace

class LobbyServer::Impl {
 public:
  explicit Impl(ServerOptions options) : options_(std::move(options)) {
    if (options_.serverList) EncodeServerList(*options_.serverList);
  }
  ~Impl() { Stop(); }

  bool Start(std::string* error);
  void Stop();

  bool Adopt(int fd, const sockaddr_in& peer) { return Accept(fd, peer); }

  std::uint16_t port() const { return port_; }
  std::size_t connectionCount() const { return connectionCount_; }
  std::size_t playerCount() const { return registry_.size(); }

 private:
  void EncodeServerList(const ServerList& list);

  // Loop callbacks. Each ends with Reap(): connections closed while it ran
  // are only freed then, so nothing below has to worry about a Connection&
  // that disappears under it (a closed one is marked `closed`).
  void OnAcceptable();
  void OnConnectionEvent(int fd, std::uint64_t serial, std::uint32_t events);
  void OnTick();
  void OnWake();
  void Reap();

  bool Accept(int fd, const sockaddr_in& address);
  Connection* Lookup(int fd, std::uint64_t serial) const;
  void ReadFrom(Connection& c);
  // Returns how many whole frames were taken.
  std::size_t DecodeFrames(Connection& c, zep::ByteBuffer& input, TimePoint now);
  void HandleLine(Connection& c, std::string_view line, TimePoint now);

  void OnJoin(Connection& c, std::string_view line, TimePoint now);
  // Registers the player for c, or, when another connection holds the id,
  // probes that holder and keeps the player waiting on its answer.
  void Register(Connection& c, Player player, TimePoint now);
  // The holder showed it is alive and stays: the JOINs waiting for its id
  // are refused (or handed on, when it has registered under another id).
  void RefuseChallengers(Connection& holder);
  void OnServerList(Connection& c, std::string_view line);
  void OnQuery(Connection& c, std::string_view line);
  void OnAbort(Connection& c);
  void OnGame(Connection& c);
  void OnProbeRequest(Connection& c, std::string_view line, TimePoint now);

  void Enqueue(Connection& c);
  void Slice(Connection& c);
  void FinishQuery(Connection& c, bool complete, const char* how);
  void Probe(Connection& c, TimePoint now);

  void Send(Connection& c, std::string_view text);
  void SendBytes(Connection& c, std::string_view bytes);
  void LimitOutput(Connection& c);
  void Flush(Connection& c);
  void WantWrite(Connection& c, bool want);
  // fault: the connection misbehaved or vanished, worth a line even when no
  // player was registered on it.
  void Close(Connection& c, const char* reason, bool fault);

  std::string Who(const Connection& c) const;
  // One log line about `source` (an address in network order; 0 for the
  // server itself), through the log's limiter.
  void Log(std::uint32_t source, const std::string& who, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void WriteLogLine(const std::string& who, const char* message);

  ServerOptions options_;
  std::string serverListFrames_;  // START, the lines, END, already framed
  std::uint16_t port_ = 0;
  Clock::duration tick_{};

  int listenFd_ = -1;
  int timerFd_ = -1;
  int wakeFd_ = -1;
  // Held in reserve: when descriptors run out, it is given up for a moment
  // to accept and close the waiting connection, which would otherwise keep
  // the listener readable and the loop spinning.
  int spareFd_ = -1;
  platform::WatchId listenWatch_ = 0;
  platform::WatchId timerWatch_ = 0;
  platform::WatchId wakeWatch_ = 0;

  std::vector<std::unique_ptr<Connection>> connections_;  // indexed by fd
  std::size_t connectionCount_ = 0;
  std::uint64_t nextSerial_ = 1;
  std::vector<std::unique_ptr<Connection>> graveyard_;
  std::vector<std::pair<int, std::uint64_t>> sliceQueue_;
  bool wakeSignalled_ = false;
  // Connections open per peer address (network order).
  std::unordered_map<std::uint32_t, std::size_t> perAddress_;
  // JOINs whose holder was dropped, registered once the callback is done.
  std::vector<Connection::Challenger> handovers_;
  LogLimiter logLimiter_;
  Refusals refusals_;

  PlayerRegistry registry_;
  // Shared by all connections: a receive lands here, whole frames are taken
  // from here, and only the tail of an unfinished frame is copied to the
  // connection's own buffer.
  zep::ByteBuffer scratch_{kReadChunk};
  std::string text_;
  std::string line_;

  std::time_t stampSecond_ = -1;
  char stampPrefix_[32] = "";
};

LobbyServer::LobbyServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
LobbyServer::~LobbyServer() = default;
bool LobbyServer::Start(std::string* error) { return impl_->Start(error); }
bool LobbyServer::Adopt(int fd, const sockaddr_in& peer) { return impl_->Adopt(fd, peer); }
void LobbyServer::Stop() { impl_->Stop(); }
std::uint16_t LobbyServer::port() const { return impl_->port(); }
std::size_t LobbyServer::connectionCount() const { return impl_->connectionCount(); }
std::size_t LobbyServer::playerCount() const { return impl_->playerCount(); }

void LobbyServer::Impl::EncodeServerList(const ServerList& list) {
  zep::ByteBuffer frames;
  zep::AppendFrame(frames, "CINI START", false);
  for (const std::string& line : list.lines) {
    // The agent drops the last two characters of each line unseen.
    zep::AppendFrame(frames, "CINI " + line + "\r\n", false);
  }
  zep::AppendFrame(frames, "CINI END", false);
  serverListFrames_.assign(frames.Readable());
}

bool LobbyServer::Impl::Start(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error != nullptr) *error = what + ": " + std::strerror(errno);
    Stop();
    return false;
  };

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  if (inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
    if (error != nullptr) *error = "not an IPv4 address: " + options_.bindAddress;
    return false;
  }

  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return fail("socket");
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail("cannot bind " + options_.bindAddress + ":" + std::to_string(options_.port));
  }
  if (listen(listenFd_, SOMAXCONN) != 0) return fail("listen");
  sockaddr_in bound{};
  socklen_t boundSize = sizeof bound;
  if (getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) {
    return fail("getsockname");
  }
  port_ = ntohs(bound.sin_port);

  // Probes and their deadlines are checked on a tick fine enough for the
  // shorter of the two periods, but never busier than 100 times a second.
  const auto shorter = std::min(options_.pingInterval, options_.pingTimeout);
  tick_ = std::clamp<Clock::duration>(shorter / 4, std::chrono::milliseconds(10), std::chrono::seconds(1));
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timerFd_ < 0) return fail("timerfd_create");
  const auto tickNs = std::chrono::duration_cast<std::chrono::nanoseconds>(tick_).count();
  itimerspec period{};
  period.it_interval.tv_sec = static_cast<time_t>(tickNs / 1000000000);
  period.it_interval.tv_nsec = static_cast<long>(tickNs % 1000000000);
  period.it_value = period.it_interval;
  if (timerfd_settime(timerFd_, 0, &period, nullptr) != 0) return fail("timerfd_settime");

  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) return fail("eventfd");
  spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);

  listenWatch_ = platform::WatchFd(listenFd_, EPOLLIN, [this](std::uint32_t) {
    OnAcceptable();
    Reap();
  });
  timerWatch_ = platform::WatchFd(timerFd_, EPOLLIN, [this](std::uint32_t) {
    OnTick();
    Reap();
  });
  wakeWatch_ = platform::WatchFd(wakeFd_, EPOLLIN, [this](std::uint32_t) {
    OnWake();
    Reap();
  });
  if (listenWatch_ == 0 || timerWatch_ == 0 || wakeWatch_ == 0) return fail("cannot watch on the loop");

  Log(0, "-", "listening on %s:%u, at most %zu players", options_.bindAddress.c_str(), port_,
      options_.maxPlayers);
  return true;
}

void LobbyServer::Impl::Stop() {
  std::size_t players = registry_.size();
  std::size_t closed = 0;
  for (auto& slot : connections_) {
    if (!slot) continue;
    Connection& c = *slot;
    if (c.player != nullptr) registry_.Remove(c.player);
    platform::UnwatchFd(c.watch);
    ::close(c.fd);
    slot.reset();
    ++closed;
  }
  connections_.clear();
  connectionCount_ = 0;
  perAddress_.clear();
  handovers_.clear();
  graveyard_.clear();
  refusals_.CloseAll();
  sliceQueue_.clear();
  for (platform::WatchId* watch : {&listenWatch_, &timerWatch_, &wakeWatch_}) {
    if (*watch != 0) platform::UnwatchFd(*watch);
    *watch = 0;
  }
  for (int* fd : {&listenFd_, &timerFd_, &wakeFd_, &spareFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (closed > 0 || players > 0) {
    Log(0, "-", "stopped: %zu connections closed, %zu players were registered", closed, players);
  }
}

// ---- connections -----------------------------------------------------------

void LobbyServer::Impl::OnAcceptable() {
  for (int i = 0; i < kMaxAcceptsPerWake; ++i) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&address), &size,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      Accept(fd, address);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if ((errno == EMFILE || errno == ENFILE) && spareFd_ >= 0) {
      ::close(spareFd_);
      const int refused = accept(listenFd_, nullptr, nullptr);
      if (refused >= 0) ::close(refused);
      spareFd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
      Log(0, "-", "out of file descriptors: a new connection was closed");
    }
    return;  // EAGAIN: nothing more waiting
  }
}

bool LobbyServer::Impl::Accept(int fd, const sockaddr_in& address) {
  const std::uint32_t source = address.sin_addr.s_addr;
  const auto who = [&] { return AddressText(address.sin_addr) + "/" + std::to_string(ntohs(address.sin_port)); };
  if (connectionCount_ >= options_.maxPlayers) {
    refusals_.Refuse(fd, "server full", Clock::now());
    Log(source, who(), "refused: the server is full (%zu connections)", connectionCount_);
    return false;
  }
  std::size_t& fromThere = perAddress_[source];
  if (fromThere >= options_.maxPerAddress) {
    refusals_.Refuse(fd, "too many connections from this address", Clock::now());
    Log(source, who(), "refused: %zu connections from this address already", fromThere);
    return false;
  }
  const int one = 1;
  // Frames are gathered per loop turn and written at once; waiting for an
  // acknowledgement before the next small write would only add delay.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  auto owned = std::make_unique<Connection>();
  Connection& c = *owned;
  const TimePoint now = Clock::now();
  c.fd = fd;
  c.serial = nextSerial_++;
  c.peer = address.sin_addr;
  c.peerPort = ntohs(address.sin_port);
  sockaddr_in local{};
  socklen_t localSize = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 && local.sin_family == AF_INET)
    c.local = local.sin_addr;
  c.nextProbe = now + options_.pingInterval;
  c.lines = TokenBucket(options_.lineRate, static_cast<double>(options_.lineBurst), now);
  c.watch = platform::WatchFd(fd, EPOLLIN, [this, fd, serial = c.serial](std::uint32_t events) {
    OnConnectionEvent(fd, serial, events);
    Reap();
  });
  if (c.watch == 0) {
    ::close(fd);
    return false;
  }
  if (static_cast<std::size_t>(fd) >= connections_.size()) {
    connections_.resize(std::max<std::size_t>(fd + 1, connections_.size() * 2));
  }
  connections_[fd] = std::move(owned);
  ++connectionCount_;
  ++fromThere;
  return true;
}

Connection* LobbyServer::Impl::Lookup(int fd, std::uint64_t serial) const {
  if (fd < 0 || static_cast<std::size_t>(fd) >= connections_.size()) return nullptr;
  Connection* c = connections_[fd].get();
  return c != nullptr && c->serial == serial ? c : nullptr;
}

void LobbyServer::Impl::OnConnectionEvent(int fd, std::uint64_t serial, std::uint32_t events) {
  Connection* c = Lookup(fd, serial);
  if (c == nullptr) return;
  if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ReadFrom(*c);
  if (!c->closed && (events & EPOLLOUT)) {
    Flush(*c);
    if (!c->closed && c->query && !c->queued && (!c->out || c->out->ReadableBytes() < kLowWater)) {
      Enqueue(*c);
    }
  }
}

void LobbyServer::Impl::ReadFrom(Connection& c) {
  scratch_.RetrieveAll();
  scratch_.EnsureWritable(kReadChunk);
  const ssize_t n = recv(c.fd, scratch_.BeginWrite(), kReadChunk, 0);
  if (n == 0) {
    Close(c, "connection closed by the agent", false);
    return;
  }
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    Close(c, "connection lost", false);
    return;
  }
  scratch_.HasWritten(static_cast<std::size_t>(n));
  const TimePoint now = Clock::now();

  std::size_t frames = 0;
  if (c.in) {
    c.in->Append(scratch_.Readable());
    scratch_.RetrieveAll();
    frames = DecodeFrames(c, *c.in, now);
    if (c.closed) return;
    const std::size_t left = c.in->ReadableBytes();
    if (left == 0) {
      c.in.reset();
    } else if (c.in->Capacity() > kMaxHeldInput) {
      // What is left is part of one frame of at most kMaxLineText.
      c.in->Shrink();
    }
  } else {
    frames = DecodeFrames(c, scratch_, now);
    if (c.closed) return;
    if (scratch_.ReadableBytes() > 0) {
      c.in = std::make_unique<zep::ByteBuffer>(scratch_.ReadableBytes());
      c.in->Append(scratch_.Readable());
    }
    scratch_.RetrieveAll();
  }
  // A frame under way must be complete within the ping timeout of its
  // start; one that never ends would hold its buffer for as long as the
  // peer likes while the frames before it answer every probe.
  if (!c.in) {
    c.frameDue = kNoDeadline;
  } else if (frames > 0 || c.frameDue == kNoDeadline) {
    c.frameDue = now + options_.pingTimeout;
  }
  Flush(c);
}

std::size_t LobbyServer::Impl::DecodeFrames(Connection& c, zep::ByteBuffer& input, TimePoint now) {
  std::size_t frames = 0;
  for (;;) {
    std::uint8_t marker = 0;
    switch (zep::TakeFrame(input, false, text_, marker, LobbyServer::kMaxLineText)) {
      case zep::FrameStatus::kNeedMore:
        return frames;
      case zep::FrameStatus::kBadSignature:
        Close(c, "sent a frame with a bad signature", true);
        return frames;
      case zep::FrameStatus::kTooLong:
        Close(c, "announced a frame longer than any line agents send", true);
        return frames;
      case zep::FrameStatus::kOk:
        break;
    }
    ++frames;
    // Every line counts, CPIN and PING included: a connection that sends
    // more than its bucket holds is not an agent.
    if (!c.lines.Take(now)) {
      Close(c, "sent more lines than its token bucket allows", true);
      return frames;
    }
    c.probeDeadline = kNoDeadline;  // any frame shows the agent is alive
    HandleLine(c, text_, now);
    if (c.closed) return frames;  // a LEAV hands the id on instead
    if (!c.challengers.empty()) RefuseChallengers(c);
  }
}

// ---- protocol --------------------------------------------------------------

void LobbyServer::Impl::HandleLine(Connection& c, std::string_view line, TimePoint now) {
  if (StartsWith(line, "JOIN")) {
    OnJoin(c, line, now);
  } else if (StartsWith(line, "CINI")) {
    OnServerList(c, line);
  } else if (StartsWith(line, "QUER")) {
    OnQuery(c, line);
  } else if (StartsWith(line, "ABORT")) {
    OnAbort(c);
  } else if (StartsWith(line, "GAME")) {
    OnGame(c);
  } else if (StartsWith(line, "LEAV")) {
    Close(c, "left", false);
  } else if (StartsWith(line, "CPIN")) {
    OnProbeRequest(c, line, now);
  }
  // "PING" (an answer to a probe) and anything unknown need no reply.
}

void LobbyServer::Impl::OnJoin(Connection& c, std::string_view line, TimePoint now) {
  const std::size_t separator = line.find(kSeparator);
  const std::string_view head = line.substr(0, separator);
  const std::string_view description =
      separator == std::string_view::npos ? std::string_view() : line.substr(separator + 1);

  const std::optional<std::string_view> idField = Param(head, "ID");
  const std::optional<std::uint16_t> port = idField ? ParsePort(*idField) : std::nullopt;
  if (!port) {
    Log(c.peer.s_addr, Who(c), "JOIN without a valid port ignored");
    return;
  }
  const std::string_view app = Param(head, "APP").value_or("");
  const std::string_view own = Param(head, "OWN").value_or("");
  if (app.size() > kMaxField || own.size() > kMaxField || description.size() > kMaxDescription) {
    Log(c.peer.s_addr, Who(c), "JOIN with an oversized field ignored");
    return;
  }

  if (c.player != nullptr) {
    Log(c.peer.s_addr, c.player->id, "registration replaced by a new JOIN");
    registry_.Remove(c.player);
    c.player = nullptr;
  }
  c.waitingJoin.reset();  // a JOIN still waiting is replaced too
  Player player;
  player.id = AddressText(c.peer) + ":" + std::to_string(*port);
  player.app.assign(app);
  player.own.assign(own);
  player.description = Description(std::string(description));
  player.connection = c.fd;
  Register(c, std::move(player), now);
}

void LobbyServer::Impl::Register(Connection& c, Player player, TimePoint now) {
  if (Player* held = registry_.Find(player.id); held != nullptr && held->connection != c.fd) {
    // The id is another live connection's: an agent restarted on the same
    // port while its old connection lingers, or someone at that address
    // wanting the id. The holder is asked first; the newcomer waits.
    Connection& holder = *connections_[held->connection];
    holder.challengers.push_back({c.fd, c.serial, player.id});
    Log(c.peer.s_addr, Who(c), "JOIN for %s waits: its holder is probed first", player.id.c_str());
    c.waitingJoin = std::make_unique<Player>(std::move(player));
    Probe(holder, now);
    Flush(holder);
    return;
  }
  if (c.player != nullptr) registry_.Remove(c.player);
  c.player = registry_.Add(std::move(player));
  Log(c.peer.s_addr, c.player->id, "registered (APP=%s), %zu players", Printable(c.player->app).c_str(),
      registry_.size());
}

void LobbyServer::Impl::RefuseChallengers(Connection& holder) {
  for (Connection::Challenger& challenger : std::exchange(holder.challengers, {})) {
    // A holder that registered under another id meanwhile has let this one go.
    if (holder.player == nullptr || holder.player->id != challenger.id) {
      handovers_.push_back(std::move(challenger));
      continue;
    }
    Connection* c = Lookup(challenger.fd, challenger.serial);
    if (c == nullptr || c->closed || !c->waitingJoin || c->waitingJoin->id != challenger.id) continue;
    c->waitingJoin.reset();
    Log(c->peer.s_addr, Who(*c), "JOIN for %s refused: its holder answered", challenger.id.c_str());
  }
}

void LobbyServer::Impl::Reap() {
  // A holder that was dropped hands its id to the JOINs waiting for it, in
  // the order they came; each registration may drop another connection,
  // whose challengers are then handed on in turn.
  while (!handovers_.empty()) {
    for (const Connection::Challenger& challenger : std::exchange(handovers_, {})) {
      Connection* c = Lookup(challenger.fd, challenger.serial);
      if (c == nullptr || c->closed || !c->waitingJoin || c->waitingJoin->id != challenger.id) continue;
      Player player = std::move(*c->waitingJoin);
      c->waitingJoin.reset();
      Register(*c, std::move(player), Clock::now());
    }
  }
  graveyard_.clear();
}

void LobbyServer::Impl::OnServerList(Connection& c, std::string_view line) {
  if (!options_.serverList) return;
  // An agent without a version of its own reports "0".
  const std::string_view version = Param(line.substr(4), "VER").value_or("0");
  if (version == options_.serverList->version) return;
  SendBytes(c, serverListFrames_);
}

void LobbyServer::Impl::OnQuery(Connection& c, std::string_view line) {
  if (c.query) FinishQuery(c, false, "abandoned for a new query");
  if (c.closed) return;
  if (c.player == nullptr) {
    Send(c, "QRFL");
    Log(c.peer.s_addr, Who(c), "query refused: not registered");
    return;
  }
  const std::size_t separator = line.find(kSeparator);
  const std::string_view head = line.substr(0, separator);
  const std::optional<std::string_view> app = Param(head, "APP");
  const std::optional<std::string_view> maxText = Param(head, "MAX");
  const std::optional<std::uint64_t> max = maxText ? ParseMax(*maxText) : std::nullopt;
  if (separator == std::string_view::npos || !app || !max || line.size() - separator - 1 > kMaxFilter) {
    Send(c, "QRFL");
    Log(c.peer.s_addr, c.player->id, "query refused: unreadable QUER line");
    return;
  }
  auto query = std::make_unique<Query>();
  query->app.assign(*app);
  query->filter = Filter::Parse(line.substr(separator + 1));
  query->remaining = *max;
  query->standIn = LoopbackStandIn(c.local);
  c.query = std::move(query);
  // Answered from the next loop turn on, so that an ABORT already on its way
  // is seen between slices.
  Enqueue(c);
}

void LobbyServer::Impl::OnAbort(Connection& c) {
  if (c.query) FinishQuery(c, false, "aborted");
}

void LobbyServer::Impl::OnGame(Connection& c) {
  if (c.player == nullptr || c.player->inGame) return;
  c.player->inGame = true;
  Log(c.peer.s_addr, c.player->id, "in a game, no longer listed");
}

void LobbyServer::Impl::OnProbeRequest(Connection& c, std::string_view line, TimePoint now) {
  const std::string_view id = Param(line.substr(4), "ID").value_or("");
  Player* player = registry_.Find(id);
  if (player == nullptr) {
    // The asker may name a player on the server's machine as it was listed.
    const std::string registered = RegisteredIdOf(id, LoopbackStandIn(c.local));
    if (!registered.empty()) player = registry_.Find(registered);
  }
  if (player == nullptr) {
    Log(c.peer.s_addr, Who(c), "reports %s unreachable, who is not registered", Printable(id).c_str());
    return;
  }
  Connection& target = *connections_[player->connection];
  // Each probe costs the named agent an answer: once per ping interval is
  // enough to find a dead one, however many report it.
  if (target.requestedProbe != TimePoint{} && now - target.requestedProbe < options_.pingInterval) return;
  target.requestedProbe = now;
  Log(target.peer.s_addr, player->id, "reported unreachable by %s; probing", Who(c).c_str());
  Probe(target, now);
  Flush(target);
}

void LobbyServer::Impl::Probe(Connection& c, TimePoint now) {
  Send(c, "PING");
  // An earlier probe still unanswered keeps its (earlier) deadline.
  if (c.probeDeadline == kNoDeadline) c.probeDeadline = now + options_.pingTimeout;
}

// ---- queries ---------------------------------------------------------------

void LobbyServer::Impl::Enqueue(Connection& c) {
  if (c.queued) return;
  c.queued = true;
  sliceQueue_.emplace_back(c.fd, c.serial);
  if (!wakeSignalled_) {
    const std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) == sizeof one) wakeSignalled_ = true;
  }
}

void LobbyServer::Impl::OnWake() {
  std::uint64_t count = 0;
  if (read(wakeFd_, &count, sizeof count) < 0 && errno != EAGAIN) return;
  wakeSignalled_ = false;
  // Connections queued while this batch runs wait for the next turn.
  std::vector<std::pair<int, std::uint64_t>> batch;
  batch.swap(sliceQueue_);
  for (const auto& [fd, serial] : batch) {
    Connection* c = Lookup(fd, serial);
    if (c == nullptr) continue;
    c->queued = false;
    if (!c->query) continue;
    // A reader that is behind is resumed by its EPOLLOUT (see OnConnectionEvent).
    if (c->out && c->out->ReadableBytes() >= kLowWater) continue;
    Slice(*c);
    if (c->closed) continue;
    if (c->query) Enqueue(*c);
    Flush(*c);
  }
}

void LobbyServer::Impl::Slice(Connection& c) {
  Query& q = *c.query;
  std::size_t sent = 0;
  std::size_t examined = 0;
  bool reachedMax = false;
  bool pause = false;
  registry_.ScanFrom(&q.cursor, [&](const Player& player) {
    pause = ++examined >= kSliceScan;
    if (player.connection == c.fd || player.inGame || player.app != q.app ||
        !q.filter.Matches(player.description)) {
      return !pause;
    }
    line_.assign("USER ID=");
    AppendListedId(line_, player.id, q.standIn);
    line_ += ";OWN=";
    line_ += player.own;
    line_ += ';';
    line_ += player.description.text();
    Send(c, line_);
    if (c.closed) return false;
    ++q.listed;
    ++sent;
    if (--q.remaining == 0) {
      reachedMax = true;
      return false;
    }
    pause = pause || sent == kSliceLines;
    return !pause;
  });
  if (c.closed) return;
  // A scan that did not pause went past the last player.
  if (reachedMax || !pause) FinishQuery(c, true, "answered");
}

void LobbyServer::Impl::FinishQuery(Connection& c, bool complete, const char* how) {
  std::unique_ptr<Query> query = std::move(c.query);
  Send(c, complete ? "QROK" : "QRFL");
  Log(c.peer.s_addr, c.player != nullptr ? c.player->id : Who(c), "query for APP=%s %s: %zu listed, %s",
      Printable(query->app).c_str(), how, query->listed, complete ? "QROK" : "QRFL");
}

// ---- output ----------------------------------------------------------------

void LobbyServer::Impl::Send(Connection& c, std::string_view text) {
  if (c.closed) return;
  if (!c.out) c.out = std::make_unique<zep::ByteBuffer>(zep::FrameSize(text.size(), false));
  zep::AppendFrame(*c.out, text, false);
  LimitOutput(c);
}

void LobbyServer::Impl::SendBytes(Connection& c, std::string_view bytes) {
  if (c.closed) return;
  if (!c.out) c.out = std::make_unique<zep::ByteBuffer>(bytes.size());
  c.out->Append(bytes);
  LimitOutput(c);
}

void LobbyServer::Impl::LimitOutput(Connection& c) {
  if (c.out->ReadableBytes() > LobbyServer::kMaxPendingOutput) {
    Close(c, "does not read what it is sent", true);
  }
}

void LobbyServer::Impl::Flush(Connection& c) {
  if (c.closed || !c.out) return;
  while (c.out->ReadableBytes() > 0) {
    const ssize_t n = send(c.fd, c.out->Peek(), c.out->ReadableBytes(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out->Retrieve(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WantWrite(c, true);
      return;
    }
    Close(c, "connection lost while sending", true);
    return;
  }
  c.out.reset();
  WantWrite(c, false);
}

void LobbyServer::Impl::WantWrite(Connection& c, bool want) {
  const std::uint32_t events = want ? (EPOLLIN | EPOLLOUT) : EPOLLIN;
  if (events == c.events) return;
  if (platform::ModifyWatch(c.watch, events)) c.events = events;
}

void LobbyServer::Impl::Close(Connection& c, const char* reason, bool fault) {
  if (c.closed) return;
  c.closed = true;
  if (c.player != nullptr) {
    Log(c.peer.s_addr, c.player->id, "removed: %s, %zu players left", reason, registry_.size() - 1);
    registry_.Remove(c.player);
    c.player = nullptr;
  } else if (fault) {
    Log(c.peer.s_addr, Who(c), "dropped: %s", reason);
  }
  // Those waiting for this one's id take it once the callback is done.
  for (Connection::Challenger& challenger : c.challengers) handovers_.push_back(std::move(challenger));
  c.challengers.clear();
  platform::UnwatchFd(c.watch);
  ::close(c.fd);
  --connectionCount_;
  if (auto it = perAddress_.find(c.peer.s_addr); it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
  graveyard_.push_back(std::move(connections_[c.fd]));
}

// ---- probes ----------------------------------------------------------------

void LobbyServer::Impl::OnTick() {
  std::uint64_t expirations = 0;
  if (read(timerFd_, &expirations, sizeof expirations) < 0) return;
  const TimePoint now = Clock::now();
  refusals_.Expire(now);
  if (!options_.quiet) {
    logLimiter_.Summarise(now, [this](std::uint32_t source, std::size_t count, const std::string& example) {
      in_addr address{};
      address.s_addr = source;
      char message[640];
      std::snprintf(message, sizeof message, "%zu more lines like this one were not logged: %s", count,
                    example.c_str());
      WriteLogLine(source == 0 ? "-" : AddressText(address), message);
    });
  }
  for (std::size_t fd = 0; fd < connections_.size(); ++fd) {
    Connection* c = connections_[fd].get();
    if (c == nullptr) continue;
    if (now >= c->probeDeadline) {
      Close(*c, "did not answer PING", true);
      continue;
    }
    if (now >= c->frameDue) {
      Close(*c, "did not finish a frame within the ping timeout", true);
      continue;
    }
    if (now >= c->nextProbe) {
      c->nextProbe = now + options_.pingInterval;
      Probe(*c, now);
      Flush(*c);
    }
  }
}

// ---- log -------------------------------------------------------------------

std::string LobbyServer::Impl::Who(const Connection& c) const {
  if (c.player != nullptr) return c.player->id;
  return AddressText(c.peer) + "/" + std::to_string(c.peerPort);
}

void LobbyServer::Impl::Log(std::uint32_t source, const std::string& who, const char* format, ...) {
  if (options_.quiet) return;
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  // Lines of one kind (their format) about one address: a burst, then a
  // count in one summary line (OnTick), so no flood reaches the disk.
  if (!logLimiter_.Admit(source, format, Clock::now(), who + " " + message)) return;
  WriteLogLine(who, message);
}

void LobbyServer::Impl::WriteLogLine(const std::string& who, const char* message) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != stampSecond_) {
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    std::strftime(stampPrefix_, sizeof stampPrefix_, "%Y-%m-%d %H:%M:%S", &local);
    stampSecond_ = now.tv_sec;
  }
  std::fprintf(stderr, "%s.%03ld %s %s\n", stampPrefix_, now.tv_nsec / 1000000, who.c_str(), message);
}

}  // namespace vossad
