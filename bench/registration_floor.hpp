// registration_floor.hpp - the least a lobby server can do per registration,
// the floor that the server's registration rate is set against: a forked
// process that accepts every connection, watches it in its epoll set, reads
// until the connection's first two frames (JOIN and CINI) have arrived, and
// sends a fixed answer in one send. The same system calls per registration
// as the server (accept4, epoll_ctl, recv, send, and its share of
// epoll_wait), the same kernel work of a connection, and no player record,
// no index, no parsing of the lines. Its second form waits in io_uring
// instead, with a multishot accept posted on the listener and a multishot
// receive on every connection (into one pool of buffers), so that a
// registration costs it only the send and its share of the wait: whether a
// server built that way could go faster. Internal to bench/.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

class RegistrationFloor {
 public:
  enum class Wait { kEpoll, kRing };
  // Starts the process; `answer` is what each connection is sent.
  explicit RegistrationFloor(std::string answer, Wait wait = Wait::kEpoll);
  // Whether the io_uring form can run here.
  static bool RingAvailable();
  ~RegistrationFloor();
  RegistrationFloor(const RegistrationFloor&) = delete;
  RegistrationFloor& operator=(const RegistrationFloor&) = delete;

  unsigned port() const { return port_; }  // 0 when it did not start
  double CpuSeconds() const;

 private:
  pid_t pid_ = -1;
  int pipe_ = -1;  // closing it ends the process
  unsigned port_ = 0;
};

}  // namespace bench
