// The kernel's share of one agent message, way by way: the CPU time of a
// send, an epoll_wait and a receive of one 95-byte message (the agent's
// frame of a 64-character user message) on a loopback TCP pair in this one
// thread, for each way the agent could make those calls. Each way is timed
// in blocks of --count messages, the blocks of all ways alternating, and the
// best block of each is printed: CPU time of the thread
// (CLOCK_THREAD_CPUTIME_ID), which the other processes of a shared machine
// disturb far less than wall time. This machine's virtual CPUs count no
// instructions (no PMU), so time is the measure here.
//
//   send_variants [--count N] [--blocks N]
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_support.hpp"

namespace {

constexpr std::size_t kHeader = 10;  // the frame's header for a text under 255 bytes
constexpr std::size_t kText = 85;    // "PLRS <id> <64 characters>"
constexpr std::size_t kFrame = kHeader + kText;

struct Way {
  const char* name;
  bool gathered;     // sendmsg of header and text, else send of one copied buffer
  bool oneIovec;     // sendmsg of the one copied buffer
  bool agentWait;    // epoll_wait(64 events, 1000 ms) on a set of five with EPOLLRDHUP
  bool wait;         // any epoll_wait at all
  std::size_t room;  // the receive's buffer
};

double ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  long count = 20000, blocks = 25;
  for (int i = 1; i < argc; ++i) {
    if (bench::ParseCountOption(argc, argv, &i, "--count", &count) ||
        bench::ParseCountOption(argc, argv, &i, "--blocks", &blocks))
      continue;
    std::fprintf(stderr, "usage: send_variants [--count N] [--blocks N]\n");
    return 2;
  }
  bench::PinToOneCpu();
  unsigned port = 0;
  const int listener = bench::ListenLoopback(&port);
  const int sender = listener >= 0 ? bench::ConnectLoopback(port) : -1;
  const int receiver = sender >= 0 ? bench::AcceptOne(listener, 5000) : -1;
  if (receiver < 0) {
    std::fprintf(stderr, "send_variants: no loopback connection\n");
    return 1;
  }
  const int one = 1;
  setsockopt(receiver, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  // The floor's epoll set (the socket alone) and the agent's (the socket
  // with EPOLLRDHUP beside four other descriptors, as its loop has).
  const int floorSet = epoll_create1(EPOLL_CLOEXEC);
  const int agentSet = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  epoll_ctl(floorSet, EPOLL_CTL_ADD, receiver, &ev);
  ev.events = EPOLLIN | EPOLLRDHUP;
  epoll_ctl(agentSet, EPOLL_CTL_ADD, receiver, &ev);
  int pipes[4][2];
  for (auto& p : pipes) {
    if (pipe(p) != 0) return 1;
    ev.events = EPOLLIN;
    epoll_ctl(agentSet, EPOLL_CTL_ADD, p[0], &ev);
  }

  const Way ways[] = {
      {"send of header and text copied together", false, false, false, true, kFrame},
      {"sendmsg of header and text as two pieces", true, false, false, true, kFrame},
      {"sendmsg of the copied buffer as one piece", false, true, false, true, kFrame},
      {"send, receive into 16 KiB", false, false, false, true, 16416},
      {"send, the agent's epoll set and wait", false, false, true, true, kFrame},
      {"send and receive, no wait", false, false, false, false, kFrame},
  };
  char header[kHeader] = {'m', 'R', '&', '2', 's', '7', 'q', 'V', 0, static_cast<char>(kText)};
  char text[kText];
  std::memset(text, 'a', sizeof text);
  char joined[kFrame];
  std::vector<char> in(16416);
  epoll_event ready[64];
  std::vector<double> best(std::size(ways), 1e300);
  for (long b = 0; b < blocks; ++b) {
    for (std::size_t w = 0; w < std::size(ways); ++w) {
      const Way& way = ways[w];
      const double start = ThreadCpuNs();
      for (long i = 0; i < count; ++i) {
        if (way.gathered) {
          iovec pieces[2] = {{header, kHeader}, {text, kText}};
          msghdr m{};
          m.msg_iov = pieces;
          m.msg_iovlen = 2;
          if (sendmsg(sender, &m, MSG_NOSIGNAL) != static_cast<ssize_t>(kFrame)) return 1;
        } else {
          std::memcpy(joined, header, kHeader);
          std::memcpy(joined + kHeader, text, kText);
          if (way.oneIovec) {
            iovec piece = {joined, kFrame};
            msghdr m{};
            m.msg_iov = &piece;
            m.msg_iovlen = 1;
            if (sendmsg(sender, &m, MSG_NOSIGNAL) != static_cast<ssize_t>(kFrame)) return 1;
          } else if (send(sender, joined, kFrame, MSG_NOSIGNAL) != static_cast<ssize_t>(kFrame)) {
            return 1;
          }
        }
        if (way.wait) {
          const int n = way.agentWait ? epoll_wait(agentSet, ready, 64, 1000) : epoll_wait(floorSet, ready, 1, 10000);
          if (n != 1) return 1;
        }
        // Loopback has queued the whole message at the receiver by the time
        // send returns.
        if (recv(receiver, in.data(), way.room, 0) != static_cast<ssize_t>(kFrame)) return 1;
      }
      best[w] = std::min(best[w], (ThreadCpuNs() - start) / static_cast<double>(count));
    }
  }
  for (std::size_t w = 0; w < std::size(ways); ++w)
    std::printf("%-45s %6.0f ns per message (best of %ld blocks of %ld)\n", ways[w].name, best[w], blocks, count);
  return 0;
}
