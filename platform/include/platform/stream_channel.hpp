// stream_channel.hpp - one connected stream socket on a loop, read and
// written without ever waiting (public; the lobby server's connections and
// the game engine's line channel are this channel with their own codecs).
//
// Received bytes are handed to the owner's codec, which takes whole units
// from the front and leaves the rest; the rest is kept until more bytes
// arrive. A channel holds no input buffer of its own while nothing is left
// over: each receive lands in a buffer its thread shares with every channel,
// so ten thousand quiet connections cost no memory for input.
//
// Output the kernel does not take at once waits in an output buffer, which
// is given back once it has gone out (a few small ones are kept by the
// thread for the next channel to queue output); write interest is asked for only
// while output waits. A peer that lets more than maxBacklog bytes pile up is
// not reading: Append and Send refuse, and the owner closes the channel.
//
// The handler may close or destroy the channel; the channel never touches
// itself afterwards (a flag on the stack of each event it handles is its
// liveness token: the channel keeps no allocation for it). OnReceived is
// never re-entered for one channel: a nested loop run from it sees the
// channel's input only once it has returned. A channel is small, so that an
// owner may be one (the lobby server's connections derive from it).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/byte_buffer.hpp"
#include "platform/event_loop.hpp"
#include "platform/liveness_guard.hpp"

namespace platform {

class PLAT_EXPORT StreamChannel {
 public:
  enum class Failure {
    kPeerClosed,   // the peer ended the stream
    kReadFailed,   // receiving failed (a reset, ...)
    kWriteFailed,  // sending what waited failed
  };

  struct Limits {
    // Output that may wait for the kernel.
    std::size_t maxBacklog = 64 * 1024;
    // The most one receive takes; a busy peer gets its next share on the
    // next loop turn, after everyone else.
    std::size_t readChunk = 64 * 1024;
    // Capacity the leftover of an unfinished unit may keep before the
    // buffer is shrunk to fit it (0: never shrunk).
    std::size_t heldInput = 0;
  };

  // The owner's side: its codec and what it does when the stream ends. One
  // handler may serve many channels (a server's), or a channel may belong
  // to its handler; either may close or destroy the channel from any call.
  class Handler {
   public:
    // Bytes arrived: `input` holds everything no earlier call consumed.
    // Consume whole units from its front and refuse a unit too long to be
    // whole; what is left comes back with the next bytes.
    virtual void OnReceived(StreamChannel& channel, ByteBuffer& input) = 0;
    // The stream ended or failed; the channel is already closed.
    virtual void OnFailed(StreamChannel& channel, Failure failure) = 0;
    // Writability let waiting output go (all or part of it).
    virtual void OnWrote(StreamChannel& /*channel*/) {}

   protected:
    ~Handler() = default;
  };

  // Takes a connected non-blocking descriptor, which it closes. limits and
  // handler must outlive the channel.
  StreamChannel(EventLoop& loop, int fd, const Limits& limits, Handler& handler);
  ~StreamChannel();
  StreamChannel(const StreamChannel&) = delete;
  StreamChannel& operator=(const StreamChannel&) = delete;

  bool open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  std::size_t PendingOutput() const { return out_ ? out_->ReadableBytes() : 0; }

  // The output buffer, made when needed with room for `expected` bytes.
  // Append to it, then check WithinBacklog; Flush sends.
  ByteBuffer& Output(std::size_t expected = 0);
  bool WithinBacklog() const { return PendingOutput() <= limits_->maxBacklog; }
  // Queues bytes without sending; false when the backlog would pass the
  // limit (they are still queued: the owner is expected to close).
  bool Append(std::string_view bytes);
  // Sends what the kernel takes now and asks for writability when it takes
  // less. False when the socket failed: the channel is then closed and no
  // handler is called.
  bool Flush();
  // Sends bytes at once, queueing what the kernel does not take. False
  // (nothing sent) when the channel is closed or the bytes would pass the
  // backlog limit, or false with the channel closed when the socket failed.
  bool Send(std::string_view bytes);

  // Closes at once; output still waiting is dropped.
  void Close();
  // Hands the descriptor to a closer that sends what still waits,
  // half-closes and waits, at most `linger`, for the peer's end before it
  // closes: closing with unread input would reset the connection and could
  // cost the peer the last bytes. No handler is called afterwards.
  void CloseGracefully(std::chrono::milliseconds linger);

  // Closers handed a descriptor by CloseGracefully that have not finished;
  // a program about to exit pumps its loop a little while this is nonzero.
  static std::size_t LingeringCloses();

 private:
  void OnEvents(std::uint32_t events);
  void Receive(const LivenessGuard& guard);
  void Fail(Failure failure);
  void WantWrite(bool want);
  void Rewatch();

  const Limits* limits_;
  Handler* handler_;
  FdWatch watch_;
  int fd_;
  bool receiving_ = false;
  bool readPaused_ = false;
  bool* gone_ = nullptr;  // the innermost LivenessGuard of an event being handled
  // Only while an unfinished unit waits / output waits for the kernel.
  std::unique_ptr<ByteBuffer> in_;
  std::unique_ptr<ByteBuffer> out_;
};

}  // namespace platform
