#include "line_channel.hpp"

#include <chrono>

namespace cvgame {
namespace {

// One read takes at most this much: a few lines; the splitter holds no more
// than one line and the bytes of one read.
constexpr std::size_t kReadChunk = 512;
constexpr std::chrono::milliseconds kLingerBound{2000};

const platform::StreamChannel::Limits kLimits{LineChannel::kMaxBacklog, kReadChunk, 0};

}  // namespace

LineChannel::LineChannel(int fd, Handlers handlers)
    : handlers_(std::move(handlers)), channel_(platform::EventLoop::Default(), fd, kLimits, *this) {}

bool LineChannel::Send(std::string_view bytes) {
  if (channel_.Send(bytes)) return true;
  channel_.Close();
  return false;
}

void LineChannel::CloseGracefully() { channel_.CloseGracefully(kLingerBound); }

void LineChannel::Fail(Failure failure) {
  channel_.Close();
  if (handlers_.failed) {
    // A copy: the handler may destroy this channel.
    const auto failed = handlers_.failed;
    failed(failure);
  }
}

void LineChannel::OnFailed(platform::StreamChannel&, platform::StreamChannel::Failure failure) {
  Fail(failure == platform::StreamChannel::Failure::kPeerClosed ? Failure::kClosed : Failure::kError);
}

void LineChannel::OnReceived(platform::StreamChannel&, platform::ByteBuffer& input) {
  const std::shared_ptr<bool> alive = alive_;
  splitter_.Feed(input.Readable());
  input.RetrieveAll();
  std::string line;
  for (;;) {
    const wire::LineSplitter::Status status = splitter_.Next(&line);
    if (status == wire::LineSplitter::Status::kNeedMore) return;
    if (status == wire::LineSplitter::Status::kTooLong) return Fail(Failure::kTooLong);
    if (handlers_.line) {
      const auto handler = handlers_.line;
      handler(line);
    }
    // The handler may have closed or destroyed the channel.
    if (!*alive || !channel_.open()) return;
  }
}

}  // namespace cvgame
