// receive_ring.hpp - the loop's io_uring, which receives for its connections
// (internal to the platform library).
//
// Where the kernel allows it, the process loop waits in io_uring_enter
// instead of epoll_wait, and every connected AsyncSocket has a multishot
// receive posted on it: by the time the wait returns, the kernel has read the
// bytes into one of the socket's own buffers, so the wait is the only system
// call a message costs on its way in (an epoll-driven end makes two, the wait
// and the receive). Everything else the loop watches stays in its epoll set,
// which the ring polls.
//
// Each socket has a small ring of buffers of its own. Bytes are held there
// until the socket's reader takes them; once every buffer is held the
// kernel stops receiving for that socket, so a reader that stops reading
// makes its peer wait, as with a plain receive, and holds no more memory
// than its buffers.
//
// One thread (the loop's) does everything here.
#pragma once

#include <liburing.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform::detail {

struct RingCompletion {
  std::uint64_t tag;
  int result;
  unsigned flags;
};

class ReceiveRing {
 public:
  using ReceiveId = std::uint64_t;
  // Told that a socket has something new: bytes, its end, or a look asked
  // for with Kick.
  using Notify = std::function<void()>;
  // How a socket's stream stands once nothing is held.
  static constexpr int kOpen = 0;
  static constexpr int kEnded = 1;  // the peer closed; below 0: -errno

  // The ring, polling epollFd; null where io_uring cannot be used (an old
  // kernel, a filter, PLAT_NO_IO_URING set in the environment).
  static std::unique_ptr<ReceiveRing> Make(int epollFd);
  ~ReceiveRing();
  ReceiveRing(const ReceiveRing&) = delete;
  ReceiveRing& operator=(const ReceiveRing&) = delete;

  // Readable while completions wait.
  int fd() const { return ring_.ring_fd; }

  // The loop's side. Submits what was queued and, while no completion
  // waits, waits up to waitMs for one (negative: no limit; 0: only has the
  // kernel finish what is done).
  void Wait(int waitMs);
  // Takes up to `max` (at most 64) of the completions that wait.
  int Take(RingCompletion* out, int max);
  // Around a dispatch: what a socket queues inside one is submitted when
  // the loop waits or returns, outside one at once.
  void EnterDispatch() { ++dispatching_; }
  void LeaveDispatch() { --dispatching_; }
  // Books a completion before any callback of its batch runs, so that the
  // bytes of one socket are held in the order the kernel received them even
  // when a callback dispatches the loop again. Returns true for the epoll
  // set's readiness; a receive's socket gets its notification from
  // NotifyBooked.
  bool Book(const RingCompletion& completion);
  // Calls the notification of the socket a booked completion was for, if
  // it still wants one; true when it did.
  bool NotifyBooked(const RingCompletion& completion);
  // Submits what was queued without waiting (before the loop returns to a
  // host that waits on fd()).
  void SubmitQueued();
  // Has the next Wait return at once.
  void Wake();

  // The socket's side. Starts receiving on a connected socket (which stays
  // the caller's to close, after Close). 0 when that failed.
  ReceiveId Open(int fd, Notify notify);
  // Copies up to `length` held bytes out; 0 when none are held.
  std::size_t Read(ReceiveId id, void* buffer, std::size_t length);
  bool Holds(ReceiveId id) const;
  // kOpen, kEnded or -errno, as the kernel last told.
  int End(ReceiveId id) const;
  // Has the socket notified again on the next turn of the loop.
  void Kick(ReceiveId id);
  // Stops receiving: no notification follows. The posted receive is
  // cancelled at once, so that closing the descriptor closes the
  // connection; its buffers go once the kernel is done with them.
  void Close(ReceiveId id);

 private:
  struct Socket;
  explicit ReceiveRing(int epollFd);
  bool Start();
  Socket* Find(ReceiveId id) const;
  io_uring_sqe* NextEntry();
  void Arm(Socket& socket);
  void ArmPoll();
  void GiveBack(Socket& socket, unsigned buffer);
  // Frees a closed socket's slot once nothing refers to it any more.
  void FreeIfDone(Socket& socket);
  void SubmitUnlessDispatching() {
    if (dispatching_ == 0) SubmitQueued();
  }

  io_uring ring_{};
  bool ringUp_ = false;
  int epollFd_;
  std::vector<std::unique_ptr<Socket>> sockets_;
  std::vector<std::uint32_t> freeSlots_;
  std::uint64_t nextSerial_ = 1;
  int dispatching_ = 0;
};

}  // namespace platform::detail
