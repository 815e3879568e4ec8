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
#include <string_view>
#include <utility>
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

// A connection's reader: whole frames out of its receive buffer, each
// checked as the agents' reader checks it; a part of one waits for the rest.
class FrameReader {
 public:
  // Receives what the socket has and hands each whole frame's text to
  // onLine(const char*, size_t), which says whether to go on. False once
  // the connection has failed or closed. The socket is watched edge-
  // triggered, so a read that filled the room it gave is followed by
  // another.
  template <typename OnLine>
  bool Receive(int fd, OnLine onLine) {
    for (;;) {
      const std::size_t room = kReceiveRoom - have_;
      const ssize_t got = recv(fd, in_ + have_, room, 0);
      if (got <= 0) return got < 0 && (errno == EAGAIN || errno == EINTR);
      have_ += static_cast<std::size_t>(got);
      if (!TakeFrames(onLine)) return false;
      if (static_cast<std::size_t>(got) < room) return true;
    }
  }

 private:
  template <typename OnLine>
  bool TakeFrames(OnLine onLine) {
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
        if (length == 0xFFFE) return false;  // the 16-bit form: never sent in these runs
        if (length == 0xFFFF) {
          if (avail < 16) break;
          length = p[12] | (std::size_t{p[13]} << 8) | (std::size_t{p[14]} << 16) | (std::size_t{p[15]} << 24);
          header = 16;
        }
      }
      if (length > kFrameTextMax) return false;
      if (avail < header + length) break;
      if (!onLine(reinterpret_cast<const char*>(p) + header, length)) return false;
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

  char in_[kReceiveRoom];
  std::size_t start_ = 0, have_ = 0;
};

// "<command> <id> <message>": the message from the first character of the
// third blank-separated word; ids and messages read to 499 characters.
struct LineParts {
  std::string_view id, message;
};
bool SplitLine(const char* line, std::size_t n, const char* command, LineParts* out) {
  if (n < 5 || std::memcmp(line, command, 4) != 0 || line[4] != ' ') return false;
  const char* id = line + 5;
  const char* end = line + n;
  const char* blank = static_cast<const char*>(std::memchr(id, ' ', static_cast<std::size_t>(end - id)));
  const char* idEnd = blank != nullptr ? blank : end;
  const char* message = idEnd;
  while (message < end && *message == ' ') ++message;
  out->id = std::string_view(id, std::min<std::size_t>(static_cast<std::size_t>(idEnd - id), kTextSize - 1));
  out->message =
      std::string_view(message, std::min<std::size_t>(static_cast<std::size_t>(end - message), kTextSize - 1));
  return true;
}

// "<command> <id> <text>" behind its frame header, out with one send.
bool SendLine(int fd, const char* command, std::string_view id, std::string_view text) {
  const std::size_t lineLength = 5 + id.size() + 1 + text.size();
  if (lineLength > 254) return false;  // these runs' lines take the one-byte prefix
  char out[10 + 255];
  std::memcpy(out, kSignature, sizeof kSignature);
  out[8] = 0;
  out[9] = static_cast<char>(lineLength);
  char* p = out + 10;
  std::memcpy(p, command, 4);
  p[4] = ' ';
  std::memcpy(p + 5, id.data(), id.size());
  p[5 + id.size()] = ' ';
  std::memcpy(p + 6 + id.size(), text.data(), text.size());
  const std::size_t frame = 10 + lineLength;
  return send(fd, out, frame, MSG_NOSIGNAL) == static_cast<ssize_t>(frame);
}

// A loop's epoll set: the connections and an eventfd for work posted from
// other threads.
class LoopSet {
 public:
  ~LoopSet() {
    if (ep_ >= 0) close(ep_);
    if (wake_ >= 0) close(wake_);
  }
  bool Open() {
    ep_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return ep_ >= 0 && wake_ >= 0 && Add(wake_);
  }
  // Adds a connection, made non-blocking.
  bool Add(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;  // as the agent's sockets are
    ev.data.fd = fd;
    return epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev) == 0;
  }
  // Waits; onReady(fd) for each ready connection, which says whether to go
  // on. False on failure.
  template <typename OnReady>
  bool Wait(int timeoutMs, OnReady onReady) {
    epoll_event ready[8];
    const int n = epoll_wait(ep_, ready, 8, timeoutMs);
    if (n < 0) return errno == EINTR;
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.fd != wake_) {
        if (!onReady(ready[i].data.fd)) return false;
      } else {
        std::uint64_t count;
        if (read(wake_, &count, sizeof count) < 0 && errno != EAGAIN) return false;
      }
    }
    return true;
  }

 private:
  int ep_ = -1, wake_ = -1;
};

// One end: the loop, the connection's reader, the queue and the posted
// notifications, and the two calls of the API that the clients make.
class FloorEnd {
 public:
  using Handler = void (*)(FloorEnd& end, void* user);

