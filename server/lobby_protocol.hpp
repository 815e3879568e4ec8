// lobby_protocol.hpp - the lines agents send the lobby server, one function
// per command, and the pure parsers they use (internal to vossad). What each
// command does is described in lobby_server.hpp.
#pragma once

#include <array>
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
// key must follow the command's blank, a ";" or begin the text; the first
// such place counts. A key holds neither ";" nor " ".
std::optional<std::string_view> Param(std::string_view part, std::string_view key);
// The same for several keys, in one pass over the part.
template <std::size_t N>
std::array<std::optional<std::string_view>, N> Params(std::string_view part,
                                                      const std::array<std::string_view, N>& keys) {
  std::array<std::optional<std::string_view>, N> values;
  std::size_t left = N;
  const std::size_t size = part.size();
  for (std::size_t pos = 0; pos < size; ++pos) {
    if (pos != 0 && part[pos - 1] != ';' && part[pos - 1] != ' ') continue;
    for (std::size_t k = 0; k < N; ++k) {
      const std::string_view key = keys[k];
      const std::size_t after = pos + key.size();
      if (values[k] || after >= size || part[after] != '=') continue;
      std::size_t i = 0;
      while (i < key.size() && part[pos + i] == key[i]) ++i;
      if (i < key.size()) continue;
      std::size_t end = part.find(';', after + 1);
      if (end == std::string_view::npos) end = size;
      values[k] = part.substr(after + 1, end - after - 1);
      if (--left == 0) return values;
    }
  }
  return values;
}
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
