// The event loop: epoll over every watched descriptor plus one eventfd that
// is readable while work for the next turn waits (posted window messages and
// RunInLoop tasks). The epoll descriptor itself is what fd() hands out, so a
// host loop sees exactly one readable descriptor whenever there is work.
// Where io_uring can be used, the loop waits in its ring instead, which
// polls the epoll set and receives for the connections (receive_ring.hpp);
// fd() is then the ring's descriptor.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "loop_internal.hpp"
#include "receive_ring.hpp"
#include "platform/hot_path.hpp"
#include "platform/loop.hpp"

namespace platform {
namespace {

// epoll data value reserved for the eventfd of pending work.
constexpr WatchId kPendingWatch = ~WatchId{0};
// A dispatch handles at most this many rounds so that a callback that keeps
// re-arming work cannot starve the host loop; what is left keeps the
// descriptor readable and is taken by the next dispatch.
constexpr int kMaxRounds = 16;
constexpr int kMaxEventsPerRound = 64;
// Slots of the queue of posted work an empty queue keeps after a burst.
constexpr std::size_t kKeptPendingSlots = 8;

// The loop this thread is dispatching (the innermost one, when dispatches of
// two loops nest). Read and written for every message: the initial-exec
// model makes each access one load from the thread pointer, where the
// default model of a shared library calls __tls_get_addr. It takes a few
// bytes of the static TLS block; a program that loads this library with
// dlopen finds them in the surplus glibc keeps for such libraries.
__attribute__((tls_model("initial-exec"))) thread_local const EventLoop* t_running = nullptr;

}  // namespace

EventLoop::EventLoop() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  eventFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || eventFd_ < 0) {
    std::fprintf(stderr, "platform: cannot create the event loop\n");
    return;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kPendingWatch;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, eventFd_, &ev);
}

EventLoop::~EventLoop() {
  ring_.reset();
  if (eventFd_ >= 0) ::close(eventFd_);
  if (epollFd_ >= 0) ::close(epollFd_);
}

detail::ReceiveRing* EventLoop::ReceivesRing() {
  // Any thread may ask for fd() first.
  std::call_once(ringMade_, [this] { ring_ = detail::ReceiveRing::Make(epollFd_); });
  return ring_.get();
}

int EventLoop::fd() {
  detail::ReceiveRing* ring = ReceivesRing();
  return ring != nullptr ? ring->fd() : epollFd_;
}

namespace detail {
ReceiveRing* RingOf(EventLoop& loop) { return loop.ReceivesRing(); }
}  // namespace detail

namespace {
// The process loop once Default has made it, for the calls of every message
// (a post, a pump), which then need neither Default's guard nor a call.
constinit std::atomic<EventLoop*> g_default{nullptr};

EventLoop& TheLoop() {
  EventLoop* loop = g_default.load(std::memory_order_acquire);
  return loop != nullptr ? *loop : EventLoop::Default();
}
}  // namespace

EventLoop& EventLoop::Default() {
  static EventLoop* loop = [] {
    auto* made = new EventLoop();
    g_default.store(made, std::memory_order_release);
    return made;
  }();
  return *loop;
}

WatchId EventLoop::Watch(int fd, std::uint32_t events, FdCallback callback) {
  if (epollFd_ < 0 || fd < 0 || !callback) return 0;
  std::size_t slot;
  if (!freeSlots_.empty()) {
    slot = freeSlots_.back();
  } else {
    if (slotCount_ == (std::size_t{1} << kSlotBits)) return 0;
    if (slotCount_ % kChunkSlots == 0) chunks_.push_back(std::make_unique<Entry[]>(kChunkSlots));
    slot = slotCount_;
  }
  const WatchId id = (nextWatch_ << kSlotBits) | slot;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return 0;
  ++nextWatch_;
  if (slot == slotCount_) {
    ++slotCount_;
  } else {
    freeSlots_.pop_back();
  }
  Entry& entry = chunks_[slot / kChunkSlots][slot % kChunkSlots];
  entry.id = id;
  entry.fd = fd;
  entry.events = events;
  entry.callback = std::move(callback);
  return id;
}

void EventLoop::FreeWatch(Entry& entry) {
  const auto slot = static_cast<std::uint32_t>(entry.id & ((WatchId{1} << kSlotBits) - 1));
  // The callback goes last: what it holds may watch or unwatch as it is
  // destroyed, and the slot is then free and consistent.
  FdCallback callback = std::move(entry.callback);
  entry.callback = nullptr;
  entry.id = 0;
  entry.fd = -1;
  entry.running = 0;
  entry.removed = false;
  entry.events = 0;
  freeSlots_.push_back(slot);
}

