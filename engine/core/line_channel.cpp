#include "line_channel.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <list>

#include "loop_timer.hpp"

namespace cvgame {
namespace {

constexpr std::size_t kReadChunk = 512;
constexpr std::chrono::milliseconds kLingerBound{2000};

// Sends what it can without waiting; false when the socket failed.
bool SendSome(int fd, std::string& out) {
  while (!out.empty()) {
    const ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      out.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

// Owns a descriptor from CloseGracefully until the partner has seen its end.
class Lingerer {
 public:
  static std::list<std::unique_ptr<Lingerer>>& All() {
    static auto* all = new std::list<std::unique_ptr<Lingerer>>();
    return *all;
  }

  static void Adopt(int fd, std::string out) {
    All().push_back(std::unique_ptr<Lingerer>(new Lingerer(fd, std::move(out))));
    Lingerer* self = All().back().get();
    self->self_ = std::prev(All().end());
    self->Begin();
  }

  ~Lingerer() {
    *alive_ = false;
    if (watch_ != 0) platform::UnwatchFd(watch_);
    close(fd_);
  }

 private:
  Lingerer(int fd, std::string out)
      : fd_(fd), out_(std::move(out)), timer_([this] { Finish(); }) {}

  void Begin() {
    if (!SendSome(fd_, out_)) return Finish();
    if (out_.empty()) shutdown(fd_, SHUT_WR);
    watch_ = platform::WatchFd(fd_, out_.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT,
                               [this, alive = alive_](std::uint32_t events) {
                                 if (*alive) OnEvents(events);
                               });
    if (watch_ == 0) return Finish();
    timer_.Start(kLingerBound);
  }

  void OnEvents(std::uint32_t events) {
    if ((events & EPOLLOUT) && !out_.empty()) {
      if (!SendSome(fd_, out_)) return Finish();
      if (out_.empty()) {
        shutdown(fd_, SHUT_WR);
        platform::ModifyWatch(watch_, EPOLLIN);
      }
    }
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
      char discard[kReadChunk];
      const ssize_t n = recv(fd_, discard, sizeof discard, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        return Finish();
    }
  }

  // Destroys this object; nothing may touch it afterwards.
  void Finish() { All().erase(self_); }

  int fd_;
  std::string out_;
  platform::WatchId watch_ = 0;
  LoopTimer timer_;
  std::list<std::unique_ptr<Lingerer>>::iterator self_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

LineChannel::LineChannel(int fd, Handlers handlers) : fd_(fd), handlers_(std::move(handlers)) {
  if (fd_ < 0) return;
  watch_ = platform::WatchFd(fd_, EPOLLIN, [this, alive = alive_](std::uint32_t events) {
    if (*alive) OnEvents(events);
  });
  if (watch_ == 0) Close();
}

LineChannel::~LineChannel() {
  *alive_ = false;
  Close();
}

void LineChannel::Close() {
  if (watch_ != 0) platform::UnwatchFd(watch_);
  watch_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  out_.clear();
}

void LineChannel::Fail(Failure failure) {
  Close();
  if (handlers_.failed) {
    // A copy: the handler may destroy this channel.
    const auto failed = handlers_.failed;
    failed(failure);
  }
}

bool LineChannel::Send(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (out_.size() + bytes.size() > kMaxBacklog) {
    Close();
    return false;
  }
  const bool wasEmpty = out_.empty();
  out_.append(bytes);
  if (!Flush()) {
    Close();
    return false;
  }
  if (wasEmpty && !out_.empty()) platform::ModifyWatch(watch_, EPOLLIN | EPOLLOUT);
  return true;
}

bool LineChannel::Flush() { return SendSome(fd_, out_); }

void LineChannel::CloseGracefully() {
  if (fd_ < 0) return;
  platform::UnwatchFd(watch_);
  watch_ = 0;
  const int fd = fd_;
  fd_ = -1;
  Lingerer::Adopt(fd, std::move(out_));
  out_.clear();
}

std::size_t LineChannel::LingeringCloses() { return Lingerer::All().size(); }

void LineChannel::OnEvents(std::uint32_t events) {
  const std::shared_ptr<bool> alive = alive_;
  if (events & EPOLLOUT) {
    if (!Flush()) return Fail(Failure::kError);
    if (out_.empty()) platform::ModifyWatch(watch_, EPOLLIN);
  }
  if (!(events & (EPOLLIN | EPOLLHUP | EPOLLERR))) return;
  char buffer[kReadChunk];
  const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    return Fail(Failure::kError);
  }
  if (n == 0) return Fail(Failure::kClosed);
  splitter_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
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
    if (!*alive || fd_ < 0) return;
  }
}

}  // namespace cvgame