  // `partner` is the one id this end talks to: for a member its owner's
  // (the peer address of the connection, which is also the id the owner's
  // own lines carry) or, in a relay, the other member's. The owner's lines
  // are OWNS with its own end's id, the member's PLRS with the target's.
  FloorEnd(int fd, bool owner, std::string partner, Handler handler, void* user)
      : fd_(fd), owner_(owner), handler_(handler), user_(user), ownEnd_(EndId(fd, false)),
        partner_(std::move(partner)), peer_(EndId(fd, true)) {}

  bool Open() { return !ownEnd_.empty() && !peer_.empty() && loop_.Open() && loop_.Add(fd_); }

  const std::string& partner() const { return partner_; }

  // One turn of the loop: wait, read what is ready, deliver what was
  // posted. False once the connection has failed or closed.
  bool Pump(int timeoutMs) {
    const bool ok = loop_.Wait(timeoutMs, [this](int) {
      return reader_.Receive(fd_, [this](const char* line, std::size_t n) { return OnLine(line, n); });
    });
    if (!ok) return false;
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

  bool SendMsgToUser(const char* target, const char* text) {
    if (std::strcmp(target, partner_.c_str()) != 0) return false;
    const std::string_view message(text, strnlen(text, kTextSize - 1));
    return owner_ ? SendLine(fd_, "OWNS", ownEnd_, message) : SendLine(fd_, "PLRS", partner_, message);
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

  // The owner takes a PLRS to its own end of the connection as a message
  // to itself, from the member; a member takes OWNS from its partner.
  // Nothing else is in these runs.
  bool OnLine(const char* line, std::size_t n) {
    LineParts parts;
    if (!SplitLine(line, n, owner_ ? "PLRS" : "OWNS", &parts)) return false;
    if (!owner_ && partner_.empty()) partner_ = parts.id;  // a relay's echo answers whoever wrote first
    if (parts.id != (owner_ ? ownEnd_ : partner_)) return false;
    if (queueTail_ - queueHead_ == kSlots) return false;
    Record& r = queue_[queueTail_++ % kSlots];
    const std::string_view sender = owner_ ? std::string_view(peer_) : parts.id;
    r.idLength = std::min(sender.size(), kIdSize - 1);
    std::memcpy(r.id, sender.data(), r.idLength);
    r.id[r.idLength] = '\0';
    r.textLength = parts.message.size();
    std::memcpy(r.text, parts.message.data(), r.textLength);
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
  std::string ownEnd_, partner_, peer_;
  LoopSet loop_;
  FrameReader reader_;
  Record queue_[kSlots];
  unsigned queueHead_ = 0, queueTail_ = 0;
  Posted posted_[kSlots];
  unsigned postedHead_ = 0, postedTail_ = 0;
};

// The relaying owner: a PLRS from one member to the other goes on as OWNS
// with the sender's id, without the owner's client.
class FloorRelay {
 public:
  FloorRelay(int a, int b) : fd_{a, b}, id_{EndId(a, true), EndId(b, true)} {}
  bool Open() {
    return !id_[0].empty() && !id_[1].empty() && loop_.Open() && loop_.Add(fd_[0]) && loop_.Add(fd_[1]);
  }
  bool Pump(int timeoutMs) {
    return loop_.Wait(timeoutMs, [this](int fd) {
      const int from = fd == fd_[0] ? 0 : 1;
      return reader_[from].Receive(fd, [this, from](const char* line, std::size_t n) {
        LineParts parts;
        const int to = 1 - from;
        return SplitLine(line, n, "PLRS", &parts) && parts.id == id_[to] &&
               SendLine(fd_[to], "OWNS", id_[from], parts.message);
      });
    });
  }

 private:
  int fd_[2];
  std::string id_[2];
  LoopSet loop_;
  FrameReader reader_[2];
};

// The owner's client, and a relay's echoing member: answers every user
// message to its sender with its text.
void AnswerAll(FloorEnd& end, void*) {
  char id[kIdSize], text[kTextSize], more[kTextSize];
  int type = 0;
  while (end.GetNextMessage(id, &type, text, more)) {
    if (type != kUserMessage || std::strcmp(more, "JOIN") == 0 || std::strcmp(more, "TERM") == 0) continue;
    if (!end.SendMsgToUser(id, text)) return;
  }
}

// The measuring member's client: times each answer and sends the next
// message.
struct Measurer {
  FloorEnd* end = nullptr;
  std::string message;
  long left = 0, timed = 0;
  bool failed = false;
  Clock::time_point sent;
  std::vector<double> micros;

  bool SendNext() {
    sent = Clock::now();
    return end->SendMsgToUser(end->partner().c_str(), message.c_str());
  }
  static void OnNotify(FloorEnd& end, void* user) {
    auto* self = static_cast<Measurer*>(user);
    char id[kIdSize], text[kTextSize], more[kTextSize];
    int type = 0;
    while (end.GetNextMessage(id, &type, text, more)) {
      if (type != kUserMessage || self->left == 0 || end.partner() != id) continue;
      if (self->message != text) self->failed = true;
      if (self->left <= self->timed) self->micros.push_back(MicrosSince(self->sent));
      if (--self->left > 0 && !self->SendNext()) self->failed = true;
    }
  }
};

// Pumps `end` until the other side closes the connection (the parent kills
// a child that outlives the run).
template <typename End>
void ServeUntilClosed(End& end) {
  if (!end.Open()) return;
  while (end.Pump(1000)) {
  }
}

// The measuring member's run on fd, towards `partner`.
bool MeasureOn(int fd, std::string partner, std::size_t messageBytes, long warmup, long count, Latencies* out,
               std::size_t* wireBytes) {
  Measurer m;
  m.message.resize(messageBytes);
  for (std::size_t i = 0; i < messageBytes; ++i) m.message[i] = static_cast<char>('a' + i % 26);
  m.left = warmup + count;
  m.timed = count;
  m.micros.reserve(static_cast<std::size_t>(count));
  FloorEnd end(fd, false, std::move(partner), Measurer::OnNotify, &m);
  m.end = &end;
  if (wireBytes != nullptr) *wireBytes = 10 + 5 + end.partner().size() + 1 + messageBytes;
  bool ok = end.Open() && m.SendNext();
  Clock::time_point start;
  const auto deadline = Clock::now() + std::chrono::seconds(kSocketTimeoutSeconds) +
                        std::chrono::microseconds(100 * (warmup + count));
  for (unsigned turn = 1; ok && !m.failed && m.left > 0; ++turn) {
    if (m.left == count && start == Clock::time_point{}) start = m.sent;
    if (turn % 256 == 0 && Clock::now() >= deadline) ok = false;
    ok = ok && end.Pump(1000);
  }
  ok = ok && !m.failed && m.left == 0;
  if (ok) *out = Summarize(std::move(m.micros), SecondsSince(start));
  return ok;
}

}  // namespace

bool ApiFloorPingPong(std::size_t messageBytes, long warmup, long count, Latencies* out, std::size_t* wireBytes) {
  int pipeEnd = -1;
  const pid_t owner = SpawnChild("api-floor-owner", &pipeEnd, [](int report) {
    const int fd = AcceptOneReported(report, kStartupMs);
    if (fd < 0) return;
    {
      FloorEnd end(fd, true, EndId(fd, true), AnswerAll, nullptr);
      ServeUntilClosed(end);
    }
    close(fd);
  });
  if (owner < 0) return false;
  unsigned port = 0;
  const int fd = ReceiveValue(pipeEnd, port, kStartupMs) ? ConnectLoopback(port) : -1;
  const bool ok = fd >= 0 && MeasureOn(fd, EndId(fd, true), messageBytes, warmup, count, out, wireBytes);
  if (fd >= 0) close(fd);
  close(pipeEnd);
  ReapChild(owner);
  return ok;
}

bool ApiFloorRelayPingPong(std::size_t messageBytes, long warmup, long count, Latencies* out,
                           std::size_t* wireBytes) {
  // The owner accepts the echoing member first, then the measuring one.
  int ownerPipe = -1;
  const pid_t owner = SpawnChild("api-floor-relay", &ownerPipe, [](int report) {
    unsigned port = 0;
    const int listener = ListenLoopback(&port);
    if (listener < 0 || !SendValue(report, port)) return;
    const int echo = AcceptOne(listener, kStartupMs);
    const int measuring = echo >= 0 ? AcceptOne(listener, kStartupMs) : -1;
    close(listener);
    if (measuring >= 0) {
      FloorRelay relay(measuring, echo);
      ServeUntilClosed(relay);
      close(measuring);
    }
    if (echo >= 0) close(echo);
  });
  if (owner < 0) return false;
  unsigned port = 0;
  bool ok = ReceiveValue(ownerPipe, port, kStartupMs);
  close(ownerPipe);
  // The echo's id at the owner is the address of its own end, which it
  // reports once connected.
  int echoPipe = -1;
  const pid_t echo = !ok ? -1 : SpawnChild("api-floor-echo", &echoPipe, [port](int report) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) return;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 &&
        SendValue(report, static_cast<unsigned>(ntohs(a.sin_port)))) {
      FloorEnd end(fd, false, "", AnswerAll, nullptr);
      ServeUntilClosed(end);
    }
    close(fd);
  });
  unsigned echoPort = 0;
  ok = echo > 0 && ReceiveValue(echoPipe, echoPort, kStartupMs);
  const int fd = ok ? ConnectLoopback(port) : -1;
  ok = fd >= 0 && MeasureOn(fd, "127.0.0.1:" + std::to_string(echoPort), messageBytes, warmup, count, out,
                            wireBytes);
  if (fd >= 0) close(fd);
  if (echoPipe >= 0) close(echoPipe);
  ReapChild(echo);
  ReapChild(owner);
  return ok;
}

}  // namespace bench