bool EventLoop::Modify(WatchId id, std::uint32_t events) {
  Entry* entry = FindWatch(id);
  if (entry == nullptr) return false;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, entry->fd, &ev) != 0) return false;
  entry->events = events;
  return true;
}

void EventLoop::RearmIfEdgeTriggered(WatchId id) {
  const Entry* entry = FindWatch(id);
  if (entry != nullptr && (entry->events & EPOLLET) != 0) Modify(id, entry->events);
}

void EventLoop::Unwatch(WatchId id) {
  Entry* entry = FindWatch(id);
  if (entry == nullptr) return;
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, entry->fd, nullptr);
  // Events already fetched for this id by a running dispatch are skipped
  // because its slot holds another id now, or is marked removed.
  if (entry->running > 0) {
    entry->removed = true;
  } else {
    FreeWatch(*entry);
  }
}

void EventLoop::RunWatch(Entry& entry, std::uint32_t events) {
  struct Running {
    EventLoop& loop;
    Entry& entry;
    ~Running() {
      if (--entry.running == 0 && entry.removed) loop.FreeWatch(entry);
    }
  } running{*this, entry};
  ++entry.running;
  entry.callback(events);
}

void EventLoop::RunInLoop(std::function<void()> task) {
  if (!task) return;
  Pending pending;
  pending.task = std::move(task);
  Enqueue(std::move(pending));
}

[[gnu::always_inline]] inline bool EventLoop::OnOwnTurn() const {
  // Only this thread takes items out, so a count of 0 read here is not
  // stale about anything queued before this call in its own order.
  return t_running == this && pendingCount_.load(std::memory_order_relaxed) == 0;
}

void EventLoop::Enqueue(Pending pending) {
  if (OnOwnTurn()) {
    own_.PushSlot() = std::move(pending);
    return;
  }
  std::lock_guard<std::mutex> lock(pendingMutex_);
  pending_.PushSlot() = std::move(pending);
  PushedLocked();
}

namespace {
// A free slot holds no task (TakeItem), so only the message's fields are
// written.
void FillMessage(auto& slot, plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  slot.hwnd = hwnd;
  slot.msg = msg;
  slot.wparam = wparam;
  slot.lparam = lparam;
}
}  // namespace

inline void EventLoop::EnqueueMessage(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (OnOwnTurn() && !own_.full()) [[likely]] {
    FillMessage(own_.PushSlot(), hwnd, msg, wparam, lparam);
    return;
  }
  EnqueueMessageOutOfLine(hwnd, msg, wparam, lparam);
}

void EventLoop::EnqueueMessageOutOfLine(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (OnOwnTurn()) {
    FillMessage(own_.PushSlot(), hwnd, msg, wparam, lparam);  // grows own_
    return;
  }
  std::lock_guard<std::mutex> lock(pendingMutex_);
  FillMessage(pending_.PushSlot(), hwnd, msg, wparam, lparam);
  PushedLocked();
}

void EventLoop::PushedLocked() {
  pendingCount_.store(pending_.size(), std::memory_order_relaxed);
  // A callback of a running dispatch queues on the loop thread; that
  // dispatch runs the work before it returns, so waking the loop through
  // the eventfd would only cost system calls.
  if (t_running == this) return;
  SignalLocked();
}

void EventLoop::Quit() {
  quit_.store(true);
  std::lock_guard<std::mutex> lock(pendingMutex_);
  SignalLocked();  // wakes a pump that is waiting
}

PLAT_HOT_PATH int EventLoop::RunEpollBatch(const epoll_event* events, int n, bool* stale) {
  const std::uint64_t serial = ++waitSerial_;
  int ran = 0;
  for (int i = 0; i < n; ++i) {
    const WatchId id = events[i].data.u64;
    if (id == kPendingWatch) {
      ran += RunPending();
    } else {
      Entry* entry = FindWatch(id);
      if (entry == nullptr) continue;
      // The callback may remove its own watch while it runs; the entry
      // stays until the call is over (its chunk never moves).
      RunWatch(*entry, events[i].events);
      ++ran;
    }
    // A nested dispatch inside that callback has already handled newer
    // readiness; what is left in this batch may be stale, so fetch
    // afresh. A level-triggered descriptor still ready is reported
    // again; an edge-triggered one is only if the kernel is asked to look.
    if (waitSerial_ != serial) {
      *stale = true;
      for (int rest = i + 1; rest < n; ++rest) RearmIfEdgeTriggered(events[rest].data.u64);
      break;
    }
  }
  return ran;
}

