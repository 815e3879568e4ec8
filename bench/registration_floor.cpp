#include "registration_floor.hpp"

#include <fcntl.h>
#include <liburing.h>
#include <poll.h>
#include <sys/mman.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "bench_support.hpp"

namespace bench {
namespace {

constexpr int kStartupMs = 10000;
constexpr std::size_t kFrameTextMax = 4096;  // the server's bound on a frame's text
constexpr unsigned char kSignature[8] = {0x6D, 0x52, 0x26, 0x32, 0x73, 0x37, 0x71, 0x56};

// What the process keeps of a connection: the bytes of a frame still
// arriving and how many frames have.
struct Connection {
  std::string input;
  int frames = 0;
};

// Counts the whole frames at the front of `input` (server frames: the
// signature, a length prefix, the text) and drops them; false for a frame
// the server would refuse.
bool TakeFrames(Connection& c) {
  std::size_t pos = 0;
  for (;;) {
    const std::size_t avail = c.input.size() - pos;
    const auto* p = reinterpret_cast<const unsigned char*>(c.input.data()) + pos;
    if (avail < 9) break;
    if (std::memcmp(p, kSignature, 8) != 0) return false;
    std::size_t length = p[8], header = 9;
    if (length == 255) {
      if (avail < 11) break;
      length = p[9] | (std::size_t{p[10]} << 8);
      header = 11;
    }
    if (length > kFrameTextMax) return false;
    if (avail < header + length) break;
    pos += header + length;
    ++c.frames;
  }
  c.input.erase(0, pos);
  return true;
}

void Serve(int listener, int report, const std::string& answer) {
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = listener;
  epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
  // The report pipe's write end reports an error once the parent closes
  // the other end: the signal to stop.
  ev.events = 0;
  ev.data.fd = report;
  epoll_ctl(ep, EPOLL_CTL_ADD, report, &ev);
  std::vector<Connection> connections;
  char buffer[4096];
  for (;;) {
    epoll_event ready[64];
    const int n = epoll_wait(ep, ready, 64, 1000);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const int fd = ready[i].data.fd;
      if (fd == report) {
        close(ep);
        return;
      }
      if (fd == listener) {
        int c;
        while ((c = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
          if (static_cast<std::size_t>(c) >= connections.size()) connections.resize(static_cast<std::size_t>(c) + 1);
          connections[static_cast<std::size_t>(c)] = Connection{};
          ev.events = EPOLLIN;
          ev.data.fd = c;
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
        }
        continue;
      }
      Connection& c = connections[static_cast<std::size_t>(fd)];
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got > 0) {
        const int before = c.frames;
        c.input.append(buffer, static_cast<std::size_t>(got));
        if (!TakeFrames(c)) {
          close(fd);
          continue;
        }
        if (before < 2 && c.frames >= 2) send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
      }
    }
  }
  close(ep);
}

// The io_uring form: every connection's bytes come in through one pool of
// buffers that the kernel picks from.
constexpr unsigned kRingEntries = 1024;
constexpr unsigned kPoolBuffers = 1024;  // a power of two
constexpr unsigned kPoolBufferBytes = 4096;
constexpr unsigned short kPoolGroup = 0;
constexpr std::uint64_t kAcceptTag = ~std::uint64_t{0};
constexpr std::uint64_t kStopTag = ~std::uint64_t{0} - 1;

struct RingServer {
  io_uring ring{};
  io_uring_buf_ring* pool = nullptr;
  std::vector<char> memory = std::vector<char>(std::size_t{kPoolBuffers} * kPoolBufferBytes);

