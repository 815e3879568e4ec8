// The process loop: epoll over every watched descriptor plus one eventfd that
// is readable while posted messages wait. The epoll descriptor itself is what
// plat_loop_fd hands out, so a host loop sees exactly one readable descriptor
// whenever there is work.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "loop_internal.hpp"
#include "platform/loop.hpp"

namespace platform {
namespace {

// epoll data value reserved for the posted-message eventfd.
constexpr WatchId kPostedWatch = ~WatchId{0};
// A dispatch handles at most this many rounds so that a callback that keeps
// re-arming work cannot starve the host loop; what is left keeps the
// descriptor readable and is taken by the next dispatch.
constexpr int kMaxRounds = 16;
constexpr int kMaxEventsPerRound = 64;

// How many dispatches this thread is inside (nested ones included).
thread_local int t_dispatchDepth = 0;

struct Posted {
  plat_hwnd hwnd;
  unsigned msg;
  uintptr_t wparam;
  intptr_t lparam;
};

class Loop {
 public:
  static Loop& Instance() {
    // Never destroyed: sockets and windows owned by static objects of other
    // modules may still unregister during exit.
    static Loop* loop = new Loop();
    return *loop;
  }

  int Fd() const { return epollFd_; }

  WatchId Watch(int fd, std::uint32_t events, FdCallback callback) {
    if (epollFd_ < 0 || fd < 0 || !callback) return 0;
    WatchId id = nextWatch_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return 0;
    watches_.emplace(id, Entry{fd, std::make_shared<FdCallback>(std::move(callback))});
    return id;
  }

  bool Modify(WatchId id, std::uint32_t events) {
    auto it = watches_.find(id);
    if (it == watches_.end()) return false;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    return epoll_ctl(epollFd_, EPOLL_CTL_MOD, it->second.fd, &ev) == 0;
  }

  void Unwatch(WatchId id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
    watches_.erase(it);
    // Events already fetched for this id by a running dispatch are skipped
    // because the id is no longer in the map.
  }

  void Post(const Posted& p) {
    std::lock_guard<std::mutex> lock(postMutex_);
    posted_.push_back(p);
    // A callback of a running dispatch posts on the loop thread; that
    // dispatch delivers the message before it returns, so waking the loop
    // through the eventfd would only cost system calls.
    if (t_dispatchDepth > 0) return;
    SignalLocked();
  }

  void Quit() {
    quit_.store(true);
    std::lock_guard<std::mutex> lock(postMutex_);
    SignalLocked();  // wakes a pump that is waiting
  }

  bool QuitRequested() const { return quit_.load(); }
  void ResetQuit() { quit_.store(false); }

  // Runs what is ready; the first round may wait up to firstWaitMs for it.
  int Dispatch(int firstWaitMs = 0) {
    ++t_dispatchDepth;
    int ran = 0;
    for (int round = 0; round < kMaxRounds; ++round) {
      epoll_event events[kMaxEventsPerRound];
      int n;
      do {
        n = epoll_wait(epollFd_, events, kMaxEventsPerRound, round == 0 ? firstWaitMs : 0);
      } while (n < 0 && errno == EINTR);
      if (n < 0) n = 0;
      const std::uint64_t serial = ++waitSerial_;
      bool stale = false;
      for (int i = 0; i < n; ++i) {
        const WatchId id = events[i].data.u64;
        if (id == kPostedWatch) {
          ran += RunPosted();
        } else {
          auto it = watches_.find(id);
          if (it == watches_.end()) continue;
          // Hold the callback: it may remove its own watch while it runs.
          std::shared_ptr<FdCallback> callback = it->second.callback;
          (*callback)(events[i].events);
          ++ran;
        }
        // A nested dispatch inside that callback has already handled newer
        // readiness; what is left in this batch may be stale, so fetch
        // afresh (level-triggered: nothing still ready is lost).
        if (waitSerial_ != serial) {
          stale = true;
          break;
        }
      }
      // Messages the callbacks posted.
      if (HasPosted()) ran += RunPosted();
      // A batch that was not full held everything that was ready when it
      // was fetched. Whatever the callbacks made ready since keeps the
      // descriptor readable, so the host calls again; asking epoll once
      // more here would mostly find nothing.
      if ((n < kMaxEventsPerRound && !stale) || quit_.load()) break;
    }
    --t_dispatchDepth;
    std::lock_guard<std::mutex> lock(postMutex_);
    if (!posted_.empty()) SignalLocked();  // left over: the host must come back
    return ran;
  }

