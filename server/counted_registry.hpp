// counted_registry.hpp - a Registry that counts what passes through it into
// the lobby's metrics (internal to vossad): registrations, removals, the
// players in all and per application. In a fleet these are the instance's
// own players, the ones registered at it. It wraps whichever registry the
// server runs on, so the counting is the same for every kind of store.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "lobby_metrics.hpp"
#include "registry.hpp"

namespace vossad {

class CountedRegistry final : public Registry {
 public:
  // The most applications whose players are published one by one (those
  // with the most players); names are chosen by agents, so without a bound
  // anyone could grow the metrics without end.
  static constexpr std::size_t kMaxPublishedApplications = 50;

  CountedRegistry(std::unique_ptr<Registry> inner, LobbyMetrics& metrics)
      : inner_(std::move(inner)), metrics_(metrics) {}

  void Start(FleetEvents* events) override { inner_->Start(events); }
  bool AskProbe(const Player& player, std::string_view reporter) override { return inner_->AskProbe(player, reporter); }
  bool Challenge(const Player& held) override { return inner_->Challenge(held); }
  void Kept(std::string_view id, std::string_view challenger) override { inner_->Kept(id, challenger); }
  bool HeldElsewhere(const Player& player) const override { return inner_->HeldElsewhere(player); }

  const Player* Add(Player player, ConnectionRef* displaced = nullptr) override;
  void Remove(const Player* player) override;
  void SetInGame(const Player* player) override { inner_->SetInGame(player); }
  const Player* Find(std::string_view id) const override { return inner_->Find(id); }
  std::size_t size() const override { return inner_->size(); }
  std::size_t ScanFrom(std::uint64_t from, std::span<const Player*> out) const override {
    return inner_->ScanFrom(from, out);
  }

  // Hands the metrics a copy of the players per application when they
  // changed since the last time; run from the server's tick.
  void Publish();

 private:
  void Count(const std::string& app, int by);

  std::unique_ptr<Registry> inner_;
  LobbyMetrics& metrics_;
  std::unordered_map<std::string, std::size_t> perApplication_;
  // The players registered through this registry: all of them on a server
  // of its own, this instance's in a fleet (the replica holds more).
  std::size_t own_ = 0;
  bool changed_ = false;
};

}  // namespace vossad
