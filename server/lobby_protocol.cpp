#include "lobby_protocol.hpp"

#include "listed_address.hpp"

#include <charconv>

#include "platform/frame_codec.hpp"

namespace vossad {
namespace {

constexpr char kSeparator = 0x18;
// Registration fields are copied into memory kept for as long as the player
// stays; a hostile JOIN must not be able to make that large. The client's
// own description stays under 700 bytes.
constexpr std::size_t kMaxDescription = 1024;
constexpr std::size_t kMaxField = 255;
// Matching costs players x filter pairs; the client's filters stay under
// 600 bytes.
constexpr std::size_t kMaxFilter = 1024;

bool StartsWith(std::string_view line, std::string_view command) {
  return line.substr(0, command.size()) == command;
}

}  // namespace

std::optional<std::string_view> Param(std::string_view part, std::string_view key) {
  return Params<1>(part, {key})[0];
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

std::string EncodeServerList(const ServerList& list) {
  platform::ByteBuffer frames;
  platform::AppendFrame(frames, "CINI START", false);
  for (const std::string& line : list.lines) {
    // The agent drops the last two characters of each line unseen.
    platform::AppendFrame(frames, "CINI " + line + "\r\n", false);
  }
  platform::AppendFrame(frames, "CINI END", false);
  return std::string(frames.Readable());
}

LobbyProtocol::LobbyProtocol(const ServerOptions& options, Registry& registry, Connections& connections,
                             ServerLog& log, QueryRunner& queries, Probes& probes)
    : options_(options),
      registry_(registry),
      connections_(connections),
      log_(log),
      queries_(queries),
      probes_(probes) {
  SetServerList(options_.serverList);
}

void LobbyProtocol::SetServerList(std::optional<ServerList> list) {
  serverList_ = std::move(list);
  serverListFrames_ = serverList_ ? EncodeServerList(*serverList_) : std::string();
}

std::size_t LobbyProtocol::TakeLines(Connection& c, platform::ByteBuffer& input, TimePoint now) {
  std::size_t frames = 0;
  for (;;) {
    std::uint8_t marker = 0;
    switch (platform::TakeFrame(input, false, text_, marker, LobbyServer::kMaxLineText)) {
      case platform::FrameStatus::kNeedMore:
        return frames;
      case platform::FrameStatus::kBadSignature:
        connections_.Close(c, DropReason::kBadSignature);
        return frames;
      case platform::FrameStatus::kTooLong:
        connections_.Close(c, DropReason::kFrameTooLong);
        return frames;
      case platform::FrameStatus::kOk:
        break;
    }
    ++frames;
    // Every line counts, CPIN and PING included: a connection that sends
    // more than its bucket holds is not an agent.
    if (!c.lines.Take(now)) {
      connections_.Close(c, DropReason::kLineFlood);
      return frames;
    }
    c.probeDeadline = kNoDeadline;  // any frame shows the agent is alive
    HandleLine(c, text_, now);
    if (c.closed) return frames;  // a LEAV hands the id on instead
    if (!c.challengers.empty()) probes_.RefuseChallengers(c);
  }
}

void LobbyProtocol::HandleLine(Connection& c, std::string_view line, TimePoint now) {
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
    OnLeave(c);
  } else if (StartsWith(line, "CPIN")) {
    OnProbeRequest(c, line, now);
  }
  // "PING" (an answer to a probe) and anything unknown need no reply.
}

void LobbyProtocol::OnJoin(Connection& c, std::string_view line, TimePoint now) {
  const std::size_t separator = line.find(kSeparator);
  const std::string_view head = line.substr(0, separator);
  const std::string_view description =
      separator == std::string_view::npos ? std::string_view() : line.substr(separator + 1);

  const auto [idField, appField, ownField] = Params<3>(head, {"ID", "APP", "OWN"});
  const std::optional<std::uint16_t> port = idField ? ParsePort(*idField) : std::nullopt;
  if (!port) {
    log_.Write(c.peer.s_addr, Who(c), "JOIN without a valid port ignored");
    return;
  }
  const std::string_view app = appField.value_or("");
  const std::string_view own = ownField.value_or("");
  if (app.size() > kMaxField || own.size() > kMaxField || description.size() > kMaxDescription) {
    log_.Write(c.peer.s_addr, Who(c), "JOIN with an oversized field ignored");
    return;
  }

  if (c.player != nullptr) {
    log_.Write(c.peer.s_addr, c.player->id, "registration replaced by a new JOIN");
    registry_.Remove(c.player);
    c.player = nullptr;
  }
  c.waitingJoin.reset();  // a JOIN still waiting is replaced too
  Player player;
  player.id = AddressText(c.peer, ':', *port);
  player.app.assign(app);
  player.own.assign(own);
  player.description = Description(description);
  player.connection = c.ref;
  probes_.Register(c, std::move(player), now);
}

void LobbyProtocol::OnServerList(Connection& c, std::string_view line) {
  if (!serverList_) return;
  // An agent without a version of its own reports "0".
  const std::string_view version = Param(line.substr(4), "VER").value_or("0");
  if (version == serverList_->version) return;
  connections_.SendBytes(c, serverListFrames_);
}

void LobbyProtocol::OnQuery(Connection& c, std::string_view line) {
  if (c.query) queries_.Finish(c, false, "abandoned for a new query");
  if (c.closed) return;
  if (c.player == nullptr) {
    connections_.Send(c, "QRFL");
    log_.Write(c.peer.s_addr, Who(c), "query refused: not registered");
    return;
  }
  const std::size_t separator = line.find(kSeparator);
  const std::string_view head = line.substr(0, separator);
  const auto [app, maxText] = Params<2>(head, {"APP", "MAX"});
  const std::optional<std::uint64_t> max = maxText ? ParseMax(*maxText) : std::nullopt;
  if (separator == std::string_view::npos || !app || !max || line.size() - separator - 1 > kMaxFilter) {
    connections_.Send(c, "QRFL");
    log_.Write(c.peer.s_addr, c.player->id, "query refused: unreadable QUER line");
    return;
  }
  auto query = std::make_unique<Query>();
  query->app.assign(*app);
  query->filter = Filter::Parse(line.substr(separator + 1));
  query->remaining = *max;
  query->standIn = LoopbackStandIn(c.local);
  queries_.Start(c, std::move(query));
}

void LobbyProtocol::OnAbort(Connection& c) {
  if (c.query) queries_.Finish(c, false, "aborted");
}

void LobbyProtocol::OnGame(Connection& c) {
  if (c.player == nullptr || c.player->inGame) return;
  registry_.SetInGame(c.player);
  log_.Write(c.peer.s_addr, c.player->id, "in a game, no longer listed");
}

void LobbyProtocol::OnLeave(Connection& c) { connections_.Close(c, DropReason::kLeft); }

void LobbyProtocol::OnProbeRequest(Connection& c, std::string_view line, TimePoint now) {
  const std::string_view id = Param(line.substr(4), "ID").value_or("");
  const Player* player = registry_.Find(id);
  if (player == nullptr) {
    // The asker may name a player on the server's machine as it was listed.
    const std::string registered = RegisteredIdOf(id, LoopbackStandIn(c.local));
    if (!registered.empty()) player = registry_.Find(registered);
  }
  if (player == nullptr) {
    log_.Write(c.peer.s_addr, Who(c), "reports %s unreachable, who is not registered", Printable(id).c_str());
    return;
  }
  // A player whose connection another instance owns is probed by it.
  if (Connection* target = connections_.Find(player->connection)) {
    probes_.ProbeReported(*target, Who(c), now);
  } else {
    registry_.AskProbe(*player, Who(c));
  }
}

}  // namespace vossad
