// line_channel.hpp - one connected TCP socket on the platform loop, read as
// protocol lines and written without ever waiting (internal to the game
// core): the platform's stream channel with the game's line codec. Received
// bytes are cut into lines of bounded length; output the kernel does not
// take at once waits in a small buffer, and a partner that lets it grow past
// kMaxBacklog is not reading and counts as gone.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/stream_channel.hpp"
#include "wire.hpp"

namespace cvgame {

class LineChannel final : private platform::StreamChannel::Handler {
 public:
  static constexpr std::size_t kMaxBacklog = 4096;

  enum class Failure { kClosed, kError, kTooLong };
  struct Handlers {
    std::function<void(std::string_view line)> line;  // without its '\n'
    std::function<void(Failure)> failed;              // after the channel closed
  };

  // Takes a connected non-blocking descriptor. Handlers may destroy the
  // channel.
  LineChannel(int fd, Handlers handlers);
  ~LineChannel() { *alive_ = false; }  // closes at once
  LineChannel(const LineChannel&) = delete;
  LineChannel& operator=(const LineChannel&) = delete;

  // Queues bytes for the partner. False when the channel is closed, the
  // socket failed or the backlog would pass kMaxBacklog; the channel is then
  // closed and no handler is called.
  bool Send(std::string_view bytes);
  // Sends what is still queued, half-closes and waits, within a bound, for
  // the partner's end before it closes (StreamChannel::CloseGracefully). No
  // handler is called afterwards.
  void CloseGracefully();
  bool open() const { return channel_.open(); }

 private:
  void OnReceived(platform::StreamChannel& channel, platform::ByteBuffer& input) override;
  void OnFailed(platform::StreamChannel& channel, platform::StreamChannel::Failure failure) override;
  void Fail(Failure failure);

  Handlers handlers_;
  wire::LineSplitter splitter_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  platform::StreamChannel channel_;
};

}  // namespace cvgame
