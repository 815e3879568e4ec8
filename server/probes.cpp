#include "probes.hpp"

#include <utility>

namespace vossad {

void Probes::Tick(TimePoint now) {
  if (now < nextDue_) return;
  nextDue_ = kNoDeadline;
  connections_.ForEach([&](Connection& c) {
    if (now >= c.probeDeadline) {
      connections_.Close(c, DropReason::kNoPingAnswer);
      return;
    }
    if (now >= c.frameDue) {
      connections_.Close(c, DropReason::kFrameStalled);
      return;
    }
    if (now >= c.nextProbe) {
      c.nextProbe = now + options_.pingInterval;
      Probe(c, now);
      connections_.Flush(c);
      if (c.closed) return;
    }
    Due(std::min({c.probeDeadline, c.frameDue, c.nextProbe}));
  });
}

void Probes::Probe(Connection& c, TimePoint now) {
  connections_.Send(c, "PING");
  if (c.probeDeadline == kNoDeadline) {
    c.probeDeadline = now + options_.pingTimeout;
    Due(c.probeDeadline);
  }
}

void Probes::ProbeReported(Connection& target, const std::string& reporter, TimePoint now) {
  // Each probe costs the named agent an answer: once per ping interval is
  // enough to find a dead one, however many report it.
  LobbyMetrics& metrics = connections_.metrics();
  Increment(metrics.probeRequests);
  if (target.requestedProbe != TimePoint{} && now - target.requestedProbe < options_.pingInterval) return;
  target.requestedProbe = now;
  Increment(metrics.probeRequestsSent);
  log_.Write(target.peer.s_addr, Who(target), "reported unreachable by %s; probing", reporter.c_str());
  Probe(target, now);
  connections_.Flush(target);
}

void Probes::Register(Connection& c, Player player, TimePoint now) {
  if (const Player* held = registry_.Find(player.id); held != nullptr && held->connection != c.ref) {
    // The id is another live connection's: an agent restarted on the same
    // port while its old connection lingers, or someone at that address
    // wanting the id. The holder is asked first; the newcomer waits. (An
    // id held by a connection this server does not own is simply taken.)
    if (Connection* holder = connections_.Find(held->connection)) {
      holder->challengers.push_back({c.ref, player.id});
      log_.Write(c.peer.s_addr, Who(c), "JOIN for %s waits: its holder is probed first", player.id.c_str());
      c.waitingJoin = std::make_unique<Player>(std::move(player));
      Probe(*holder, now);
      connections_.Flush(*holder);
      return;
    }
  }
  if (c.player != nullptr) registry_.Remove(c.player);
  c.player = registry_.Add(std::move(player));
  log_.Write(c.peer.s_addr, c.player->id, "registered (APP=%s), %zu players", Printable(c.player->app).c_str(),
             registry_.size());
}

void Probes::RefuseChallengers(Connection& holder) {
  for (Challenger& challenger : std::exchange(holder.challengers, {})) {
    // A holder that registered under another id meanwhile has let this one go.
    if (holder.player == nullptr || holder.player->id != challenger.id) {
      connections_.handovers().push_back(std::move(challenger));
      continue;
    }
    Connection* c = connections_.Find(challenger.connection);
    if (c == nullptr || !c->waitingJoin || c->waitingJoin->id != challenger.id) continue;
    c->waitingJoin.reset();
    log_.Write(c->peer.s_addr, Who(*c), "JOIN for %s refused: its holder answered", challenger.id.c_str());
  }
}

void Probes::HandOver() {
  // Each registration may drop another connection, whose challengers are
  // then handed on in turn.
  while (!connections_.handovers().empty()) {
    for (const Challenger& challenger : std::exchange(connections_.handovers(), {})) {
      Connection* c = connections_.Find(challenger.connection);
      if (c == nullptr || !c->waitingJoin || c->waitingJoin->id != challenger.id) continue;
      Player player = std::move(*c->waitingJoin);
      c->waitingJoin.reset();
      Register(*c, std::move(player), Clock::now());
    }
  }
}

}  // namespace vossad
