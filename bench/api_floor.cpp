#include "api_floor.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tcp_baseline.hpp"

namespace bench {
namespace {

constexpr int kStartupMs = 10000;
// The caller's buffers of the API: an id of up to 99 characters, a text
// (and its more-info) of up to 499.
constexpr std::size_t kIdSize = 100;
constexpr std::size_t kTextSize = 500;
// The reader's bound on a frame's text between agents.
constexpr std::size_t kFrameTextMax = 8192;
constexpr unsigned char kSignature[8] = {0x6D, 0x52, 0x26, 0x32, 0x73, 0x37, 0x71, 0x56};
constexpr std::size_t kReceiveRoom = 16384;
constexpr unsigned kSlots = 8;  // queue records and posted notifications, each a ring
constexpr int kUserMessage = 1;

// "127.0.0.1:<port>" of this end of fd, or of its peer.
std::string EndId(int fd, bool peer) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  const int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
                     : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (r != 0) return {};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

// One end: the loop, the connection's reader and writer, the queue and the
// posted notifications, and the two calls of the API that the clients make.
class FloorEnd {
 public:
  using Handler = void (*)(FloorEnd& end, void* user);

  // The owner's lines to its member are OWNS with its own end's id; the
  // member's to its owner PLRS with the owner's id, which is the same
  // string: the member knows the owner by the peer address of the
  // connection.
  FloorEnd(int fd, bool owner, Handler handler, void* user)
      : fd_(fd), owner_(owner), handler_(handler), user_(user), ownEnd_(EndId(fd, false)), peer_(EndId(fd, true)) {}
  ~FloorEnd() {
    if (ep_ >= 0) close(ep_);
    if (wake_ >= 0) close(wake_);
  }
  FloorEnd(const FloorEnd&) = delete;
  FloorEnd& operator=(const FloorEnd&) = delete;

  bool Open() {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    ep_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ep_ < 0 || wake_ < 0 || ownEnd_.empty() || peer_.empty()) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd_;
    if (epoll_ctl(ep_, EPOLL_CTL_ADD, fd_, &ev) != 0) return false;
    ev.data.fd = wake_;
    return epoll_ctl(ep_, EPOLL_CTL_ADD, wake_, &ev) == 0;
  }

  const std::string& peer() const { return peer_; }

