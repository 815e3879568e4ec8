// lobby_server.hpp - the lobby server: agents connect, register, list each
// other and are kept alive by probes. Internal to the vossad program.
//
// Single-threaded and non-blocking: every socket is watched on the platform
// loop, so the server runs while the host pumps that loop (plat_pump). It
// never waits on one agent; each connection has an input buffer for a frame
// still arriving and an output buffer for what the kernel did not take yet,
// both released when empty.
//
// What the server answers (every line is one frame without close marker):
//   JOIN ID=<port>;APP=<app>;OWN=<own>; 0x18 <description>
//        registers the player "<peer address>:<port>"; nothing is sent back.
//        A second JOIN on the connection replaces the registration (the
//        player moves to the end of the order). A JOIN whose id another
//        connection holds waits: that holder is probed, and only when it
//        fails to answer (and is dropped) does the newcomer take the id; when
//        it answers, the JOIN is refused (logged; nothing is sent). No valid
//        port, or an oversized field: ignored.
//   CINI VER=<v>;
//        list configured and v differs from its version: "CINI START", one
//        "CINI <line>\r\n" per list line, "CINI END". Otherwise nothing.
//   QUER APP=<a>;MAX=<m>; 0x18 <filter>
//        one "USER ID=<id>;OWN=<own>;<description>" per registered player of
//        application a matching the filter (filter.hpp), not in a game and not
//        the asker, in registration order, at most m; then "QROK" (a player
//        registered through loopback is listed under the address the asker
//        reached the server on, listed_address.hpp). Sent in
//        slices, a few dozen lines per loop turn. "QRFL" instead when the
//        asker is not registered or the line cannot be read (no 0x18, no
//        APP=, MAX missing, not a number, or not positive, a filter over
//        1 KiB). A QUER while another is still being answered ends that one
//        with "QRFL" first.
//   ABORT
//        ends a running query at once with "QRFL" (so the closing line tells
//        the agent its list is incomplete); ignored when none runs.
//   GAME   the player is no longer listed.
//   LEAV   the player is removed and the connection closed.
//   CPIN ID=<address>:<port>;
//        that registered player is probed at once with "PING", but at most
//        once per ping interval however many ask.
//   PING   nothing: like every frame it counts as an answer to a probe.
//   anything else: ignored.
// Every connection is sent "PING" every ping interval and dropped when no
// frame arrives within the ping timeout of a probe. Each connection may send
// lineRate lines a second (a token bucket of lineBurst lines); one address
// may hold maxPerAddress connections; one beyond that, or beyond
// maxPlayers, is sent "BUSY <reason>" and closed (refusals.hpp). A frame over
// kMaxLineText, a frame not complete within the ping timeout of its first
// byte, a bad signature, more lines than its bucket holds, or more unsent
// output than kMaxPendingOutput drops only that connection. Log lines of
// one kind about one address are written up to a burst and then summarised
// (rate_limits.hpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <netinet/in.h>

#include "lobby_metrics.hpp"
#include "server_list.hpp"

namespace vossad {

struct ServerOptions {
  std::string bindAddress = "0.0.0.0";
  std::uint16_t port = 2424;  // 0: any free port
  std::size_t maxPlayers = 10000;
  // Connections from one IPv4 address at once (each holds at most one
  // registration, so registrations are capped alike): a household or an
  // office behind one address has a few players, while one address must not
  // be able to fill the server. Tests on loopback raise it.
  std::size_t maxPerAddress = 64;
  // The token bucket of each connection. An agent sends a few lines a
  // minute, and at most one CPIN per pending join request (64) at once when
  // its client refuses them all; a flood runs the bucket dry and is dropped.
  double lineRate = 50;
  std::size_t lineBurst = 200;
  std::chrono::milliseconds pingInterval{30000};
  std::chrono::milliseconds pingTimeout{10000};
  bool quiet = false;
  std::optional<ServerList> serverList;  // none: CINI is never answered
};

class LobbyServer {
 public:
  // A client that lets this much output pile up is not reading; dropped.
  static constexpr std::size_t kMaxPendingOutput = std::size_t{4} << 20;
  // The longest line an agent sends is a JOIN with APP and OWN of 255 bytes
  // and a description of 1 KiB (longer ones are ignored anyway), about 1.6
  // KiB; a frame announcing more closes its connection before its text
  // arrives, so no connection holds more than this of an unfinished frame.
  static constexpr std::size_t kMaxLineText = 4096;

  // The server counts into `metrics` (a set of its own when null), which
  // others may read from any thread.
  explicit LobbyServer(ServerOptions options, std::shared_ptr<LobbyMetrics> metrics = nullptr);
  ~LobbyServer();
  LobbyServer(const LobbyServer&) = delete;
  LobbyServer& operator=(const LobbyServer&) = delete;

  // Binds, listens and starts watching on the platform loop. On failure
  // returns false with *error set; nothing stays open.
  bool Start(std::string* error);
  // Closes every connection and the listener; Start may not be called again.
  void Stop();
  // Takes a connected stream socket as if the listener had accepted it from
  // `peer` (limits included); false when it was refused and closed. Lets the
  // fuzz harness feed the server through socket pairs.
  bool Adopt(int fd, const sockaddr_in& peer);

  // The port actually bound (useful with port 0), once started.
  std::uint16_t port() const;
  std::size_t connectionCount() const;
  std::size_t playerCount() const;
  const std::shared_ptr<LobbyMetrics>& metrics() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vossad
