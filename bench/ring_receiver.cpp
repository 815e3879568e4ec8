#include "ring_receiver.hpp"

#include <liburing.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "bench_support.hpp"

namespace bench {
namespace {

constexpr unsigned kEntries = 8;
constexpr unsigned kBuffers = 8;  // a power of two, as the buffer ring asks
constexpr unsigned kBufferBytes = 16 * 1024;
constexpr unsigned short kGroup = 1;
constexpr std::uint64_t kReceiveTag = 1;

std::string Why(const char* what, int negativeErrno) {
  return std::string(what) + ": " + std::strerror(-negativeErrno);
}

}  // namespace

struct RingReceiver::State {
  io_uring ring{};
  bool ringUp = false;
  io_uring_buf_ring* buffers = nullptr;
  std::unique_ptr<char[]> memory;
  int fd = -1;
  bool armed = false;
  bool ended = false;
  // A piece of a received buffer not yet handed out.
  int heldBuffer = -1;
  unsigned heldOffset = 0, heldLength = 0;

  char* Buffer(unsigned id) { return memory.get() + static_cast<std::size_t>(id) * kBufferBytes; }

  void GiveBack(unsigned id) {
    io_uring_buf_ring_add(buffers, Buffer(id), kBufferBytes, static_cast<unsigned short>(id),
                          io_uring_buf_ring_mask(kBuffers), 0);
    io_uring_buf_ring_advance(buffers, 1);
  }

  bool Arm() {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring);
    if (sqe == nullptr) return false;
    io_uring_prep_recv_multishot(sqe, fd, nullptr, 0, 0);
    sqe->flags |= IOSQE_BUFFER_SELECT;
    sqe->buf_group = kGroup;
    io_uring_sqe_set_data64(sqe, kReceiveTag);
    armed = true;
    return true;
  }

  // Waits for the next completed receive and holds its bytes. False at the
  // end, on an error or when nothing came within the timeout.
  bool Next() {
    for (;;) {
      if (!armed && !Arm()) return false;
      __kernel_timespec timeout{kSocketTimeoutSeconds, 0};
      io_uring_cqe* cqe = nullptr;
      const int r = io_uring_submit_and_wait_timeout(&ring, &cqe, 1, &timeout, nullptr);
      if (r == -EINTR) continue;
      if (r < 0 || cqe == nullptr) return false;
      const int result = cqe->res;
      const unsigned flags = cqe->flags;
      io_uring_cqe_seen(&ring, cqe);
      if ((flags & IORING_CQE_F_MORE) == 0) armed = false;
      if (result == -ENOBUFS) continue;  // every buffer was held; they are back now
      if (result <= 0) {
        ended = true;
        return false;
      }
      if ((flags & IORING_CQE_F_BUFFER) == 0) return false;
      heldBuffer = static_cast<int>(flags >> IORING_CQE_BUFFER_SHIFT);
      heldOffset = 0;
      heldLength = static_cast<unsigned>(result);
      return true;
    }
  }
};

RingReceiver::RingReceiver(int fd) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.fd = fd;
  int r = io_uring_queue_init(kEntries, &s.ring, 0);
  if (r < 0) {
    error_ = Why("io_uring_queue_init", r);
    return;
  }
  s.ringUp = true;
  void* ringMemory = mmap(nullptr, kBuffers * sizeof(io_uring_buf), PROT_READ | PROT_WRITE,
                          MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
  if (ringMemory == MAP_FAILED) {
    error_ = Why("mmap", -errno);
    return;
  }
  s.buffers = static_cast<io_uring_buf_ring*>(ringMemory);
  io_uring_buf_reg registration{};
  registration.ring_addr = reinterpret_cast<unsigned long>(ringMemory);
  registration.ring_entries = kBuffers;
  registration.bgid = kGroup;
  r = io_uring_register_buf_ring(&s.ring, &registration, 0);
  if (r < 0) {
    error_ = Why("io_uring_register_buf_ring", r);
    munmap(ringMemory, kBuffers * sizeof(io_uring_buf));
    s.buffers = nullptr;
    return;
  }
  s.memory = std::make_unique<char[]>(static_cast<std::size_t>(kBuffers) * kBufferBytes);
  io_uring_buf_ring_init(s.buffers);
  for (unsigned id = 0; id < kBuffers; ++id) {
    io_uring_buf_ring_add(s.buffers, s.Buffer(id), kBufferBytes, static_cast<unsigned short>(id),
                          io_uring_buf_ring_mask(kBuffers), static_cast<int>(id));
  }
  io_uring_buf_ring_advance(s.buffers, kBuffers);
  if (!s.Arm() || (r = io_uring_submit(&s.ring)) < 0) error_ = Why("io_uring_submit", r < 0 ? r : -EBUSY);
}

RingReceiver::~RingReceiver() {
  State& s = *state_;
  // Tearing the ring down cancels the posted receive, which holds the
  // socket open for as long as it is posted.
  if (s.ringUp) io_uring_queue_exit(&s.ring);
  if (s.buffers != nullptr) munmap(s.buffers, kBuffers * sizeof(io_uring_buf));
}

bool RingReceiver::Ready() const { return error_.empty(); }

bool RingReceiver::Receive(char* p, std::size_t n) {
  State& s = *state_;
  if (!Ready()) return false;
  while (n > 0) {
    if (s.heldBuffer < 0 && (s.ended || !s.Next())) return false;
    const std::size_t take = std::min<std::size_t>(n, s.heldLength - s.heldOffset);
    std::memcpy(p, s.Buffer(static_cast<unsigned>(s.heldBuffer)) + s.heldOffset, take);
    p += take;
    n -= take;
    s.heldOffset += static_cast<unsigned>(take);
    if (s.heldOffset == s.heldLength) {
      s.GiveBack(static_cast<unsigned>(s.heldBuffer));
      s.heldBuffer = -1;
    }
  }
  return true;
}

bool RingReceiver::Available(std::string* why) {
  io_uring ring{};
  const int r = io_uring_queue_init(kEntries, &ring, 0);
  if (r < 0) {
    if (why != nullptr) *why = Why("io_uring_queue_init", r);
    return false;
  }
  io_uring_queue_exit(&ring);
  return true;
}

}  // namespace bench
