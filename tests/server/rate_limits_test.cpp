// The server's token bucket and log limiter, on a clock the test moves.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "rate_limits.hpp"

namespace {

using namespace std::chrono_literals;
using vossad::Clock;
using vossad::LogLimiter;
using vossad::TokenBucket;

const Clock::time_point t0 = Clock::time_point{} + 1000s;

TEST(TokenBucket, ABurstIsTakenThenTokensComeBackAtTheRate) {
  TokenBucket bucket(10, 3, t0);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(bucket.Take(t0));
  EXPECT_FALSE(bucket.Take(t0));
  EXPECT_FALSE(bucket.Take(t0 + 50ms));
  EXPECT_TRUE(bucket.Take(t0 + 100ms));
  EXPECT_FALSE(bucket.Take(t0 + 100ms));
  EXPECT_TRUE(bucket.IsFull(t0 + 1h)) << "never more than the burst saved up";
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(bucket.Take(t0 + 1h));
  EXPECT_FALSE(bucket.Take(t0 + 1h));
}

struct Summary {
  std::uint32_t source;
  std::size_t count;
  std::string example;
  bool operator==(const Summary&) const = default;
};

std::vector<Summary> Summaries(LogLimiter& limiter, Clock::time_point now) {
  std::vector<Summary> out;
  limiter.Summarise(now, [&](std::uint32_t source, std::size_t count, const std::string& example) {
    out.push_back({source, count, example});
  });
  return out;
}

TEST(LogLimiter, LinesOfOneKindAboutOneAddressBeyondTheBurstAreCountedIntoOneSummary) {
  LogLimiter limiter({/*linesPerSecond=*/1, /*burst=*/2, /*maxEntries=*/16});
  static const char kind[] = "refused: %s";
  EXPECT_TRUE(limiter.Admit(7, kind, t0, "a"));
  EXPECT_TRUE(limiter.Admit(7, kind, t0, "b"));
  EXPECT_FALSE(limiter.Admit(7, kind, t0, "c"));
  EXPECT_FALSE(limiter.Admit(7, kind, t0 + 5s, "d")) << "held back until the summary is out";
  static const char other[] = "registered %s";
  EXPECT_TRUE(limiter.Admit(7, other, t0, "x")) << "another kind has its own burst";
  EXPECT_TRUE(limiter.Admit(8, kind, t0, "y")) << "and so has another address";

  EXPECT_EQ(Summaries(limiter, t0 + 5s), (std::vector<Summary>{{7, 2, "c"}}));
  EXPECT_TRUE(Summaries(limiter, t0 + 6s).empty());
  EXPECT_TRUE(limiter.Admit(7, kind, t0 + 6s, "e")) << "after its summary the kind is logged again";
}

TEST(LogLimiter, ItRemembersABoundedNumberOfEntriesAndForgetsIdleOnes) {
  LogLimiter limiter({1, 1, /*maxEntries=*/4});
  static const char kind[] = "k";
  for (std::uint32_t source = 1; source <= 100; ++source) limiter.Admit(source, kind, t0, "line");
  EXPECT_LE(limiter.entries(), 5u) << "the rest share one bucket";
  const std::vector<Summary> summaries = Summaries(limiter, t0 + 1h);
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].count, 100u - 5u);
  Summaries(limiter, t0 + 2h);
  EXPECT_EQ(limiter.entries(), 0u) << "nothing left to remember";
}

}  // namespace
