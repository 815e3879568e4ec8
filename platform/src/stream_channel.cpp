#include "platform/stream_channel.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <list>

#include "platform/timer.hpp"

namespace platform {
namespace {

// Sends what the kernel takes without waiting; false when the socket failed.
bool SendSome(int fd, ByteBuffer& out) {
  while (out.ReadableBytes() > 0) {
    const ssize_t n = send(fd, out.Peek(), out.ReadableBytes(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      out.Retrieve(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

// The buffer receives land in: the thread's shared one, or, while a receive
// further up the stack still hands that one to its owner, one of its own.
class ReceiveBuffer {
 public:
  ReceiveBuffer() {
    thread_local ByteBuffer shared;
    thread_local bool busy = false;
    if (!busy) {
      busy = true;
      busy_ = &busy;
      buffer_ = &shared;
    } else {
      own_ = std::make_unique<ByteBuffer>();
      buffer_ = own_.get();
    }
  }
  ~ReceiveBuffer() {
    buffer_->RetrieveAll();
    if (busy_ != nullptr) *busy_ = false;
  }
  ReceiveBuffer(const ReceiveBuffer&) = delete;
  ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

  ByteBuffer& get() { return *buffer_; }

 private:
  ByteBuffer* buffer_ = nullptr;
  bool* busy_ = nullptr;
  std::unique_ptr<ByteBuffer> own_;
};

// Output buffers whose bytes all went out, kept by their thread for the next
// channel that has to queue output: a server answering thousands of new
// connections would otherwise make and free one (and its block) for each.
// Only a few small ones are kept; a channel closed after the thread's own
// objects were destroyed (at exit) frees its buffer as before.
class SpareOutput {
 public:
  static std::unique_ptr<ByteBuffer> Take(std::size_t expected) {
    if (!t_gone) {
      Spares& spares = t_spares;
      if (spares.count > 0) {
        std::unique_ptr<ByteBuffer> buffer = std::move(spares.buffers[--spares.count]);
        buffer->EnsureWritable(expected);
        return buffer;
      }
    }
    return std::make_unique<ByteBuffer>(expected);
  }

  static void Give(std::unique_ptr<ByteBuffer> buffer) {
    if (!buffer || t_gone || buffer->Capacity() > kMaxCapacity) return;
    Spares& spares = t_spares;
    if (spares.count == kMaxKept) return;
    buffer->RetrieveAll();
    spares.buffers[spares.count++] = std::move(buffer);
  }

 private:
  static constexpr std::size_t kMaxKept = 8;
  static constexpr std::size_t kMaxCapacity = 16 * 1024;
  struct Spares {
    std::unique_ptr<ByteBuffer> buffers[kMaxKept];
    std::size_t count = 0;
    ~Spares() { t_gone = true; }
  };
  // Trivially destructible, so still readable once t_spares is gone.
  static thread_local bool t_gone;
  static thread_local Spares t_spares;
};

// Initial-exec: one load from the thread pointer, where the default model of
// a shared library calls __tls_get_addr (as for the loop's t_running).
__attribute__((tls_model("initial-exec"))) thread_local bool SpareOutput::t_gone = false;
__attribute__((tls_model("initial-exec"))) thread_local SpareOutput::Spares SpareOutput::t_spares;

// Owns a descriptor from CloseGracefully until the peer has seen its end.
class Lingerer {
 public:
  static std::list<std::unique_ptr<Lingerer>>& All() {
    static auto* all = new std::list<std::unique_ptr<Lingerer>>();
    return *all;
  }

  static void Adopt(EventLoop& loop, int fd, std::unique_ptr<ByteBuffer> out,
                    std::chrono::milliseconds linger) {
    All().push_back(std::unique_ptr<Lingerer>(new Lingerer(loop, fd, std::move(out))));
    Lingerer* self = All().back().get();
    self->self_ = std::prev(All().end());
    self->Begin(linger);
  }

  ~Lingerer() {
    *alive_ = false;
    watch_.Reset();
    ::close(fd_);
  }

 private:
  Lingerer(EventLoop& loop, int fd, std::unique_ptr<ByteBuffer> out)
      : loop_(loop), fd_(fd), out_(out ? std::move(out) : std::make_unique<ByteBuffer>(0)),
        timer_(loop, [this] { Finish(); }) {}

  void Begin(std::chrono::milliseconds linger) {
    if (!SendSome(fd_, *out_)) return Finish();
    if (out_->ReadableBytes() == 0) shutdown(fd_, SHUT_WR);
    watch_ = FdWatch(loop_, fd_, out_->ReadableBytes() == 0 ? EPOLLIN : EPOLLIN | EPOLLOUT,
                     [this, alive = alive_](std::uint32_t events) {
                       if (*alive) OnEvents(events);
                     });
    if (!watch_.active()) return Finish();
    timer_.Start(linger);
  }

  void OnEvents(std::uint32_t events) {
    if ((events & EPOLLOUT) && out_->ReadableBytes() > 0) {
      if (!SendSome(fd_, *out_)) return Finish();
      if (out_->ReadableBytes() == 0) {
        shutdown(fd_, SHUT_WR);
        watch_.Modify(EPOLLIN);
      }
    }
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
      char discard[512];
      const ssize_t n = recv(fd_, discard, sizeof discard, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return Finish();
    }
  }

  // Destroys this object; nothing may touch it afterwards.
  void Finish() { All().erase(self_); }

  EventLoop& loop_;
  int fd_;
  std::unique_ptr<ByteBuffer> out_;
  FdWatch watch_;
  Timer timer_;
  std::list<std::unique_ptr<Lingerer>>::iterator self_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

StreamChannel::StreamChannel(EventLoop& loop, int fd, const Limits& limits, Handler& handler)
    : limits_(&limits), handler_(&handler), fd_(fd) {
  if (fd_ < 0) return;
  watch_ = FdWatch(loop, fd_, EPOLLIN, [this](std::uint32_t events) { OnEvents(events); });
  if (!watch_.active()) Close();
}

StreamChannel::~StreamChannel() {
  LivenessGuard::MarkGone(gone_);
  Close();
}

ByteBuffer& StreamChannel::Output(std::size_t expected) {
  if (!out_) out_ = SpareOutput::Take(expected);
  return *out_;
}

bool StreamChannel::Append(std::string_view bytes) {
  Output(bytes.size()).Append(bytes);
  return WithinBacklog();
}

bool StreamChannel::Flush() {
  if (fd_ < 0) return false;
  if (!out_) return true;
  if (!SendSome(fd_, *out_)) {
    Close();
    return false;
  }
  if (out_->ReadableBytes() > 0) {
    WantWrite(true);
    return true;
  }
  SpareOutput::Give(std::move(out_));
  WantWrite(false);
  return true;
}

bool StreamChannel::Send(std::string_view bytes) {
  if (fd_ < 0 || PendingOutput() + bytes.size() > limits_->maxBacklog) return false;
  if (PendingOutput() == 0) {
    // Nothing waits: straight to the kernel, and only what it refuses is
    // copied.
    while (!bytes.empty()) {
      const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        Close();
        return false;
      }
    }
    if (bytes.empty()) return true;
  }
  Output(bytes.size()).Append(bytes);
  return Flush();
}

void StreamChannel::Close() {
  watch_.Reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  // The input buffer may be in OnReceived's hands; it goes with the channel.
  SpareOutput::Give(std::move(out_));
}

void StreamChannel::CloseGracefully(std::chrono::milliseconds linger) {
  if (fd_ < 0) return;
  watch_.Reset();
  const int fd = fd_;
  fd_ = -1;
  Lingerer::Adopt(*watch_.loop(), fd, std::move(out_), linger);
}

std::size_t StreamChannel::LingeringCloses() { return Lingerer::All().size(); }

void StreamChannel::WantWrite(bool want) { watch_.Modify(want ? EPOLLIN | EPOLLOUT : EPOLLIN); }

void StreamChannel::Rewatch() {
  watch_ = FdWatch(*watch_.loop(), fd_, PendingOutput() > 0 ? EPOLLIN | EPOLLOUT : EPOLLIN,
                   [this](std::uint32_t events) { OnEvents(events); });
}

void StreamChannel::Fail(Failure failure) {
  Close();
  handler_->OnFailed(*this, failure);
}

void StreamChannel::OnEvents(std::uint32_t events) {
  LivenessGuard guard(gone_);
  if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
    if (receiving_) {
      // A nested loop inside OnReceived: the input waits for it to return,
      // and the watch with it, or the loop would spin on the unread bytes
      // (or on a hang-up, which no event mask keeps away).
      readPaused_ = true;
      watch_.Reset();
      return;
    }
    Receive(guard);
    if (guard.gone() || fd_ < 0) return;
  }
  if (events & EPOLLOUT) {
    if (!Flush()) return Fail(Failure::kWriteFailed);
    handler_->OnWrote(*this);
  }
}

void StreamChannel::Receive(const LivenessGuard& guard) {
  ReceiveBuffer receiveBuffer;
  ByteBuffer& chunk = receiveBuffer.get();
  chunk.EnsureWritable(limits_->readChunk);
  ssize_t n;
  do {
    n = recv(fd_, chunk.BeginWrite(), limits_->readChunk, 0);
  } while (n < 0 && errno == EINTR);
  if (n == 0) return Fail(Failure::kPeerClosed);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    return Fail(Failure::kReadFailed);
  }
  chunk.HasWritten(static_cast<std::size_t>(n));

  // What is left over from an earlier receive goes first.
  ByteBuffer* input = &chunk;
  if (in_) {
    in_->Append(chunk.Readable());
    chunk.RetrieveAll();
    input = in_.get();
  }
  receiving_ = true;
  handler_->OnReceived(*this, *input);
  if (guard.gone()) return;
  receiving_ = false;
  if (fd_ < 0) return;
  if (input->ReadableBytes() == 0) {
    in_.reset();
  } else if (!in_) {
    in_ = std::make_unique<ByteBuffer>(input->ReadableBytes());
    in_->Append(input->Readable());
  } else if (limits_->heldInput > 0 && in_->Capacity() > limits_->heldInput) {
    // What is left is part of one unit; give back what a burst made.
    in_->Shrink();
  }
  if (readPaused_) {
    readPaused_ = false;
    Rewatch();
    if (!watch_.active()) Fail(Failure::kReadFailed);
  }
}

}  // namespace platform
