// line_channel.hpp - one connected TCP socket on the platform loop, read as
// protocol lines and written without ever waiting (internal to the game
// core). Received bytes are cut into lines of bounded length; output the
// kernel does not take at once waits in a small buffer, and a partner that
// lets it grow past kMaxBacklog is not reading and counts as gone.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/loop.hpp"
#include "wire.hpp"

namespace cvgame {

class LineChannel {
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
  ~LineChannel();  // closes at once
  LineChannel(const LineChannel&) = delete;
  LineChannel& operator=(const LineChannel&) = delete;

  // Queues bytes for the partner. False when the channel is closed, the
  // socket failed or the backlog would pass kMaxBacklog; the channel is then
  // closed and no handler is called.
  bool Send(std::string_view bytes);
  // Hands the descriptor over to a closer that sends what is still queued,
  // half-closes and waits, within a bound, for the partner's end before it
  // closes: closing with unread input would reset the connection and could
  // cost the partner the last line. No handler is called afterwards.
  void CloseGracefully();
  bool open() const { return fd_ >= 0; }

  // Closers handed a descriptor by CloseGracefully that have not finished;
  // a program about to exit pumps its loop a little while this is nonzero.
  static std::size_t LingeringCloses();

 private:
  void OnEvents(std::uint32_t events);
  bool Flush();
  void Close();
  void Fail(Failure failure);

  int fd_;
  Handlers handlers_;
  platform::WatchId watch_ = 0;
  std::string out_;
  wire::LineSplitter splitter_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace cvgame
