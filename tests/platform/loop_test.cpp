// The process loop: posted messages, window handles, re-entrant dispatch and
// embedding through the loop's descriptor.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/loop.hpp"
#include "platform/platform.h"

namespace {

struct Recorder {
  std::vector<unsigned> messages;
  std::vector<std::pair<uintptr_t, intptr_t>> params;
};

void Record(plat_hwnd, unsigned msg, uintptr_t w, intptr_t l, void* user) {
  auto* r = static_cast<Recorder*>(user);
  r->messages.push_back(msg);
  r->params.emplace_back(w, l);
}

bool LoopFdReadable() {
  pollfd p{plat_loop_fd(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

void DrainLoop() {
  while (plat_dispatch() > 0) {
  }
}

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { DrainLoop(); }
  void TearDown() override {
    for (plat_hwnd h : windows_) plat_window_destroy(h);
    DrainLoop();
    plat_reset_quit();
  }
  plat_hwnd MakeWindow(Recorder& r) {
    plat_hwnd h = plat_window_create(&Record, &r);
    windows_.push_back(h);
    return h;
  }
  std::vector<plat_hwnd> windows_;
};

TEST_F(LoopTest, WindowHandlesAreDistinctAndNotReusedAfterDestroy) {
  Recorder r;
  plat_hwnd a = MakeWindow(r);
  plat_hwnd b = MakeWindow(r);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(plat_is_window(a));
  plat_window_destroy(a);
  EXPECT_FALSE(plat_is_window(a));
  plat_hwnd c = MakeWindow(r);
  EXPECT_NE(c, a);
  EXPECT_FALSE(plat_is_window(0));
  EXPECT_EQ(plat_window_create(nullptr, nullptr), 0u);
}

TEST_F(LoopTest, PostedMessagesArriveLaterInPostingOrderWithTheirParameters) {
  Recorder r;
  plat_hwnd h = MakeWindow(r);
  for (unsigned i = 0; i < 5; ++i) ASSERT_TRUE(plat_post_message(h, 500 + i, i, -static_cast<intptr_t>(i)));
  EXPECT_TRUE(r.messages.empty()) << "nothing is delivered inside the post";
  DrainLoop();
  EXPECT_EQ(r.messages, (std::vector<unsigned>{500, 501, 502, 503, 504}));
  EXPECT_EQ(r.params[3], (std::pair<uintptr_t, intptr_t>{3, -3}));
}

TEST_F(LoopTest, MessagesForTwoWindowsKeepOneGlobalOrder) {
  std::vector<int> order;
  auto proc = [](plat_hwnd, unsigned msg, uintptr_t, intptr_t, void* user) {
    static_cast<std::vector<int>*>(user)->push_back(static_cast<int>(msg));
  };
  plat_hwnd a = plat_window_create(proc, &order);
  plat_hwnd b = plat_window_create(proc, &order);
  windows_ = {a, b};
  plat_post_message(a, 1, 0, 0);
  plat_post_message(b, 2, 0, 0);
  plat_post_message(a, 3, 0, 0);
  DrainLoop();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(LoopTest, PostToADestroyedWindowIsDropped) {
  Recorder r;
  plat_hwnd h = MakeWindow(r);
  EXPECT_TRUE(plat_post_message(h, 1, 0, 0));
  plat_window_destroy(h);
  EXPECT_FALSE(plat_post_message(h, 2, 0, 0)) << "posting to a destroyed window fails";
  DrainLoop();
  EXPECT_TRUE(r.messages.empty()) << "a message queued before the destroy is dropped too";
}

TEST_F(LoopTest, AWindowDestroyedByAnotherThreadIsGoneForThisOneAtOnce) {
  Recorder r;
  plat_hwnd h = MakeWindow(r);
  plat_hwnd other = MakeWindow(r);
  // This thread has just found both; the destroys come from elsewhere.
  ASSERT_TRUE(plat_post_message(other, 1, 0, 0));
  ASSERT_TRUE(plat_post_message(h, 2, 0, 0));
  std::thread([h] { plat_window_destroy(h); }).join();
  EXPECT_FALSE(plat_is_window(h));
  EXPECT_FALSE(plat_post_message(h, 3, 0, 0));
  EXPECT_TRUE(plat_post_message(other, 4, 0, 0)) << "the other window is still there";
  DrainLoop();
  EXPECT_EQ(r.messages, (std::vector<unsigned>{1, 4})) << "the destroyed window's queued message is dropped";
}

TEST_F(LoopTest, PostsFromOtherThreadsAreDeliveredOnTheLoopThreadInPerThreadOrder) {
  struct PerThread {
    std::vector<std::vector<unsigned>> seen{4};
    std::thread::id loopThread = std::this_thread::get_id();
    bool wrongThread = false;
  } state;
  auto proc = [](plat_hwnd, unsigned msg, uintptr_t w, intptr_t, void* user) {
    auto* s = static_cast<PerThread*>(user);
    if (std::this_thread::get_id() != s->loopThread) s->wrongThread = true;
    s->seen[w].push_back(msg);
  };
  plat_hwnd h = plat_window_create(proc, &state);
  windows_.push_back(h);
  std::vector<std::thread> threads;
  for (uintptr_t t = 0; t < 4; ++t)
    threads.emplace_back([h, t] {
      for (unsigned i = 0; i < 1000; ++i) plat_post_message(h, i, t, 0);
    });
  for (auto& t : threads) t.join();
  DrainLoop();
  EXPECT_FALSE(state.wrongThread);
  for (auto& seen : state.seen) {
    ASSERT_EQ(seen.size(), 1000u);
    for (unsigned i = 0; i < 1000; ++i) ASSERT_EQ(seen[i], i);
  }
}

// What a callback queues goes after what another thread queued before it,
// and the descriptor tells of work a callback left for the next dispatch.
TEST_F(LoopTest, WorkQueuedByCallbacksKeepsOneOrderWithOtherThreadsAndIsSignalledWhenLeft) {
  std::vector<unsigned> order;
  auto proc = [](plat_hwnd h, unsigned msg, uintptr_t, intptr_t, void* user) {
    auto* seen = static_cast<std::vector<unsigned>*>(user);
    seen->push_back(msg);
    if (msg != 1) return;
    plat_post_message(h, 2, 0, 0);
    std::thread([h] { plat_post_message(h, 3, 0, 0); }).join();
    plat_post_message(h, 4, 0, 0);
    platform::EventLoop::Default().RunInLoop([seen] { seen->push_back(5); });
  };
  plat_hwnd h = plat_window_create(proc, &order);
  windows_.push_back(h);
  plat_post_message(h, 1, 0, 0);
  DrainLoop();
  EXPECT_EQ(order, (std::vector<unsigned>{1, 2, 3, 4, 5}));
  EXPECT_FALSE(LoopFdReadable());

  // A task that keeps queueing itself is left for the next dispatch, and
  // the descriptor says so.
  int ran = 0;
  platform::EventLoop& loop = platform::EventLoop::Default();
  std::function<void()> again = [&] {
    if (++ran < 10) loop.RunInLoop(again);
  };
  loop.RunInLoop(again);
  plat_dispatch();
  ASSERT_LT(ran, 10);
  EXPECT_TRUE(LoopFdReadable()) << "the task is left";
  while (ran < 10) ASSERT_GT(plat_dispatch(), 0);
  EXPECT_FALSE(LoopFdReadable()) << "quiet once it stopped";
}

// More than the loop keeps slots for, messages and tasks mixed, queued by a
// callback on the loop's own turn; then messages alone in the slots the
// tasks had: each item runs once, in order.
TEST_F(LoopTest, ABurstQueuedByACallbackGrowsItsQueueAndKeepsItsOrder) {
  struct State {
    plat_hwnd h = 0;
    int bursts = 0;
    std::vector<unsigned> order;
  } s;
  auto proc = [](plat_hwnd h, unsigned msg, uintptr_t w, intptr_t, void* user) {
    auto* st = static_cast<State*>(user);
    st->order.push_back(msg + static_cast<unsigned>(w));
    if (msg != 0) return;
    const bool withTasks = st->bursts++ == 0;
    for (unsigned i = 1; i <= 20; ++i) {
      if (withTasks && i % 3 == 0)
        platform::EventLoop::Default().RunInLoop([st, i] { st->order.push_back(1000 + i); });
      else
        plat_post_message(h, i, 100, 0);
    }
  };
  s.h = plat_window_create(proc, &s);
  windows_.push_back(s.h);
  std::vector<unsigned> expected;
  for (int burst = 0; burst < 2; ++burst) {
    plat_post_message(s.h, 0, 0, 0);
    expected.push_back(0);
    for (unsigned i = 1; i <= 20; ++i) expected.push_back(burst == 0 && i % 3 == 0 ? 1000 + i : 100 + i);
    DrainLoop();
  }
  EXPECT_EQ(s.order, expected);
}

TEST_F(LoopTest, DescriptorIsReadableExactlyWhileWorkIsReady) {
  Recorder r;
  plat_hwnd h = MakeWindow(r);
  EXPECT_FALSE(LoopFdReadable()) << "quiet when idle";
  plat_post_message(h, 7, 0, 0);
  EXPECT_TRUE(LoopFdReadable());
  DrainLoop();
  EXPECT_FALSE(LoopFdReadable()) << "quiet after a drain";

  int efd = eventfd(0, EFD_NONBLOCK);
  int fired = 0;
  platform::WatchId id = platform::WatchFd(efd, EPOLLIN, [&](std::uint32_t) {
    uint64_t v;
    ASSERT_EQ(read(efd, &v, sizeof v), 8);
    ++fired;
  });
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(LoopFdReadable());
  uint64_t one = 1;
  ASSERT_EQ(write(efd, &one, sizeof one), 8);
  EXPECT_TRUE(LoopFdReadable());
  DrainLoop();
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(LoopFdReadable());
  platform::UnwatchFd(id);
  close(efd);
}

// A callback that runs a nested pump (as a modal box or a synchronous sound
// would) must see later messages in order, and the outer dispatch must not
// deliver anything twice.
TEST_F(LoopTest, DispatchCanBeReenteredFromACallback) {
  struct State {
    std::vector<unsigned> order;
    bool nested = false;
  } s;
  auto proc = [](plat_hwnd, unsigned msg, uintptr_t, intptr_t, void* user) {
    auto* st = static_cast<State*>(user);
    st->order.push_back(msg);
    if (msg == 1 && !st->nested) {
      st->nested = true;
      while (plat_dispatch() > 0) {
      }
      st->order.push_back(100);  // marks the end of the nested loop
    }
  };
  plat_hwnd h = plat_window_create(proc, &s);
  windows_.push_back(h);
  for (unsigned i = 1; i <= 4; ++i) plat_post_message(h, i, 0, 0);
  DrainLoop();
  EXPECT_EQ(s.order, (std::vector<unsigned>{1, 2, 3, 4, 100}));
}

TEST_F(LoopTest, AWatchRemovedByAnEarlierCallbackOfTheSameBatchIsNotCalled) {
  int a = eventfd(1, EFD_NONBLOCK);
  int b = eventfd(1, EFD_NONBLOCK);
  int calls = 0;
  platform::WatchId idA = 0, idB = 0;
  // Whichever runs first removes the other; exactly one callback may run.
  idA = platform::WatchFd(a, EPOLLIN, [&](std::uint32_t) {
    ++calls;
    platform::UnwatchFd(idB);
    platform::UnwatchFd(idA);
  });
  idB = platform::WatchFd(b, EPOLLIN, [&](std::uint32_t) {
    ++calls;
    platform::UnwatchFd(idA);
    platform::UnwatchFd(idB);
  });
  DrainLoop();
  EXPECT_EQ(calls, 1);
  close(a);
  close(b);
}

// A watch made in a callback may take the place of one it removed; the
// removed one's event, fetched in the same batch, must not reach it.
TEST_F(LoopTest, AWatchMadeInPlaceOfARemovedOneIsNotCalledForTheOldOnesEvent) {
  int a = eventfd(1, EFD_NONBLOCK);
  int b = eventfd(1, EFD_NONBLOCK);
  int quiet = eventfd(0, EFD_NONBLOCK);  // never readable
  int firstCalls = 0, newCalls = 0;
  platform::WatchId idA = 0, idB = 0, idNew = 0;
  const auto first = [&](platform::WatchId& other) {
    ++firstCalls;
    platform::UnwatchFd(other);
    idNew = platform::WatchFd(quiet, EPOLLIN, [&](std::uint32_t) { ++newCalls; });
    platform::UnwatchFd(idA);
    platform::UnwatchFd(idB);
  };
  idA = platform::WatchFd(a, EPOLLIN, [&](std::uint32_t) { first(idB); });
  idB = platform::WatchFd(b, EPOLLIN, [&](std::uint32_t) { first(idA); });
  DrainLoop();
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(newCalls, 0);
  EXPECT_NE(idNew, idA);
  EXPECT_NE(idNew, idB);
  platform::UnwatchFd(idNew);
  close(a);
  close(b);
  close(quiet);
}

TEST_F(LoopTest, ACallbackThatRemovesItsOwnWatchKeepsItsStateUntilItReturns) {
  int fd = eventfd(1, EFD_NONBLOCK);
  platform::WatchId id = 0;
  std::vector<int> seen;
  // The capture by value lives in the loop's copy of the callback; it is
  // used after the watch is gone (an address sanitizer build sees a freed
  // callback).
  const std::string tag(64, 'x');
  id = platform::WatchFd(fd, EPOLLIN, [&seen, &id, tag](std::uint32_t) {
    platform::UnwatchFd(id);
    EXPECT_FALSE(platform::ModifyWatch(id, EPOLLIN));
    seen.push_back(static_cast<int>(tag.size()));
  });
  DrainLoop();
  DrainLoop();
  EXPECT_EQ(seen, (std::vector<int>{64}));
  close(fd);
}

TEST_F(LoopTest, PumpWaitsForWorkUpToItsTimeoutAndQuitWakesIt) {
  Recorder r;
  plat_hwnd h = MakeWindow(r);
  EXPECT_EQ(plat_pump(10), 0) << "nothing to do: the pump times out";
  std::thread poster([h] { plat_post_message(h, 9, 0, 0); });
  int ran = 0;
  while (ran == 0) ran = plat_pump(5000);
  poster.join();
  EXPECT_EQ(r.messages, (std::vector<unsigned>{9}));

  std::thread quitter([] { plat_quit(); });
  quitter.join();
  EXPECT_TRUE(plat_quit_requested());
  EXPECT_EQ(plat_pump(-1), 0) << "a quit loop returns at once";
  plat_reset_quit();
  EXPECT_FALSE(plat_quit_requested());
}

}  // namespace