  // One turn of the loop: wait, read what is ready, deliver what was
  // posted. False once the connection has failed or closed.
  bool Pump(int timeoutMs) {
    epoll_event ready[8];
    const int n = epoll_wait(ep_, ready, 8, timeoutMs);
    if (n < 0) return errno == EINTR;
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.fd == fd_) {
        if (!Receive()) return false;
      } else {
        std::uint64_t count;
        if (read(wake_, &count, sizeof count) < 0 && errno != EAGAIN) return false;
      }
    }
    while (postedHead_ != postedTail_) {
      const Posted p = posted_[postedHead_++ % kSlots];
      if (p.msg == kNotify) handler_(*this, user_);
    }
    return true;
  }

  // The oldest message into the caller's buffers; false for "no message".
  bool GetNextMessage(char* id, int* type, char* text, char* more) {
    if (queueHead_ == queueTail_) return false;
    const Record& r = queue_[queueHead_++ % kSlots];
    std::memcpy(id, r.id, r.idLength + 1);
    *type = r.type;
    std::memcpy(text, r.text, r.textLength + 1);
    more[0] = '\0';
    return true;
  }

  // A user message to `target` (this run has one partner): the line behind
  // its frame header, out with one send.
  bool SendMsgToUser(const char* target, const char* text) {
    if (std::strcmp(target, peer_.c_str()) != 0) return false;
    const std::string& id = owner_ ? ownEnd_ : peer_;
    const std::size_t textLength = strnlen(text, kTextSize - 1);
    const std::size_t lineLength = 5 + id.size() + 1 + textLength;
    if (lineLength > 254) return false;  // this run's lines take the one-byte prefix
    char* p = out_;
    std::memcpy(p, kSignature, sizeof kSignature);
    p[8] = 0;
    p[9] = static_cast<char>(lineLength);
    p += 10;
    std::memcpy(p, owner_ ? "OWNS " : "PLRS ", 5);
    std::memcpy(p + 5, id.data(), id.size());
    p[5 + id.size()] = ' ';
    std::memcpy(p + 6 + id.size(), text, textLength);
    const std::size_t frame = 10 + lineLength;
    return send(fd_, out_, frame, MSG_NOSIGNAL) == static_cast<ssize_t>(frame);
  }

 private:
  static constexpr unsigned kNotify = 514;
  struct Record {
    char id[kIdSize];
    char text[kTextSize];
    std::size_t idLength, textLength;
    int type;
  };
  struct Posted {
    unsigned msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };

  bool Receive() {
    const ssize_t got = recv(fd_, in_ + have_, kReceiveRoom - have_, 0);
    if (got <= 0) return got < 0 && (errno == EAGAIN || errno == EINTR);
    have_ += static_cast<std::size_t>(got);
    return TakeFrames();
  }

  // Every whole frame in the buffer, checked as the agents' reader checks
  // it; a part of one waits for the rest.
  bool TakeFrames() {
    for (;;) {
      const std::size_t avail = have_ - start_;
      const unsigned char* p = reinterpret_cast<const unsigned char*>(in_) + start_;
      if (avail == 0) break;
      if (std::memcmp(p, kSignature, std::min<std::size_t>(avail, 8)) != 0) return false;
      if (avail < 10) break;
      if (p[8] != 0) return false;
      std::size_t length = p[9], header = 10;
      if (length == 255) {
        if (avail < 12) break;
        length = p[10] | (std::size_t{p[11]} << 8);
        header = 12;
        if (length == 0xFFFE) return false;  // the 16-bit form: never sent in this run
        if (length == 0xFFFF) {
          if (avail < 16) break;
          length = p[12] | (std::size_t{p[13]} << 8) | (std::size_t{p[14]} << 16) | (std::size_t{p[15]} << 24);
          header = 16;
        }
      }
      if (length > kFrameTextMax) return false;
      if (avail < header + length) break;
      if (!OnLine(reinterpret_cast<const char*>(p) + header, length)) return false;
      start_ += header + length;
    }
    if (start_ == have_) {
      start_ = have_ = 0;
    } else if (have_ == kReceiveRoom) {
      std::memmove(in_, in_ + start_, have_ - start_);
      have_ -= start_;
      start_ = 0;
    }
    return true;
  }

  // "<command> <id> <message>": the message from the first character of the
  // third blank-separated word; ids and messages read to 499 characters.
  bool OnLine(const char* line, std::size_t n) {
    if (n < 5 || std::memcmp(line, owner_ ? "PLRS" : "OWNS", 4) != 0 || line[4] != ' ') return false;
    const char* id = line + 5;
    const char* end = line + n;
    const char* blank = static_cast<const char*>(std::memchr(id, ' ', static_cast<std::size_t>(end - id)));
    const char* idEnd = blank != nullptr ? blank : end;
    const char* message = idEnd;
    while (message < end && *message == ' ') ++message;
    const std::size_t idLength = std::min<std::size_t>(static_cast<std::size_t>(idEnd - id), kTextSize - 1);
    // The owner takes a PLRS to its own end of the connection as a message
    // to itself, from the member; nothing else is in this run.
    if (owner_ && (idLength != ownEnd_.size() || std::memcmp(id, ownEnd_.data(), idLength) != 0)) return false;
    if (queueTail_ - queueHead_ == kSlots) return false;
    Record& r = queue_[queueTail_++ % kSlots];
    const std::string_view sender = owner_ ? std::string_view(peer_) : std::string_view(id, idLength);
    r.idLength = std::min(sender.size(), kIdSize - 1);
    std::memcpy(r.id, sender.data(), r.idLength);
    r.id[r.idLength] = '\0';
    r.textLength = std::min<std::size_t>(static_cast<std::size_t>(end - message), kTextSize - 1);
    std::memcpy(r.text, message, r.textLength);
    r.text[r.textLength] = '\0';
    r.type = kUserMessage;
    // The notification, posted by this turn and delivered before it ends.
    if (postedTail_ - postedHead_ == kSlots) return false;
    posted_[postedTail_++ % kSlots] = Posted{kNotify, 0, 0};
    return true;
  }

  int fd_;
  bool owner_;
  Handler handler_;
  void* user_;
  std::string ownEnd_, peer_;
  int ep_ = -1, wake_ = -1;
  char in_[kReceiveRoom];
  std::size_t start_ = 0, have_ = 0;
  char out_[10 + 255];
  Record queue_[kSlots];
  unsigned queueHead_ = 0, queueTail_ = 0;
  Posted posted_[kSlots];
  unsigned postedHead_ = 0, postedTail_ = 0;
};

