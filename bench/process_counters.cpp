// The counting definitions behind process_counters.hpp. Each wrapper counts
// one call and hands it to the next definition of the same name (libc's),
// found once with dlsym(RTLD_NEXT).
#include "process_counters.hpp"

#include <dlfcn.h>
#include <liburing.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::uint64_t> g_syscalls{0};
std::atomic<std::uint64_t> g_allocations{0};

template <typename Fn>
Fn Next(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (f == nullptr) std::abort();  // libc without it: nothing sensible to count
  return reinterpret_cast<Fn>(f);
}

// Counts the call and calls libc's function of that name.
#define BENCH_FORWARD(name, ...)                                          \
  g_syscalls.fetch_add(1, std::memory_order_relaxed);                     \
  static const auto real = Next<decltype(&::name)>(#name);                \
  return real(__VA_ARGS__)

void* Allocate(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  const auto a = static_cast<std::size_t>(alignment);
  void* p = std::aligned_alloc(a, (size + a - 1) / a * a);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace bench {

ProcessCounts CurrentCounts() {
  return {g_syscalls.load(std::memory_order_relaxed), g_allocations.load(std::memory_order_relaxed)};
}

}  // namespace bench

// ---- the system calls of the message paths --------------------------------

// Seen by the libraries only when exported from the program (ENABLE_EXPORTS
// in bench/CMakeLists.txt), whatever the build's default visibility.
#pragma GCC visibility push(default)
extern "C" {

ssize_t read(int fd, void* buffer, size_t n) { BENCH_FORWARD(read, fd, buffer, n); }
ssize_t write(int fd, const void* buffer, size_t n) { BENCH_FORWARD(write, fd, buffer, n); }
ssize_t recv(int fd, void* buffer, size_t n, int flags) { BENCH_FORWARD(recv, fd, buffer, n, flags); }
ssize_t recvfrom(int fd, void* buffer, size_t n, int flags, sockaddr* from, socklen_t* fromLength) {
  BENCH_FORWARD(recvfrom, fd, buffer, n, flags, from, fromLength);
}
ssize_t recvmsg(int fd, msghdr* message, int flags) { BENCH_FORWARD(recvmsg, fd, message, flags); }
ssize_t send(int fd, const void* buffer, size_t n, int flags) { BENCH_FORWARD(send, fd, buffer, n, flags); }
ssize_t sendto(int fd, const void* buffer, size_t n, int flags, const sockaddr* to, socklen_t toLength) {
  BENCH_FORWARD(sendto, fd, buffer, n, flags, to, toLength);
}
ssize_t sendmsg(int fd, const msghdr* message, int flags) { BENCH_FORWARD(sendmsg, fd, message, flags); }
int epoll_wait(int epfd, epoll_event* events, int maxEvents, int timeout) {
  BENCH_FORWARD(epoll_wait, epfd, events, maxEvents, timeout);
}
int epoll_ctl(int epfd, int op, int fd, epoll_event* event) noexcept { BENCH_FORWARD(epoll_ctl, epfd, op, fd, event); }
int poll(pollfd* fds, nfds_t n, int timeout) { BENCH_FORWARD(poll, fds, n, timeout); }
int getsockname(int fd, sockaddr* address, socklen_t* length) noexcept {
  BENCH_FORWARD(getsockname, fd, address, length);
}
int getpeername(int fd, sockaddr* address, socklen_t* length) noexcept {
  BENCH_FORWARD(getpeername, fd, address, length);
}
int getsockopt(int fd, int level, int name, void* value, socklen_t* length) noexcept {
  BENCH_FORWARD(getsockopt, fd, level, name, value, length);
}
int setsockopt(int fd, int level, int name, const void* value, socklen_t length) noexcept {
  BENCH_FORWARD(setsockopt, fd, level, name, value, length);
}
int timerfd_settime(int fd, int flags, const itimerspec* value, itimerspec* old) noexcept {
  BENCH_FORWARD(timerfd_settime, fd, flags, value, old);
}
int close(int fd) { BENCH_FORWARD(close, fd); }
int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  BENCH_FORWARD(ioctl, fd, request, argument);
}

// liburing enters the kernel with system calls of its own, not through
// libc: each of its calls that may enter is counted as one.
int io_uring_submit(io_uring* ring) { BENCH_FORWARD(io_uring_submit, ring); }
int io_uring_submit_and_wait(io_uring* ring, unsigned waitCount) {
  BENCH_FORWARD(io_uring_submit_and_wait, ring, waitCount);
}
int io_uring_submit_and_wait_timeout(io_uring* ring, io_uring_cqe** cqe, unsigned waitCount,
                                     __kernel_timespec* timeout, sigset_t* mask) {
  BENCH_FORWARD(io_uring_submit_and_wait_timeout, ring, cqe, waitCount, timeout, mask);
}
int io_uring_submit_and_get_events(io_uring* ring) { BENCH_FORWARD(io_uring_submit_and_get_events, ring); }
int io_uring_get_events(io_uring* ring) { BENCH_FORWARD(io_uring_get_events, ring); }
int __io_uring_get_cqe(io_uring* ring, io_uring_cqe** cqe, unsigned submit, unsigned waitCount, sigset_t* mask) {
  BENCH_FORWARD(__io_uring_get_cqe, ring, cqe, submit, waitCount, mask);
}
int io_uring_register_buf_ring(io_uring* ring, io_uring_buf_reg* registration, unsigned flags) {
  BENCH_FORWARD(io_uring_register_buf_ring, ring, registration, flags);
}
int io_uring_unregister_buf_ring(io_uring* ring, int group) { BENCH_FORWARD(io_uring_unregister_buf_ring, ring, group); }

}  // extern "C"
#pragma GCC visibility pop

// ---- the heap ----------------------------------------------------------------

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
