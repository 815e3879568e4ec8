#include "receive_ring.hpp"

#include <poll.h>
#include <sys/mman.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::detail {
namespace {

constexpr unsigned kEntries = 64;
// Each socket's buffers, in a power-of-two count as the kernel's buffer
// rings need: together as much room as the epoll path's single receive
// gives (16 KiB), which is what a reader that stops reading holds here at
// most before the kernel stops receiving for it.
constexpr unsigned kBuffers = 4;
constexpr unsigned kBufferBytes = 4 * 1024;
constexpr std::size_t kRingBytes = 4096;  // the buffers' ring, page-aligned
constexpr std::size_t kRegionBytes = kRingBytes + std::size_t{kBuffers} * kBufferBytes;
// A buffer group id is 16 bits: one group per socket.
constexpr std::size_t kMaxSockets = 1 << 16;
constexpr unsigned kSlotBits = 16;

// What a completion's tag is for: the two high bits say the kind, the rest
// is the socket's id where there is one.
constexpr unsigned kKindShift = 62;
constexpr std::uint64_t kIdMask = (std::uint64_t{1} << kKindShift) - 1;
enum Kind : std::uint64_t { kLoopKind = 0, kReceiveKind = 1, kKickKind = 2, kCancelKind = 3 };
constexpr std::uint64_t kEpollTag = 1;  // kLoopKind
constexpr std::uint64_t kWakeTag = 2;   // kLoopKind

constexpr std::uint64_t Tag(Kind kind, std::uint64_t id) { return (std::uint64_t{kind} << kKindShift) | id; }

// Multishot receives into buffer rings came with Linux 6.0.
bool KernelHasMultishotReceive() {
  utsname name{};
  if (uname(&name) != 0) return false;
  int major = 0, minor = 0;
  if (std::sscanf(name.release, "%d.%d", &major, &minor) != 2) return false;
  return major > 6 || (major == 6 && minor >= 0);
}

}  // namespace

struct ReceiveRing::Socket {
  struct Piece {
    unsigned short buffer;
    unsigned offset, length;
  };
  ReceiveId id = 0;  // 0: the slot is free
  int fd = -1;
  Notify notify;
  char* region = nullptr;
  io_uring_buf_ring* buffers = nullptr;
  bool armed = false;
  bool closing = false;
  bool notifyQueued = false;
  unsigned running = 0;
  int end = kOpen;
  Piece held[kBuffers]{};
  unsigned heldFirst = 0, heldCount = 0;

  unsigned short group() const { return static_cast<unsigned short>(id & ((1u << kSlotBits) - 1)); }
  char* Buffer(unsigned b) const { return region + kRingBytes + std::size_t{b} * kBufferBytes; }
};

std::unique_ptr<ReceiveRing> ReceiveRing::Make(int epollFd) {
  const char* off = std::getenv("PLAT_NO_IO_URING");
  if (off != nullptr && *off != '\0' && std::strcmp(off, "0") != 0) return nullptr;
  if (epollFd < 0 || !KernelHasMultishotReceive()) return nullptr;
  std::unique_ptr<ReceiveRing> ring(new ReceiveRing(epollFd));
  if (!ring->Start()) return nullptr;
  return ring;
}

ReceiveRing::ReceiveRing(int epollFd) : epollFd_(epollFd) {}

bool ReceiveRing::Start() {
  if (io_uring_queue_init(kEntries, &ring_, 0) < 0) return false;
  ringUp_ = true;
  // Waits with a timeout need the extended argument; a full completion
  // queue must not drop completions.
  if ((ring_.features & IORING_FEAT_EXT_ARG) == 0 || (ring_.features & IORING_FEAT_NODROP) == 0) return false;
  ArmPoll();
  return io_uring_submit(&ring_) >= 0;
}

ReceiveRing::~ReceiveRing() {
  // Tearing the ring down cancels every posted request first.
  if (ringUp_) io_uring_queue_exit(&ring_);
  for (auto& socket : sockets_) {
    if (socket && socket->region != nullptr) munmap(socket->region, kRegionBytes);
  }
}

io_uring_sqe* ReceiveRing::NextEntry() {
  io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
  if (sqe == nullptr) {
    io_uring_submit(&ring_);  // the queue is full: make room
    sqe = io_uring_get_sqe(&ring_);
  }
  return sqe;
}

void ReceiveRing::ArmPoll() {
  io_uring_sqe* sqe = NextEntry();
  if (sqe == nullptr) return;
  io_uring_prep_poll_multishot(sqe, epollFd_, POLLIN);
  io_uring_sqe_set_data64(sqe, kEpollTag);
}

