// The stream channel's output over real socket pairs.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/event_loop.hpp"
#include "platform/stream_channel.hpp"

namespace {

using platform::ByteBuffer;
using platform::StreamChannel;

struct IgnoringHandler final : StreamChannel::Handler {
  void OnReceived(StreamChannel&, ByteBuffer& input) override { input.RetrieveAll(); }
  void OnFailed(StreamChannel&, StreamChannel::Failure) override {}
};

// A connected pair: [0] non-blocking for the channel, [1] the test's end.
struct Pair {
  int fd[2] = {-1, -1};
  Pair() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0);
    fcntl(fd[0], F_SETFL, fcntl(fd[0], F_GETFL) | O_NONBLOCK);
  }
  ~Pair() { close(fd[1]); }
  std::string Drain() const {
    std::string got;
    char buf[256];
    for (ssize_t n; (n = recv(fd[1], buf, sizeof buf, MSG_DONTWAIT)) > 0;) got.append(buf, static_cast<size_t>(n));
    return got;
  }
};

// Output buffers go back to the thread and are handed to later channels:
// what one channel left unsent must never reach another channel's peer, and
// a reused buffer must still take output larger than it was.
TEST(StreamChannel, ReusedOutputBufferCarriesNothingOver) {
  platform::EventLoop loop;
  IgnoringHandler handler;
  const StreamChannel::Limits limits;
  Pair first, second, third;
  {
    StreamChannel dropped(loop, first.fd[0], limits, handler);
    ASSERT_TRUE(dropped.Append("never sent"));
    dropped.Close();
  }
  StreamChannel sent(loop, second.fd[0], limits, handler);
  ASSERT_TRUE(sent.Append("hello"));
  ASSERT_TRUE(sent.Flush());
  EXPECT_EQ(second.Drain(), "hello");
  EXPECT_EQ(first.Drain(), "");

  const std::string longer(3000, 'x');
  StreamChannel bigger(loop, third.fd[0], limits, handler);
  ASSERT_TRUE(bigger.Append(longer));
  ASSERT_TRUE(bigger.Flush());
  EXPECT_EQ(third.Drain(), longer);
}

}  // namespace
