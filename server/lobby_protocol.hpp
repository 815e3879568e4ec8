// lobby_protocol.hpp - the lines agents send the lobby server, one function
// per command, and the pure parsers they use (internal to vossad). What each
// command does is described in lobby_server.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "connection.hpp"
#include "lobby_server.hpp"
#include "platform/byte_buffer.hpp"
#include "probes.hpp"
#include "query_runner.hpp"
#include "registry.hpp"
#include "server_list.hpp"
#include "server_log.hpp"

namespace vossad {

// Value of KEY= in the command part of a line ("JOIN ID=2001;APP=x;"): the
// key must follow the command's blank, a ";" or begin the text.
std::optional<std::string_view> Param(std::string_view part, std::string_view key);
// A port of 1 to 65535 in decimal, nothing else.
std::optional<std::uint16_t> ParsePort(std::string_view text);
// A positive decimal number, nothing else.
std::optional<std::uint64_t> ParseMax(std::string_view text);
// The CINI answer for an agent whose list is out of date: "CINI START", one
// "CINI <line>\r\n" per list line, "CINI END", already framed.
std::string EncodeServerList(const ServerList& list);

class LobbyProtocol {
 public:
  LobbyProtocol(const ServerOptions& options, Registry& registry, Connections& connections, ServerLog& log,
                QueryRunner& queries, Probes& probes);
  LobbyProtocol(const LobbyProtocol&) = delete;
  LobbyProtocol& operator=(const LobbyProtocol&) = delete;

  // Takes the whole frames at the front of input and handles each as one
  // line, until one closes the connection; returns how many were taken. A
  // bad frame, or more lines than the connection's bucket holds, closes it.
  std::size_t TakeLines(Connection& c, platform::ByteBuffer& input, TimePoint now);
  // Replaces the list sent to agents (none: CINI is not answered).
  void SetServerList(std::optional<ServerList> list);

 private:
  void HandleLine(Connection& c, std::string_view line, TimePoint now);
  void OnJoin(Connection& c, std::string_view line, TimePoint now);
  void OnServerList(Connection& c, std::string_view line);
  void OnQuery(Connection& c, std::string_view line);
  void OnAbort(Connection& c);
  void OnGame(Connection& c);
  void OnLeave(Connection& c);
  void OnProbeRequest(Connection& c, std::string_view line, TimePoint now);

  const ServerOptions& options_;
  Registry& registry_;
  Connections& connections_;
  ServerLog& log_;
  QueryRunner& queries_;
  Probes& probes_;
  std::optional<ServerList> serverList_;
  std::string serverListFrames_;  // START, the lines, END, already framed
  std::string text_;              // the line being handled
};

}  // namespace vossad