  int Pump(int timeoutMs) {
    if (quit_.load()) return 0;
    return Dispatch(timeoutMs);
  }

 private:
  struct Entry {
    int fd;
    std::shared_ptr<FdCallback> callback;
  };

  Loop() {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    eventFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd_ < 0 || eventFd_ < 0) {
      std::fprintf(stderr, "platform: cannot create the event loop\n");
      return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kPostedWatch;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, eventFd_, &ev);
  }

  void SignalLocked() {
    if (signalled_) return;
    std::uint64_t one = 1;
    if (write(eventFd_, &one, sizeof one) == sizeof one) signalled_ = true;
  }

  void ClearSignalLocked() {
    if (!signalled_) return;
    std::uint64_t value;
    // One read resets an eventfd's counter, however many writes it holds.
    (void)!read(eventFd_, &value, sizeof value);
    signalled_ = false;
  }

  bool HasPosted() {
    std::lock_guard<std::mutex> lock(postMutex_);
    return !posted_.empty();
  }

  // Delivers the messages that were queued when it started, one at a time,
  // popping each under the lock so that a nested dispatch continues in order.
  int RunPosted() {
    std::size_t budget;
    {
      std::lock_guard<std::mutex> lock(postMutex_);
      budget = posted_.size();
      if (budget == 0) ClearSignalLocked();
    }
    int ran = 0;
    while (budget-- > 0) {
      Posted p;
      {
        std::lock_guard<std::mutex> lock(postMutex_);
        if (posted_.empty()) {
          ClearSignalLocked();
          break;
        }
        p = posted_.front();
        posted_.pop_front();
        if (posted_.empty()) ClearSignalLocked();
      }
      detail::DeliverPosted(p.hwnd, p.msg, p.wparam, p.lparam);
      ++ran;
    }
    return ran;
  }

  int epollFd_ = -1;
  int eventFd_ = -1;
  WatchId nextWatch_ = 1;
  std::uint64_t waitSerial_ = 0;
  std::unordered_map<WatchId, Entry> watches_;

  std::mutex postMutex_;
  std::deque<Posted> posted_;
  bool signalled_ = false;
  std::atomic<bool> quit_{false};
};

}  // namespace

WatchId WatchFd(int fd, std::uint32_t events, FdCallback callback) {
  return Loop::Instance().Watch(fd, events, std::move(callback));
}

bool ModifyWatch(WatchId id, std::uint32_t events) { return Loop::Instance().Modify(id, events); }

void UnwatchFd(WatchId id) { Loop::Instance().Unwatch(id); }

namespace detail {
void EnqueuePosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  Loop::Instance().Post(Posted{hwnd, msg, wparam, lparam});
}
}  // namespace detail

}  // namespace platform

using platform::Loop;

extern "C" {

int plat_loop_fd(void) { return Loop::Instance().Fd(); }
int plat_dispatch(void) { return Loop::Instance().Dispatch(); }
int plat_pump(int timeout_ms) { return Loop::Instance().Pump(timeout_ms); }
void plat_quit(void) { Loop::Instance().Quit(); }
int plat_quit_requested(void) { return Loop::Instance().QuitRequested() ? 1 : 0; }
void plat_reset_quit(void) { Loop::Instance().ResetQuit(); }

}  // extern "C"
