#include "probes.hpp"

#include <utility>

namespace vossad {

void Probes::Tick(TimePoint now) {
  if (!remoteWaits_.empty()) ExpireRemoteWaits(now);
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
    // wanting the id. The holder is asked first; the newcomer waits. The
    // holder may be at another instance of the fleet, which is asked to
    // probe it; an id no owner can be asked about is simply taken.
    if (Connection* holder = connections_.Find(held->connection)) {
      holder->challengers.push_back({c.ref, player.id, {}});
      log_.Write(c.peer.s_addr, Who(c), "JOIN for %s waits: its holder is probed first", player.id.c_str());
      c.waitingJoin = std::make_unique<Player>(std::move(player));
      Probe(*holder, now);
      connections_.Flush(*holder);
      return;
    }
    if (registry_.Challenge(*held)) {
      log_.Write(c.peer.s_addr, Who(c), "JOIN for %s waits: its holder at another instance is probed first",
                 player.id.c_str());
      remoteWaits_.push_back({c.ref, player.id, now + options_.pingTimeout + kRemoteWait});
      c.waitingJoin = std::make_unique<Player>(std::move(player));
      return;
    }
  }
  if (c.player != nullptr) registry_.Remove(c.player);
  c.player = registry_.Add(std::move(player));
  // Every registration passes here: a quiet server does not build the app's text.
  if (!log_.quiet()) {
    log_.Write(c.peer.s_addr, c.player->id, "registered (APP=%s), %zu players", Printable(c.player->app).c_str(),
               registry_.size());
  }
}

void Probes::RefuseChallengers(Connection& holder) {
  for (Challenger& challenger : std::exchange(holder.challengers, {})) {
    const bool held = holder.player != nullptr && holder.player->id == challenger.id;
    if (!challenger.instance.empty()) {
      // A holder that let the id go is removed from the store, which
      // tells the challenger's instance.
      if (held) registry_.Kept(challenger.id, challenger.instance);
      continue;
    }
    // A holder that registered under another id meanwhile has let this one go.
    if (!held) {
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

Connection* Probes::Waiting(const RemoteWait& wait) const {
  Connection* c = connections_.Find(wait.connection);
  if (c == nullptr || !c->waitingJoin || c->waitingJoin->id != wait.id) return nullptr;
  return c;
}

void Probes::RemoteKept(std::string_view id) {
  std::erase_if(remoteWaits_, [&](const RemoteWait& wait) {
    if (wait.id != id) return false;
    if (Connection* c = Waiting(wait)) {
      c->waitingJoin.reset();
      log_.Write(c->peer.s_addr, Who(*c), "JOIN for %s refused: its holder at another instance answered",
                 wait.id.c_str());
    }
    return true;
  });
}

void Probes::RemoteFreed(std::string_view id) {
  std::erase_if(remoteWaits_, [&](const RemoteWait& wait) {
    if (wait.id != id) return false;
    connections_.handovers().push_back({wait.connection, wait.id, {}});
    return true;
  });
}

void Probes::ExpireRemoteWaits(TimePoint now) {
  std::erase_if(remoteWaits_, [&](const RemoteWait& wait) {
    if (now < wait.deadline) return false;
    Connection* c = Waiting(wait);
    if (c == nullptr) return true;
    const Player* held = registry_.Find(wait.id);
    if (held != nullptr && connections_.Find(held->connection) == nullptr) {
      c->waitingJoin.reset();
      log_.Write(c->peer.s_addr, Who(*c), "JOIN for %s refused: no answer from the instance holding it",
                 wait.id.c_str());
    } else {
      connections_.handovers().push_back({wait.connection, wait.id, {}});
    }
    return true;
  });
}

}  // namespace vossad