  char* Buffer(unsigned id) { return memory.data() + std::size_t{id} * kPoolBufferBytes; }
  void GiveBack(unsigned id) {
    io_uring_buf_ring_add(pool, Buffer(id), kPoolBufferBytes, static_cast<unsigned short>(id),
                          io_uring_buf_ring_mask(kPoolBuffers), 0);
    io_uring_buf_ring_advance(pool, 1);
  }
  io_uring_sqe* Entry() {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring);
    if (sqe == nullptr) {
      io_uring_submit(&ring);
      sqe = io_uring_get_sqe(&ring);
    }
    return sqe;
  }
  void Accept(int listener) {
    io_uring_sqe* sqe = Entry();
    io_uring_prep_multishot_accept(sqe, listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    io_uring_sqe_set_data64(sqe, kAcceptTag);
  }
  void Receive(int fd) {
    io_uring_sqe* sqe = Entry();
    io_uring_prep_recv_multishot(sqe, fd, nullptr, 0, 0);
    sqe->flags |= IOSQE_BUFFER_SELECT;
    sqe->buf_group = kPoolGroup;
    io_uring_sqe_set_data64(sqe, static_cast<std::uint64_t>(fd));
  }
};

bool SetUpRing(RingServer& r) {
  if (io_uring_queue_init(kRingEntries, &r.ring, 0) < 0) return false;
  void* ringMemory = mmap(nullptr, kPoolBuffers * sizeof(io_uring_buf), PROT_READ | PROT_WRITE,
                          MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
  if (ringMemory == MAP_FAILED) return false;
  r.pool = static_cast<io_uring_buf_ring*>(ringMemory);
  io_uring_buf_reg registration{};
  registration.ring_addr = reinterpret_cast<unsigned long>(ringMemory);
  registration.ring_entries = kPoolBuffers;
  registration.bgid = kPoolGroup;
  if (io_uring_register_buf_ring(&r.ring, &registration, 0) < 0) return false;
  io_uring_buf_ring_init(r.pool);
  for (unsigned id = 0; id < kPoolBuffers; ++id) {
    io_uring_buf_ring_add(r.pool, r.Buffer(id), kPoolBufferBytes, static_cast<unsigned short>(id),
                          io_uring_buf_ring_mask(kPoolBuffers), static_cast<int>(id));
  }
  io_uring_buf_ring_advance(r.pool, kPoolBuffers);
  return true;
}

void ServeRing(int listener, int report, const std::string& answer) {
  RingServer r;
  if (!SetUpRing(r)) return;
  r.Accept(listener);
  // The report pipe's write end reports an error once the parent closes
  // the other end: the signal to stop.
  io_uring_sqe* stop = r.Entry();
  io_uring_prep_poll_add(stop, report, POLLERR);
  io_uring_sqe_set_data64(stop, kStopTag);
  std::vector<Connection> connections;
  for (;;) {
    const int w = io_uring_submit_and_wait(&r.ring, 1);
    if (w < 0 && w != -EINTR) break;
    io_uring_cqe* cqes[256];
    const unsigned n = io_uring_peek_batch_cqe(&r.ring, cqes, 256);
    for (unsigned i = 0; i < n; ++i) {
      const std::uint64_t tag = cqes[i]->user_data;
      const int res = cqes[i]->res;
      const unsigned flags = cqes[i]->flags;
      if (tag == kStopTag) {
        io_uring_queue_exit(&r.ring);
        return;
      }
      if (tag == kAcceptTag) {
        if ((flags & IORING_CQE_F_MORE) == 0) r.Accept(listener);
        if (res < 0) continue;
        if (static_cast<std::size_t>(res) >= connections.size()) connections.resize(static_cast<std::size_t>(res) + 1);
        connections[static_cast<std::size_t>(res)] = Connection{};
        r.Receive(res);
        continue;
      }
      const int fd = static_cast<int>(tag);
      Connection& c = connections[static_cast<std::size_t>(fd)];
      if (res > 0 && (flags & IORING_CQE_F_BUFFER) != 0) {
        const unsigned id = flags >> IORING_CQE_BUFFER_SHIFT;
        const int before = c.frames;
        c.input.append(r.Buffer(id), static_cast<std::size_t>(res));
        r.GiveBack(id);
        if (!TakeFrames(c)) {
          close(fd);
          continue;
        }
        if (before < 2 && c.frames >= 2) send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        if ((flags & IORING_CQE_F_MORE) == 0) r.Receive(fd);
      } else if (res == -ENOBUFS) {
        r.Receive(fd);
      } else {
        close(fd);  // the end, or an error
      }
    }
    io_uring_cq_advance(&r.ring, n);
  }
  io_uring_queue_exit(&r.ring);
}

}  // namespace

bool RegistrationFloor::RingAvailable() {
  io_uring ring{};
  if (io_uring_queue_init(8, &ring, 0) < 0) return false;
  io_uring_queue_exit(&ring);
  return true;
}

RegistrationFloor::RegistrationFloor(std::string answer, Wait wait) {
  pid_ = SpawnChild(wait == Wait::kRing ? "least-ring-server" : "least-server", &pipe_, [&answer, wait](int report) {
    unsigned port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0) return;
    // As the server does: Nagle off for every connection it accepts, and
    // a backlog as long as the kernel allows.
    const int one = 1;
    setsockopt(listener, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    listen(listener, SOMAXCONN);
    fcntl(listener, F_SETFL, fcntl(listener, F_GETFL) | O_NONBLOCK);
    if (!SendValue(report, port)) return;
    if (wait == Wait::kRing) {
      ServeRing(listener, report, answer);
    } else {
      Serve(listener, report, answer);
    }
  });
  if (pid_ > 0 && !ReceiveValue(pipe_, port_, kStartupMs)) port_ = 0;
}

RegistrationFloor::~RegistrationFloor() {
  if (pipe_ >= 0) close(pipe_);
  ReapChild(pid_);
}

double RegistrationFloor::CpuSeconds() const { return bench::CpuSeconds(pid_); }

}  // namespace bench
