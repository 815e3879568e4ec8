// probes.hpp - keeping the list alive (internal to vossad): the probe tick
// that PINGs every connection each ping interval and drops those that miss
// a deadline, the probes other agents ask for with CPIN, and the take-over
// of an id that another live connection holds.
//
// Take-over: a JOIN for an id held by another connection waits while that
// holder is probed. Any frame from the holder refuses the waiting JOINs
// (RefuseChallengers); a holder that is dropped, leaves or registers under
// another id hands the id on to them, in the order they came (HandOver).
// In a fleet the holder may be at another instance: its owner is asked to
// probe it, and the JOIN waits for the owner's refusal (RemoteKept) or the
// holder's removal (RemoteFreed), at most kRemoteWait past the ping timeout;
// then it is refused if the id is still held, else registered.
//
// The tick walks the connections only when the earliest deadline it knows
// of has come, so that ten thousand quiet players cost no walk a tick: code
// that gives a connection an earlier nextProbe, probeDeadline or frameDue
// than it had tells the tick so with Due.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "connection.hpp"
#include "lobby_server.hpp"
#include "registry.hpp"
#include "server_log.hpp"

namespace vossad {

class Probes {
 public:
  Probes(const ServerOptions& options, Registry& registry, Connections& connections, ServerLog& log)
      : options_(options), registry_(registry), connections_(connections), log_(log) {}
  Probes(const Probes&) = delete;
  Probes& operator=(const Probes&) = delete;

  // Drops the connections past a deadline and probes those whose interval
  // is up.
  void Tick(TimePoint now);
  // A connection has something due at `when`: the tick looks by then.
  void Due(TimePoint when) { nextDue_ = std::min(nextDue_, when); }
  // Sends PING; an earlier probe still unanswered keeps its deadline.
  void Probe(Connection& c, TimePoint now);
  // Another agent (`reporter`) could not reach the target: probed at once,
  // but at most once per ping interval however many ask.
  void ProbeReported(Connection& target, const std::string& reporter, TimePoint now);

  // Registers the player for c, or, when another connection holds the id,
  // probes that holder and keeps the player waiting on its answer.
  void Register(Connection& c, Player player, TimePoint now);
  // The holder showed it is alive: the JOINs waiting for its id are
  // refused (or handed on, when it has registered under another id).
  void RefuseChallengers(Connection& holder);
  // Registers the JOINs whose holder let the id go; run at the end of each
  // loop callback.
  void HandOver();

  // The holder at another instance answered: the JOINs waiting for `id`
  // are refused.
  void RemoteKept(std::string_view id);
  // The holder at another instance is gone: the JOINs waiting for `id`
  // take it (at the next HandOver).
  void RemoteFreed(std::string_view id);

  // How long past the ping timeout a JOIN waits on another instance: its
  // answer travels through the store, and a dead owner is noticed by the
  // heartbeat's expiry.
  static constexpr std::chrono::seconds kRemoteWait{10};

 private:
  struct RemoteWait {
    ConnectionRef connection;
    std::string id;
    TimePoint deadline;
  };
  void ExpireRemoteWaits(TimePoint now);
  // Ends the wait of the JOIN (still waiting for id) on c, if any.
  Connection* Waiting(const RemoteWait& wait) const;

  const ServerOptions& options_;
  Registry& registry_;
  Connections& connections_;
  ServerLog& log_;
  std::vector<RemoteWait> remoteWaits_;
  // Nothing is due before this (at most: a deadline lifted meanwhile only
  // makes the next walk find nothing).
  TimePoint nextDue_ = TimePoint::min();
};

}  // namespace vossad