PLAT_HOT_PATH int EventLoop::Dispatch(int firstWaitMs) {
  if (ring_) return DispatchRing(firstWaitMs);
  const EventLoop* const outer = t_running;
  t_running = this;
  int ran = 0;
  for (int round = 0; round < kMaxRounds; ++round) {
    epoll_event events[kMaxEventsPerRound];
    int n;
    do {
      n = epoll_wait(epollFd_, events, kMaxEventsPerRound, round == 0 ? firstWaitMs : 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) n = 0;
    bool stale = false;
    ran += RunEpollBatch(events, n, &stale);
    // Work the callbacks queued.
    if (HasPending()) ran += RunPending();
    // A batch that was not full held everything that was ready when it
    // was fetched. Whatever the callbacks made ready since keeps the
    // descriptor readable, so the host calls again; asking epoll once
    // more here would mostly find nothing.
    if ((n < kMaxEventsPerRound && !stale) || quit_.load()) break;
  }
  t_running = outer;
  SignalLeftOver();
  return ran;
}

void EventLoop::SignalLeftOver() {
  // Left over: the host must come back. Work other threads post meanwhile
  // signals by itself, so only this thread's needs the look (and the lock).
  if (!own_.empty()) {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    SignalLocked();
    ownSignalled_ = true;
  } else if (HasPending()) {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    if (!pending_.empty()) SignalLocked();
  }
}

int EventLoop::RunEpollReady() {
  int ran = 0;
  for (int pass = 0; pass < kMaxRounds; ++pass) {
    epoll_event events[kMaxEventsPerRound];
    int n;
    do {
      n = epoll_wait(epollFd_, events, kMaxEventsPerRound, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return ran;
    bool stale = false;
    ran += RunEpollBatch(events, n, &stale);
    if (HasPending()) ran += RunPending();
    if (quit_.load()) break;  // what may be left waits for the next pump
  }
  // Still ready after every pass: the host must come back, and the ring
  // would not say so by itself.
  ring_->Wake();
  return ran;
}

PLAT_HOT_PATH int EventLoop::DispatchRing(int firstWaitMs) {
  const EventLoop* const outer = t_running;
  t_running = this;
  detail::ReceiveRing& ring = *ring_;
  ring.EnterDispatch();
  int ran = 0;
  ring.Wait(firstWaitMs);
  for (int round = 0; round < kMaxRounds; ++round) {
    detail::RingCompletion done[kMaxEventsPerRound];
    const int n = ring.Take(done, kMaxEventsPerRound);
    // Every completion of the batch is booked before any callback runs, so
    // that a nested dispatch keeps each socket's bytes in order.
    bool epollReady = false;
    for (int i = 0; i < n; ++i) epollReady |= ring.Book(done[i]);
    for (int i = 0; i < n; ++i) ran += ring.NotifyBooked(done[i]) ? 1 : 0;
    if (epollReady) ran += RunEpollReady();
    if (HasPending()) ran += RunPending();
    // What a full batch left waits in the ring: take it too.
    if (n < kMaxEventsPerRound || quit_.load()) break;
  }
  t_running = outer;
  ring.LeaveDispatch();
  SignalLeftOver();
  // Before the host waits on the ring's descriptor: what the callbacks
  // queued (a receive armed again, a look asked for) goes to the kernel.
  ring.SubmitQueued();
  return ran;
}

int EventLoop::Pump(int timeoutMs) {
  if (quit_.load()) return 0;
  return Dispatch(timeoutMs);
}

void EventLoop::SignalLocked() {
  if (signalled_) return;
  std::uint64_t one = 1;
  if (write(eventFd_, &one, sizeof one) == sizeof one) signalled_ = true;
}

void EventLoop::ClearSignalLocked() {
  if (!signalled_) return;
  std::uint64_t value;
  // One read resets an eventfd's counter, however many writes it holds.
  (void)!read(eventFd_, &value, sizeof value);
  signalled_ = false;
}

inline bool EventLoop::PopOwn(Pending& out) {
  TakeItem(own_.front(), out);
  own_.pop_front();
  if (own_.empty()) {
    own_.ShrinkIfEmpty(kKeptPendingSlots);
    if (ownSignalled_) [[unlikely]]
      OwnEmptied();
  }
  return true;
}

void EventLoop::OwnEmptied() {
  // The eventfd told of what own_ held; it stays only for pending_.
  ownSignalled_ = false;
  std::lock_guard<std::mutex> lock(pendingMutex_);
  if (pending_.empty()) ClearSignalLocked();
}

bool EventLoop::PopPending(Pending& out) {
  if (!own_.empty()) return PopOwn(out);
  std::lock_guard<std::mutex> lock(pendingMutex_);
  return PopPendingLocked(out);
}

bool EventLoop::PopPendingLocked(Pending& out) {
  if (pending_.empty()) {
    ClearSignalLocked();
    return false;
  }
  TakeItem(pending_.front(), out);
  pending_.pop_front();
  if (pending_.empty()) {
    ClearSignalLocked();
    pending_.ShrinkIfEmpty(kKeptPendingSlots);
  }
  pendingCount_.store(pending_.size(), std::memory_order_relaxed);
  return true;
}

bool EventLoop::PopFirstShared(Pending& out, std::size_t& count) {
  std::lock_guard<std::mutex> lock(pendingMutex_);
  count = pending_.size();
  return PopPendingLocked(out);
}

// Runs the work that was queued when it started, one item at a time,
// popping each as it goes so that a nested dispatch continues in order.
PLAT_HOT_PATH int EventLoop::RunPending() {
  // The usual turn: one window message that this loop's own callbacks
  // posted, and nothing else. Delivered as RunAllPending would, without
  // copying the item first.
  if (own_.size() == 1 && pendingCount_.load(std::memory_order_relaxed) == 0 && !ownSignalled_) [[likely]] {
    const Pending& item = own_.front();
    if (!item.task) {
      const plat_hwnd hwnd = item.hwnd;
      const unsigned msg = item.msg;
      const uintptr_t wparam = item.wparam;
      const intptr_t lparam = item.lparam;
      own_.pop_front();
      detail::DeliverPosted(hwnd, msg, wparam, lparam);
      // (After the delivery, which may have queued more: only an empty
      // ring gives slots back.)
      own_.ShrinkIfEmpty(kKeptPendingSlots);
      return 1;
    }
  }
  return RunAllPending();
}

// The first item is taken with the count.
int EventLoop::RunAllPending() {
  std::size_t budget = own_.size();
  Pending p;
  if (budget > 0) [[likely]] {
    // A post from another thread that this count misses signals by itself.
    budget += pendingCount_.load(std::memory_order_relaxed);
    PopOwn(p);
  } else if (!PopFirstShared(p, budget)) {
    return 0;
  }
  int ran = 0;
  for (;;) {
    if (p.task) {
      p.task();
      p.task = nullptr;  // its captures go now, not under the lock below
    } else {
      detail::DeliverPosted(p.hwnd, p.msg, p.wparam, p.lparam);
    }
    ++ran;
    if (--budget == 0) break;
    if (!PopPending(p)) break;
  }
  return ran;
}

WatchId WatchFd(int fd, std::uint32_t events, FdCallback callback) {
  return EventLoop::Default().Watch(fd, events, std::move(callback));
}

bool ModifyWatch(WatchId id, std::uint32_t events) { return EventLoop::Default().Modify(id, events); }

void UnwatchFd(WatchId id) { EventLoop::Default().Unwatch(id); }

namespace detail {
namespace {
// The first post of a process that has not used its loop yet.
[[gnu::noinline]] void EnqueueFirstPosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  (void)EventLoop::Default();  // makes it, and g_default with it
  EnqueuePosted(hwnd, msg, wparam, lparam);
}
}  // namespace

PLAT_HOT_PATH void EnqueuePosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  EventLoop* loop = g_default.load(std::memory_order_acquire);
  if (loop == nullptr) [[unlikely]]
    return EnqueueFirstPosted(hwnd, msg, wparam, lparam);
  loop->EnqueueMessage(hwnd, msg, wparam, lparam);
}
}  // namespace detail

}  // namespace platform

using platform::EventLoop;

extern "C" {

int plat_loop_fd(void) { return EventLoop::Default().fd(); }
int plat_dispatch(void) { return EventLoop::Default().Dispatch(); }
PLAT_HOT_PATH int plat_pump(int timeout_ms) { return platform::TheLoop().Pump(timeout_ms); }
void plat_quit(void) { EventLoop::Default().Quit(); }
int plat_quit_requested(void) { return EventLoop::Default().QuitRequested() ? 1 : 0; }
void plat_reset_quit(void) { EventLoop::Default().ResetQuit(); }

}  // extern "C"