// The owner's client: answers every user message with its text.
void AnswerAll(FloorEnd& end, void*) {
  char id[kIdSize], text[kTextSize], more[kTextSize];
  int type = 0;
  while (end.GetNextMessage(id, &type, text, more)) {
    if (type != kUserMessage || std::strcmp(more, "JOIN") == 0 || std::strcmp(more, "TERM") == 0) continue;
    if (!end.SendMsgToUser(id, text)) return;
  }
}

// The member's client: times each answer and sends the next message.
struct Measurer {
  FloorEnd* end = nullptr;
  std::string message;
  long left = 0, timed = 0;
  bool failed = false;
  Clock::time_point sent;
  std::vector<double> micros;

  bool SendNext() {
    sent = Clock::now();
    return end->SendMsgToUser(end->peer().c_str(), message.c_str());
  }
  static void OnNotify(FloorEnd& end, void* user) {
    auto* self = static_cast<Measurer*>(user);
    char id[kIdSize], text[kTextSize], more[kTextSize];
    int type = 0;
    while (end.GetNextMessage(id, &type, text, more)) {
      if (type != kUserMessage || self->left == 0 || end.peer() != id) continue;
      if (self->message != text) self->failed = true;
      if (self->left <= self->timed) self->micros.push_back(MicrosSince(self->sent));
      if (--self->left > 0 && !self->SendNext()) self->failed = true;
    }
  }
};

}  // namespace

bool ApiFloorPingPong(std::size_t messageBytes, long warmup, long count, Latencies* out, std::size_t* wireBytes) {
  int pipeEnd = -1;
  const pid_t owner = SpawnChild("api-floor-owner", &pipeEnd, [](int report) {
    unsigned port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0 || !SendValue(report, port)) return;
    const int fd = AcceptOne(listener, kStartupMs);
    close(listener);
    if (fd < 0) return;
    {
      FloorEnd end(fd, true, AnswerAll, nullptr);
      // Until the member closes the connection (the parent kills a child
      // that outlives the run).
      if (end.Open()) {
        while (end.Pump(1000)) {
        }
      }
    }
    close(fd);
  });
  if (owner < 0) return false;
  unsigned port = 0;
  bool ok = ReceiveValue(pipeEnd, port, kStartupMs);
  const int fd = ok ? ConnectLoopback(port) : -1;
  ok = fd >= 0;
  if (ok) {
    Measurer m;
    m.message.resize(messageBytes);
    for (std::size_t i = 0; i < messageBytes; ++i) m.message[i] = static_cast<char>('a' + i % 26);
    m.left = warmup + count;
    m.timed = count;
    m.micros.reserve(static_cast<std::size_t>(count));
    FloorEnd end(fd, false, Measurer::OnNotify, &m);
    m.end = &end;
    ok = end.Open();
    if (wireBytes != nullptr) *wireBytes = 10 + 5 + end.peer().size() + 1 + messageBytes;
    Clock::time_point start;
    ok = ok && m.SendNext();
    const auto deadline = Clock::now() + std::chrono::seconds(kSocketTimeoutSeconds) +
                          std::chrono::microseconds(100 * (warmup + count));
    for (unsigned turn = 1; ok && !m.failed && m.left > 0; ++turn) {
      if (m.left == count && start == Clock::time_point{}) start = m.sent;
      if (turn % 256 == 0 && Clock::now() >= deadline) ok = false;
      ok = ok && end.Pump(1000);
    }
    ok = ok && !m.failed && m.left == 0;
    if (ok) *out = Summarize(std::move(m.micros), SecondsSince(start));
  }
  if (fd >= 0) close(fd);
  close(pipeEnd);
  ReapChild(owner);
  return ok;
}

}  // namespace bench
