// event_loop.hpp - the loop as an object (public, used by the agent, the
// game core, the lobby server and the console player).
//
// epoll underneath, level-triggered, one thread. A loop holds watched
// descriptors and a queue of work for its next turn (posted window messages
// and RunInLoop tasks, in one order), and shows all of it through one
// descriptor, fd(), so that another event loop can embed it by watching that
// descriptor and calling Dispatch. The process loop, EventLoop::Default(),
// is the one the C API in platform.h and the free functions of loop.hpp
// work on; window messages are always delivered through it.
//
// Callbacks run on the thread that runs Dispatch / Pump. A watch may be
// removed from inside any callback, its own included; the loop never calls
// a removed watch again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/ring.hpp"

struct epoll_event;

namespace platform {

using WatchId = std::uint64_t;
using FdCallback = std::function<void(std::uint32_t epollEvents)>;

class EventLoop;

namespace detail {
void EnqueuePosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam);
class ReceiveRing;
ReceiveRing* RingOf(EventLoop& loop);
}

class PLAT_EXPORT EventLoop {
 public:
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // The process loop, made on first use and never destroyed: sockets and
  // windows owned by static objects of other modules may still unregister
  // during exit.
  static EventLoop& Default();

  // Readable exactly while Dispatch has work; -1 when the loop could not be
  // made. Where the loop waits in io_uring (receive_ring.hpp) this is the
  // ring's descriptor, else the epoll set's.
  int fd();

  // Starts watching fd for the given epoll events (EPOLLIN, EPOLLOUT, ...).
  // Returns 0 on failure, else an id that is never handed out again.
  WatchId Watch(int fd, std::uint32_t events, FdCallback callback);
  // Changes the events a watch waits for. False for an unknown id.
  bool Modify(WatchId id, std::uint32_t events);
  // Stops watching; the descriptor itself is left open.
  void Unwatch(WatchId id);

  // Runs task on the loop's thread on a later turn, after everything queued
  // before it. Safe from any thread. A task queued by a callback of a
  // running dispatch runs before that dispatch returns, or, when queued by
  // a task itself, on the next dispatch: a task that queues itself again
  // lets readiness be fetched in between.
  void RunInLoop(std::function<void()> task);

  // Runs what is ready; the first round may wait up to firstWaitMs for it.
  // Returns the number of callbacks run. Re-entrant.
  int Dispatch(int firstWaitMs = 0);
  // Waits up to timeoutMs (negative: no limit) for work, then dispatches;
  // returns at once after Quit.
  int Pump(int timeoutMs);
  // Asks Pump to return; safe from any thread.
  void Quit();
  bool QuitRequested() const { return quit_.load(); }
  void ResetQuit() { quit_.store(false); }

 private:
  friend void detail::EnqueuePosted(plat_hwnd, unsigned, uintptr_t, intptr_t);
  friend detail::ReceiveRing* detail::RingOf(EventLoop&);

  // The ring, made on first need where the kernel allows it.
  detail::ReceiveRing* ReceivesRing();
  // Dispatch where the loop waits in the ring.
  int DispatchRing(int firstWaitMs);
  // Runs the callbacks of a batch epoll_wait fetched; true when a nested
  // dispatch made the rest of the batch stale.
  int RunEpollBatch(const epoll_event* events, int n, bool* stale);
  // In ring mode: everything the epoll set holds ready, fetched until it is
  // empty (the ring hears of readiness only as it arises, not of what a
  // level-triggered watch still has).
  int RunEpollReady();
  // After a dispatch: work of this thread still queued has the loop's
  // descriptor readable.
  void SignalLeftOver();

  // A watch removed while its callback runs (its own or one further out,
  // in a nested dispatch) is only marked `removed` and freed once the last
  // of those calls has returned, so that no callback is destroyed under
  // itself.
  //
  // Entries sit in slots of fixed chunks that never move (a callback may
  // add watches while its own entry is in use), so a watch costs no
  // allocation of its own; a freed slot is taken by the next watch. An id
  // holds its slot in the low kSlotBits bits and a serial above them: no id
  // is handed out twice, and a stale one no longer matches its slot.
  struct Entry {
    WatchId id = 0;  // 0: the slot is free
    int fd = -1;
    std::uint32_t running = 0;
    bool removed = false;
    std::uint32_t events = 0;  // as last given to epoll
    FdCallback callback;
  };
  static constexpr unsigned kSlotBits = 24;
  static constexpr std::size_t kChunkSlots = 64;
  // Has epoll report an edge-triggered watch again if it is still ready
  // (one whose event a dispatch fetched but did not deliver).
  void RearmIfEdgeTriggered(WatchId id);
  // The live entry with this id, or null.
  Entry* FindWatch(WatchId id) {
    const auto slot = static_cast<std::size_t>(id & ((WatchId{1} << kSlotBits) - 1));
    if (slot >= slotCount_) return nullptr;
    Entry& entry = chunks_[slot / kChunkSlots][slot % kChunkSlots];
    return entry.id == id && !entry.removed ? &entry : nullptr;
  }
  void FreeWatch(Entry& entry);
  // A window message (task empty) or a RunInLoop task.
  struct Pending {
    plat_hwnd hwnd = 0;
    unsigned msg = 0;
    uintptr_t wparam = 0;
    intptr_t lparam = 0;
    std::function<void()> task;
  };

