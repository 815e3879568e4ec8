// What the lobby counts for its metrics: registrations, removals and the
// players per application as a Registry wrapper sees them, and the bound on
// the application names it publishes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "counted_registry.hpp"
#include "metrics_export.hpp"
#include "player_registry.hpp"

namespace {

using namespace vossad;

Player Named(const std::string& id, const std::string& app) {
  Player p;
  p.id = id;
  p.app = app;
  return p;
}

TEST(CountedRegistry, CountsReplacementsAndRemovalsAndPublishesOnlyOnChange) {
  LobbyMetrics metrics;
  CountedRegistry registry(std::make_unique<PlayerRegistry>(), metrics);
  registry.Add(Named("1.2.3.4:1", "Corva"));
  registry.Add(Named("1.2.3.4:2", "Corva"));
  // The same id again, under another application: the first is replaced.
  const Player* moved = registry.Add(Named("1.2.3.4:1", "Chess"));
  EXPECT_EQ(metrics.registrations, 3u);
  EXPECT_EQ(metrics.removals, 1u);
  EXPECT_EQ(metrics.players, 2);
  EXPECT_TRUE(metrics.applications().empty()) << "nothing until published";
  registry.Publish();
  EXPECT_EQ(metrics.applications(), (LobbyMetrics::Applications{{"Chess", 1}, {"Corva", 1}}));

  registry.Remove(moved);
  registry.Publish();
  EXPECT_EQ(metrics.applications(), (LobbyMetrics::Applications{{"Corva", 1}}));
  EXPECT_EQ(metrics.players, 1);
  EXPECT_EQ(metrics.removals, 2u);
}

TEST(CountedRegistry, PublishesOnlyTheApplicationsWithTheMostPlayers) {
  LobbyMetrics metrics;
  CountedRegistry registry(std::make_unique<PlayerRegistry>(), metrics);
  const std::size_t many = CountedRegistry::kMaxPublishedApplications + 10;
  for (std::size_t i = 0; i < many; ++i) {
    registry.Add(Named("1.2.3.4:" + std::to_string(i + 1), "app" + std::to_string(i)));
  }
  registry.Add(Named("1.2.3.4:9999", "app59"));
  registry.Publish();
  const LobbyMetrics::Applications published = metrics.applications();
  ASSERT_EQ(published.size(), CountedRegistry::kMaxPublishedApplications);
  EXPECT_EQ(published.front(), (std::pair<std::string, std::size_t>{"app59", 2}));
  EXPECT_EQ(metrics.players, static_cast<std::int64_t>(many + 1)) << "the total counts them all";
}

TEST(MetricsExport, ApplicationNamesBecomeShortPrintableLabels) {
  EXPECT_EQ(LabelText("Corva 1.0"), "Corva 1.0");
  EXPECT_EQ(LabelText("a\nb\x7f\xc3\xa9"), "a?b???");
  EXPECT_EQ(LabelText(std::string(300, 'x')).size(), 64u);
}

}  // namespace
