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
//        connection holds takes the id over; the other connection stays
//        open, unregistered. No valid port, or an oversized field: ignored.
//   CINI VER=<v>;
//        list configured and v differs from its version: "CINI START", one
//        "CINI <line>\r\n" per list line, "CINI END". Otherwise nothing.
//   QUER APP=<a>;MAX=<m>; 0x18 <filter>
//        one "USER ID=<id>;OWN=<own>;<description>" per registered player of
//        application a matching the filter (filter.hpp), not in a game and not
//        the asker, in registration order, at most m; then "QROK". Sent in
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
//        that registered player is probed at once with "PING".
//   PING   nothing: like every frame it counts as an answer to a probe.
//   anything else: ignored.
// Every connection is sent "PING" every ping interval and dropped when no
// frame arrives within the ping timeout of a probe. A frame over 1 MiB, a bad
// signature, or more unsent output than kMaxPendingOutput drops only that
// connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "server_list.hpp"

namespace vossad {

struct ServerOptions {
  std::string bindAddress = "0.0.0.0";
  std::uint16_t port = 2424;  // 0: any free port
  std::size_t maxPlayers = 10000;
  std::chrono::milliseconds pingInterval{30000};
  std::chrono::milliseconds pingTimeout{10000};
  bool quiet = false;
  std::optional<ServerList> serverList;  // none: CINI is never answered
};

class LobbyServer {
 public:
  // A client that lets this much output pile up is not reading; dropped.
  static constexpr std::size_t kMaxPendingOutput = std::size_t{4} << 20;

  explicit LobbyServer(ServerOptions options);
  ~LobbyServer();
  LobbyServer(const LobbyServer&) = delete;
  LobbyServer& operator=(const LobbyServer&) = delete;

  // Binds, listens and starts watching on the platform loop. On failure
  // returns false with *error set; nothing stays open.
  bool Start(std::string* error);
  // Closes every connection and the listener; Start may not be called again.
  void Stop();

  // The port actually bound (useful with port 0), once started.
  std::uint16_t port() const;
  std::size_t connectionCount() const;
  std::size_t playerCount() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vossad