  // Calls a watch's callback; erases the entry afterwards if the watch was
  // removed meanwhile.
  void RunWatch(Entry& entry, std::uint32_t events);
  // True on this loop's thread inside its dispatch while the shared queue
  // is empty: a new item then goes into own_ (see there).
  bool OnOwnTurn() const;
  void Enqueue(Pending pending);
  // The same for a window message, written straight into its slot. The
  // usual case (on the loop's own turn, with a free slot) calls nothing;
  // the rest, the shared queue's lock and the ring's growth, is out of line.
  void EnqueueMessage(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam);
  [[gnu::noinline]] void EnqueueMessageOutOfLine(plat_hwnd hwnd, unsigned msg, uintptr_t wparam,
                                                 intptr_t lparam);
  // After an item went in, under the lock: the count, and the eventfd unless
  // a running dispatch of this thread will take the item.
  void PushedLocked();
  void SignalLocked();
  void ClearSignalLocked();
  bool HasPending() const {
    return !own_.empty() || pendingCount_.load(std::memory_order_relaxed) != 0;
  }
  int RunPending();
  // RunPending's general case: any number of items, tasks among them.
  [[gnu::noinline]] int RunAllPending();
  // Takes the oldest pending item into `out`, from own_ first; false when
  // there is none.
  bool PopPending(Pending& out);
  // Moves a queued item into an empty `out`. The slot it leaves holds no
  // task: a free slot never does, so a window message written into one
  // has none to clear.
  static void TakeItem(Pending& from, Pending& out) {
    out.hwnd = from.hwnd;
    out.msg = from.msg;
    out.wparam = from.wparam;
    out.lparam = from.lparam;
    // `out` comes empty (RunPending empties it after each task); a window
    // message has no task to move.
    if (from.task) {
      out.task = std::move(from.task);
      from.task = nullptr;
    }
  }
  bool PopOwn(Pending& out);
  // What PopOwn does when own_ empties after a dispatch signalled for it.
  [[gnu::noinline]] void OwnEmptied();
  bool PopPendingLocked(Pending& out);
  // RunPending's first item from pending_, with the count of what waits
  // there (out of line: the lock is for posts from other threads).
  [[gnu::noinline]] bool PopFirstShared(Pending& out, std::size_t& count);

  // What every message touches comes first, within the object's first
  // lines; the shared queue and its lock, for posts from other threads,
  // come after.
  int epollFd_ = -1;
  std::uint64_t waitSerial_ = 0;
  std::vector<std::unique_ptr<Entry[]>> chunks_;
  std::size_t slotCount_ = 0;  // slots made, in use or free
  std::vector<std::uint32_t> freeSlots_;
  // Items the loop's own callbacks queued while pending_ was empty, touched
  // by the loop thread alone and so without the lock. Everything in it was
  // queued before everything in pending_: an item goes here only while
  // pending_ is empty (a post from another thread that the look at the
  // count misses was concurrent with it, so either order is theirs), and
  // own_ is taken first.
  Ring<Pending> own_;
  // The eventfd was written for what own_ held when a dispatch returned.
  bool ownSignalled_ = false;
  std::atomic<bool> quit_{false};
  // pending_.size(), written under the lock and read without it by the loop
  // thread: a post from another thread that this misses signals the eventfd.
  std::atomic<std::size_t> pendingCount_{0};

  int eventFd_ = -1;
  std::unique_ptr<detail::ReceiveRing> ring_;
  std::once_flag ringMade_;
  WatchId nextWatch_ = 1;
  std::mutex pendingMutex_;
  // Its slots are reused: posting costs no allocation (a task's own
  // captures aside).
  Ring<Pending> pending_;
  bool signalled_ = false;
};

// A watch that ends with its owner: the RAII form of Watch / Unwatch.
class FdWatch {
 public:
  FdWatch() = default;
  // Starts watching; active() tells whether the loop took it.
  FdWatch(EventLoop& loop, int fd, std::uint32_t events, FdCallback callback)
      : loop_(&loop), id_(loop.Watch(fd, events, std::move(callback))), events_(events) {}
  ~FdWatch() { Reset(); }
  FdWatch(FdWatch&& other) noexcept { *this = std::move(other); }
  FdWatch& operator=(FdWatch&& other) noexcept {
    if (this != &other) {
      Reset();
      loop_ = other.loop_;
      id_ = other.id_;
      events_ = other.events_;
      other.id_ = 0;
    }
    return *this;
  }

  bool active() const { return id_ != 0; }
  std::uint32_t events() const { return events_; }
  // The loop it was made on (null for a watch never made).
  EventLoop* loop() const { return loop_; }

  // Changes the events waited for; no system call when they are the same.
  bool Modify(std::uint32_t events) {
    if (id_ == 0) return false;
    if (events == events_) return true;
    if (!loop_->Modify(id_, events)) return false;
    events_ = events;
    return true;
  }

  // Has the loop look at the descriptor afresh: an edge-triggered watch
  // whose descriptor is still ready reports it once more.
  bool Rearm() { return id_ != 0 && loop_->Modify(id_, events_); }

  // Stops watching (the descriptor stays open).
  void Reset() {
    if (id_ != 0) loop_->Unwatch(id_);
    id_ = 0;
  }

 private:
  EventLoop* loop_ = nullptr;
  WatchId id_ = 0;
  std::uint32_t events_ = 0;
};

}  // namespace platform