void ReceiveRing::Arm(Socket& socket) {
  io_uring_sqe* sqe = NextEntry();
  if (sqe == nullptr) return;
  io_uring_prep_recv_multishot(sqe, socket.fd, nullptr, 0, 0);
  sqe->flags |= IOSQE_BUFFER_SELECT;
  sqe->buf_group = socket.group();
  io_uring_sqe_set_data64(sqe, Tag(kReceiveKind, socket.id));
  socket.armed = true;
}

void ReceiveRing::Wake() {
  io_uring_sqe* sqe = NextEntry();
  if (sqe == nullptr) return;
  io_uring_prep_nop(sqe);
  io_uring_sqe_set_data64(sqe, kWakeTag);
}

void ReceiveRing::Wait(int waitMs) {
  if (io_uring_cq_ready(&ring_) > 0) {
    SubmitQueued();
    return;
  }
  if (waitMs == 0) {
    // Also runs the kernel's finishing work for receives that are done.
    io_uring_submit_and_get_events(&ring_);
    return;
  }
  __kernel_timespec timeout{waitMs / 1000, static_cast<long long>(waitMs % 1000) * 1000000};
  int r;
  do {
    io_uring_cqe* cqe = nullptr;
    r = io_uring_submit_and_wait_timeout(&ring_, &cqe, 1, waitMs < 0 ? nullptr : &timeout, nullptr);
  } while (r == -EINTR);
}

int ReceiveRing::Take(RingCompletion* out, int max) {
  io_uring_cqe* cqes[64];
  if (max > 64) max = 64;
  const unsigned n = io_uring_peek_batch_cqe(&ring_, cqes, static_cast<unsigned>(max));
  for (unsigned i = 0; i < n; ++i) out[i] = {cqes[i]->user_data, cqes[i]->res, cqes[i]->flags};
  io_uring_cq_advance(&ring_, n);
  return static_cast<int>(n);
}

void ReceiveRing::SubmitQueued() {
  if (io_uring_sq_ready(&ring_) > 0) io_uring_submit(&ring_);
}

ReceiveRing::Socket* ReceiveRing::Find(ReceiveId id) const {
  const std::size_t slot = id & ((1u << kSlotBits) - 1);
  if (slot >= sockets_.size()) return nullptr;
  Socket* socket = sockets_[slot].get();
  return socket != nullptr && socket->id == id ? socket : nullptr;
}

bool ReceiveRing::Book(const RingCompletion& c) {
  if (c.tag == kEpollTag) {
    if ((c.flags & IORING_CQE_F_MORE) == 0) ArmPoll();  // the kernel ended it (an overflow)
    return true;
  }
  const auto kind = static_cast<Kind>(c.tag >> kKindShift);
  if (kind == kLoopKind || kind == kCancelKind) return false;
  Socket* s = Find(c.tag & kIdMask);
  if (s == nullptr) return false;
  if (kind == kKickKind) {
    if (!s->closing) s->notifyQueued = true;
    return false;
  }
  if ((c.flags & IORING_CQE_F_MORE) == 0) s->armed = false;
  if (s->closing) {
    FreeIfDone(*s);
    return false;
  }
  if (c.result > 0) {
    if ((c.flags & IORING_CQE_F_BUFFER) != 0 && s->heldCount < kBuffers) {
      const auto buffer = static_cast<unsigned short>(c.flags >> IORING_CQE_BUFFER_SHIFT);
      s->held[(s->heldFirst + s->heldCount) % kBuffers] = {buffer, 0, static_cast<unsigned>(c.result)};
      ++s->heldCount;
      s->notifyQueued = true;
    }
    if (!s->armed && s->end == kOpen) Arm(*s);
  } else if (c.result == -ENOBUFS) {
    // Every buffer is held: the socket waits in the kernel until its reader
    // gives one back (Read arms it again), unless that already happened.
    if (!s->armed && s->heldCount < kBuffers && s->end == kOpen) Arm(*s);
  } else if (c.result == 0) {
    s->end = kEnded;
    s->notifyQueued = true;
  } else if (c.result != -ECANCELED) {
    s->end = c.result;
    s->notifyQueued = true;
  }
  return false;
}

bool ReceiveRing::NotifyBooked(const RingCompletion& c) {
  const auto kind = static_cast<Kind>(c.tag >> kKindShift);
  if (kind != kReceiveKind && kind != kKickKind) return false;
  Socket* s = Find(c.tag & kIdMask);
  if (s == nullptr || s->closing || !s->notifyQueued) return false;
  s->notifyQueued = false;
  ++s->running;
  s->notify();
  --s->running;
  FreeIfDone(*s);
  return true;
}

