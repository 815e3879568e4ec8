// connection.hpp - one agent's connection to the lobby server and the table
// of them (internal to vossad): the platform's stream channel with the
// lobby's frames, the state the server keeps per connection, and sending,
// flushing and closing, which every module of the server does.
//
// A connection is never freed while a loop callback runs: one closed in it
// is marked `closed` and leaves the table at once, but the object stays
// until ReleaseClosed at the end of the callback, so that no module has to
// worry about a Connection& that disappears under it.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/stream_channel.hpp"
#include "lobby_metrics.hpp"
#include "rate_limits.hpp"
#include "registry.hpp"
#include "server_log.hpp"

namespace vossad {

using TimePoint = Clock::time_point;
inline constexpr TimePoint kNoDeadline = TimePoint::max();

struct Query;  // query_runner.hpp

// A JOIN for an id another live connection holds, waiting on that holder's
// answer to its probe.
struct Challenger {
  ConnectionRef connection;  // the default: at another instance
  std::string id;
  std::string instance;  // that instance's name, for one from elsewhere
};

struct Connection final : platform::StreamChannel {
  // From a record pool: one is made and freed per connection.
  static void* operator new(std::size_t bytes);
  static void operator delete(void* memory) noexcept;

  Connection(platform::EventLoop& loop, int fd, const Limits& limits, Handler& handler, ConnectionRef ref,
             const sockaddr_in& address, TokenBucket lineBucket);
  ~Connection();

  // Members are ordered to leave no padding: ten thousand of them are held.
  const ConnectionRef ref;
  const in_addr peer;
  in_addr local{};  // the address the agent reached the server on
  const std::uint16_t peerPort;
  bool sliceQueued = false;  // its query's next slice is due on the loop
  bool closed = false;
  const Player* player = nullptr;
  std::unique_ptr<Query> query;
  TimePoint nextProbe{};
  TimePoint probeDeadline = kNoDeadline;
  // When the frame under way must be complete (the ping timeout after its
  // first byte arrived).
  TimePoint frameDue = kNoDeadline;
  // The last probe another agent's CPIN asked for.
  TimePoint requestedProbe{};
  TokenBucket lines;
  // A JOIN for an id another live connection holds: registered only if
  // that holder fails to answer the probe it was sent.
  std::unique_ptr<Player> waitingJoin;
  // Connections whose JOIN for this one's id waits on its answer.
  std::vector<Challenger> challengers;
};

// The player's id, or the peer's address/port before it registered.
std::string Who(const Connection& c);

class Connections {
 public:
  Connections(Registry& registry, ServerLog& log, LobbyMetrics& metrics)
      : registry_(registry), log_(log), metrics_(metrics) {}
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;

  // An open connection; null for one closed or owned elsewhere.
  Connection* Find(ConnectionRef ref) const;
  void Insert(std::unique_ptr<Connection> connection);
  std::size_t size() const { return count_; }
  // What every module counts into.
  LobbyMetrics& metrics() { return metrics_; }
  // Connections open from one address (network order).
  std::size_t FromAddress(std::uint32_t source) const;
  // Calls visit(Connection&) for every open connection.
  template <typename Visit>
  void ForEach(Visit&& visit) {
    for (const std::unique_ptr<Connection>& c : table_) {
      if (c) visit(*c);
    }
  }

  // One frame without close marker. A connection whose unsent output
  // passes the cap is not reading and is closed.
  void Send(Connection& c, std::string_view text);
  // Bytes already framed.
  void SendBytes(Connection& c, std::string_view bytes);
  // Gives the kernel what it takes; a send that fails closes.
  void Flush(Connection& c);
  // Closes now: the player is removed, the drop logged, and the JOINs that
  // waited for this one's id are handed on.
  void Close(Connection& c, DropReason reason);

  // JOINs whose holder let the id go, registered once the callback is done
  // (Probes::HandOver), in the order they were handed on.
  std::vector<Challenger>& handovers() { return handovers_; }
  // Frees the connections closed during the callback.
  void ReleaseClosed() { closed_.clear(); }
  // Closes everything without a line each; returns how many were open.
  std::size_t CloseAll();

 private:
  Registry& registry_;
  ServerLog& log_;
  LobbyMetrics& metrics_;
  std::vector<std::unique_ptr<Connection>> table_;  // indexed by descriptor
  std::size_t count_ = 0;
  std::vector<std::unique_ptr<Connection>> closed_;
  std::unordered_map<std::uint32_t, std::size_t> perAddress_;
  std::vector<Challenger> handovers_;
};

}  // namespace vossad
