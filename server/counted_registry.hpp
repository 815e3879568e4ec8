// counted_registry.hpp - a Registry that counts what passes through it into
// the lobby's metrics (internal to vossad): registrations, removals, the
// players in all and per application. It wraps whichever registry the
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
  bool changed_ = false;
};

}  // namespace vossad