ReceiveRing::ReceiveId ReceiveRing::Open(int fd, Notify notify) {
  if (fd < 0 || !notify) return 0;
  std::size_t slot;
  if (!freeSlots_.empty()) {
    slot = freeSlots_.back();
  } else {
    if (sockets_.size() == kMaxSockets) return 0;
    slot = sockets_.size();
  }
  void* region = mmap(nullptr, kRegionBytes, PROT_READ | PROT_WRITE, MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
  if (region == MAP_FAILED) return 0;
  io_uring_buf_reg registration{};
  registration.ring_addr = reinterpret_cast<unsigned long>(region);
  registration.ring_entries = kBuffers;
  registration.bgid = static_cast<unsigned short>(slot);
  if (io_uring_register_buf_ring(&ring_, &registration, 0) < 0) {
    munmap(region, kRegionBytes);
    return 0;
  }
  if (slot == sockets_.size()) {
    sockets_.push_back(std::make_unique<Socket>());
  } else {
    freeSlots_.pop_back();
  }
  Socket& s = *sockets_[slot];
  s.id = (nextSerial_++ << kSlotBits) | slot;
  s.fd = fd;
  s.notify = std::move(notify);
  s.region = static_cast<char*>(region);
  s.buffers = static_cast<io_uring_buf_ring*>(region);
  io_uring_buf_ring_init(s.buffers);
  for (unsigned b = 0; b < kBuffers; ++b) {
    io_uring_buf_ring_add(s.buffers, s.Buffer(b), kBufferBytes, static_cast<unsigned short>(b),
                          io_uring_buf_ring_mask(kBuffers), static_cast<int>(b));
  }
  io_uring_buf_ring_advance(s.buffers, kBuffers);
  Arm(s);
  SubmitUnlessDispatching();
  return s.id;
}

void ReceiveRing::GiveBack(Socket& s, unsigned buffer) {
  io_uring_buf_ring_add(s.buffers, s.Buffer(buffer), kBufferBytes, static_cast<unsigned short>(buffer),
                        io_uring_buf_ring_mask(kBuffers), 0);
  io_uring_buf_ring_advance(s.buffers, 1);
}

std::size_t ReceiveRing::Read(ReceiveId id, void* buffer, std::size_t length) {
  Socket* s = Find(id);
  if (s == nullptr || s->closing) return 0;
  auto* p = static_cast<char*>(buffer);
  std::size_t taken = 0;
  while (taken < length && s->heldCount > 0) {
    Socket::Piece& piece = s->held[s->heldFirst];
    const std::size_t n = std::min<std::size_t>(length - taken, piece.length - piece.offset);
    std::memcpy(p + taken, s->Buffer(piece.buffer) + piece.offset, n);
    taken += n;
    piece.offset += static_cast<unsigned>(n);
    if (piece.offset == piece.length) {
      GiveBack(*s, piece.buffer);
      s->heldFirst = (s->heldFirst + 1) % kBuffers;
      --s->heldCount;
    }
  }
  // A receive the kernel stopped for want of buffers goes on now.
  if (!s->armed && s->end == kOpen && s->heldCount < kBuffers) {
    Arm(*s);
    SubmitUnlessDispatching();
  }
  return taken;
}

bool ReceiveRing::Holds(ReceiveId id) const {
  const Socket* s = Find(id);
  return s != nullptr && s->heldCount > 0;
}

int ReceiveRing::End(ReceiveId id) const {
  const Socket* s = Find(id);
  return s != nullptr ? s->end : kEnded;
}

void ReceiveRing::Kick(ReceiveId id) {
  if (Find(id) == nullptr) return;
  io_uring_sqe* sqe = NextEntry();
  if (sqe == nullptr) return;
  io_uring_prep_nop(sqe);
  io_uring_sqe_set_data64(sqe, Tag(kKickKind, id));
  SubmitUnlessDispatching();
}

void ReceiveRing::Close(ReceiveId id) {
  Socket* s = Find(id);
  if (s == nullptr || s->closing) return;
  s->closing = true;
  s->notifyQueued = false;
  if (s->armed) {
    io_uring_sqe* sqe = NextEntry();
    if (sqe != nullptr) {
      io_uring_prep_cancel_fd(sqe, s->fd, IORING_ASYNC_CANCEL_ALL);
      io_uring_sqe_set_data64(sqe, Tag(kCancelKind, 0));
    }
    // Now, so that the kernel lets go of the socket before it is closed.
    io_uring_submit(&ring_);
  }
  FreeIfDone(*s);
}

void ReceiveRing::FreeIfDone(Socket& s) {
  if (!s.closing || s.armed || s.running > 0) return;
  io_uring_unregister_buf_ring(&ring_, s.group());
  munmap(s.region, kRegionBytes);
  const std::uint32_t slot = s.group();
  // The notification goes last: what it holds may be destroyed with it.
  Notify notify = std::move(s.notify);
  s = Socket{};
  freeSlots_.push_back(slot);
}

}  // namespace platform::detail
