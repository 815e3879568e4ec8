// ring_receiver.hpp - a third way for a loop-driven end to wait for its next
// message: in io_uring_enter, with a multishot receive already posted on the
// socket, so that the kernel has received the bytes into one of the ring's
// buffers by the time the wait returns. Each end then makes two system calls
// per message (the wait and the send), as a blocking end does, where an
// epoll-driven end makes three (wait, receive, send). The benchmarks run it
// beside the epoll floor to show what a wait costs when the receive comes
// with it. Internal to bench/.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace bench {

class RingReceiver {
 public:
  // Sets up a ring with a multishot receive on fd (which stays the
  // caller's); Ready() says whether that worked, Error() why not.
  explicit RingReceiver(int fd);
  ~RingReceiver();
  RingReceiver(const RingReceiver&) = delete;
  RingReceiver& operator=(const RingReceiver&) = delete;

  bool Ready() const;
  const std::string& Error() const { return error_; }

  // Fills p with exactly n bytes, waiting at most the benchmark's socket
  // timeout for each piece; false at the peer's end, an error or a timeout.
  // Bytes beyond n that came in the same piece are kept for the next call.
  bool Receive(char* p, std::size_t n);

  // Whether io_uring works here at all (it may be disabled or filtered).
  static bool Available(std::string* why);

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string error_;
};

}  // namespace bench
