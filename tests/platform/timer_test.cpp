// The one-shot loop timer: it fires once, on the loop, and may be restarted,
// cancelled or destroyed from its own callback.
#include <chrono>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "platform/timer.hpp"

namespace {

using namespace std::chrono_literals;
using platform::Timer;

// Pumps until done() holds; about ten seconds at most (a bound for a broken
// build, not a timing assertion).
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i) plat_pump(5);
  return done();
}

TEST(Timer, FiresOnceOnTheLoopAndIsThenNoLongerArmed) {
  int fired = 0;
  Timer timer([&] { ++fired; });
  EXPECT_FALSE(timer.IsArmed());
  ASSERT_TRUE(timer.Start(20ms));
  EXPECT_TRUE(timer.IsArmed());
  EXPECT_EQ(fired, 0) << "nothing happens outside the loop";
  ASSERT_TRUE(PumpUntil([&] { return fired > 0; }));
  for (int i = 0; i < 10; ++i) plat_pump(5);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer.IsArmed());
}

TEST(Timer, ACancelledTimerDoesNotFireAndARestartReplacesTheEarlierArming) {
  int fired = 0;
  Timer timer([&] { ++fired; });
  ASSERT_TRUE(timer.Start(0ms));
  timer.Stop();
  EXPECT_FALSE(timer.IsArmed());
  for (int i = 0; i < 10; ++i) plat_pump(5);
  EXPECT_EQ(fired, 0);
  ASSERT_TRUE(timer.Start(10s));
  ASSERT_TRUE(timer.Start(0ms));
  ASSERT_TRUE(PumpUntil([&] { return fired > 0; }));
  EXPECT_EQ(fired, 1);
}

TEST(Timer, TheCallbackMayRestartItsTimerOrDestroyIt) {
  int fired = 0;
  Timer again([&] {
    if (++fired < 3) again.Start(0ms);
  });
  ASSERT_TRUE(again.Start(0ms));
  ASSERT_TRUE(PumpUntil([&] { return fired == 3; }));

  bool destroyed = false;
  std::unique_ptr<Timer> doomed;
  doomed = std::make_unique<Timer>([&] {
    doomed.reset();
    destroyed = true;
  });
  ASSERT_TRUE(doomed->Start(0ms));
  EXPECT_TRUE(PumpUntil([&] { return destroyed; }));
}

}  // namespace
