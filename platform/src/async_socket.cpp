// Asynchronous TCP sockets on the process loop. Descriptors are always
// non-blocking; the two calls that wait inside (Connect and SendAll) poll only
// their own descriptor, with the io timeout as the bound, so events of other
// sockets stay pending in the loop and are delivered after the call returns.
#include "platform/async_socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "descriptor_reserve.hpp"
#include "loop_internal.hpp"
#include "receive_ring.hpp"
#include "platform/hot_path.hpp"

namespace {

std::atomic<int> g_ioTimeoutMs{5000};

// Up to this many bytes, a header and its body are sent as one copied piece:
// on loopback a send of a 10-byte header and an 85-byte text as two pieces
// took about 85 ns more CPU than one of the 95 bytes copied together.
constexpr std::size_t kJoinedSendBytes = 512;

// Waits for `events` on fd, at most timeoutMs; retries on EINTR with the
// time that is left. Returns the revents, 0 on timeout, -1 on error.
int WaitFor(int fd, short events, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r > 0) return p.revents;
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// A name lookup that may outlive the call that started it: the resolver
// thread and the caller each hold a share, and the last one frees it.
struct Lookup {
  gaicb request{};
  addrinfo hints{};
  std::string host;
  std::atomic<int> shares{2};
};

void ReleaseLookup(Lookup* lookup) {
  if (--lookup->shares > 0) return;
  if (lookup->request.ar_result) freeaddrinfo(lookup->request.ar_result);
  delete lookup;
}

void LookupDone(sigval value) { ReleaseLookup(static_cast<Lookup*>(value.sival_ptr)); }

// Dotted addresses are taken as they are; a name is looked up in the
// background and waited for at most timeoutMs, so a name server that never
// answers cannot hold the caller longer than a connect may take.
bool Resolve(const char* host, unsigned port, sockaddr_in& out, int timeoutMs) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host, &out.sin_addr) == 1) return true;

  auto* lookup = new Lookup();
  lookup->host = host;
  lookup->hints.ai_family = AF_INET;
  lookup->hints.ai_socktype = SOCK_STREAM;
  lookup->request.ar_name = lookup->host.c_str();
  lookup->request.ar_request = &lookup->hints;
  sigevent done{};
  done.sigev_notify = SIGEV_THREAD;
  done.sigev_notify_function = &LookupDone;
  done.sigev_value.sival_ptr = lookup;
  gaicb* list[1] = {&lookup->request};
  if (getaddrinfo_a(GAI_NOWAIT, list, 1, &done) != 0) {
    delete lookup;
    return false;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (gai_error(&lookup->request) == EAI_INPROGRESS) {
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    const gaicb* waitList[1] = {&lookup->request};
    gai_suspend(waitList, 1, &wait);
  }
  bool found = false;
  const int status = gai_error(&lookup->request);
  if (status == 0 && lookup->request.ar_result != nullptr) {
    out.sin_addr = reinterpret_cast<sockaddr_in*>(lookup->request.ar_result->ai_addr)->sin_addr;
    found = true;
  } else if (status == EAI_INPROGRESS && gai_cancel(&lookup->request) == EAI_CANCELED) {
    // Taken off the queue before it ran: no notification will come.
    ReleaseLookup(lookup);
  }
  ReleaseLookup(lookup);
  return found;
}

bool NameOf(int fd, bool peer, std::string& address, unsigned& port) {
  if (fd < 0) return false;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
               : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (r != 0 || a.sin_family != AF_INET) return false;
  char text[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &a.sin_addr, text, sizeof text)) return false;
  address = text;
  port = ntohs(a.sin_port);
  return true;
}

}  // namespace

extern "C" {
void plat_set_io_timeout_ms(int ms) { g_ioTimeoutMs.store(ms < 0 ? 0 : ms); }
int plat_io_timeout_ms(void) { return g_ioTimeoutMs.load(); }
}

namespace platform {

// Connections are watched edge-triggered: the loop hears of a socket when
// bytes arrive, and the kernel does not look at it again at every wait while
// none are left unread (about 60 ns a wait on loopback). A handler that
// leaves bytes behind (its read filled all the room it gave, it asked for
// nothing, or urgent data cut a read short) has the socket looked at again,
// so it is notified as long as bytes wait, as with a level-triggered watch.
constexpr std::uint32_t kReadEvents = EPOLLIN | EPOLLRDHUP | EPOLLPRI | EPOLLET;

AsyncSocket::AsyncSocket() = default;

AsyncSocket::~AsyncSocket() {
  LivenessGuard::MarkGone(gone_);
  Close();
}

void AsyncSocket::OnReceive(int) {}
void AsyncSocket::OnAccept(int) {}
void AsyncSocket::OnClose(int) {}

bool AsyncSocket::Create(unsigned port) {
  if (fd_ >= 0 || port > 65535) return false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (port != 0) {
    // Lets a listener come back on its port while old connections linger in
    // TIME_WAIT; a port with a live listener still cannot be taken twice.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool AsyncSocket::Connect(const char* host, unsigned port) {
  if (fd_ < 0 || Attached() || host == nullptr || port > 65535) return false;
  // One bound for the name lookup and the connect together.
  using Clock = std::chrono::steady_clock;
  const int bound = plat_io_timeout_ms();
  const auto start = Clock::now();
  sockaddr_in a;
  if (!Resolve(host, port, a, bound)) return false;
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  const int left = spent >= bound ? 0 : bound - static_cast<int>(spent);
  int r;
  do {
    r = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    if (errno != EINPROGRESS) return false;
    int revents = WaitFor(fd_, POLLOUT, left);
    if (revents <= 0) return false;  // timed out: the caller discards the socket
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return false;
  }
  int one = 1;
  // Every message is flushed as one write; do not let Nagle hold it back.
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Attach(fd_, false);
  return Attached();
}

bool AsyncSocket::StartConnect(const char* dottedAddress, unsigned port) {
  if (fd_ < 0 || Attached() || connecting_ || dottedAddress == nullptr || port > 65535) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, dottedAddress, &a.sin_addr) != 1) return false;
  int r;
  do {
    r = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } while (r != 0 && errno == EINTR);
  if (r != 0 && errno != EINPROGRESS) return false;
  connecting_ = true;
  return true;
}

void AsyncSocket::FinishConnects(std::span<AsyncSocket* const> sockets) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(plat_io_timeout_ms());
  std::vector<AsyncSocket*> waiting;
  for (AsyncSocket* s : sockets)
    if (s != nullptr && s->connecting_ && s->fd_ >= 0) waiting.push_back(s);
  std::vector<pollfd> polls;
  while (!waiting.empty()) {
    polls.clear();
    for (AsyncSocket* s : waiting) polls.push_back({s->fd_, POLLOUT, 0});
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    const int r = poll(polls.data(), polls.size(), static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // the bound ran out (or poll itself failed)
    std::vector<AsyncSocket*> still;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      AsyncSocket* s = waiting[i];
      if (polls[i].revents == 0) {
        still.push_back(s);
        continue;
      }
      s->connecting_ = false;
      int err = 0;
      socklen_t len = sizeof err;
      if (getsockopt(s->fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
        s->Close();
        continue;
      }
      int one = 1;
      setsockopt(s->fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      s->Attach(s->fd_, false);
      if (!s->Attached()) s->Close();
    }
    waiting.swap(still);
  }
  for (AsyncSocket* s : waiting) s->Close();
}

bool AsyncSocket::Listen(int backlog) {
  if (fd_ < 0 || Attached()) return false;
  if (listen(fd_, backlog) != 0) return false;
  detail::KeepDescriptorReserve();
  Attach(fd_, true);
  return watch_.active();
}

bool AsyncSocket::Accept(AsyncSocket& into) {
  if (fd_ < 0 || !listening_ || into.fd_ >= 0) return false;
  int nfd;
  do {
    nfd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (nfd < 0 && errno == EINTR);
  if (nfd < 0) {
    if (errno == EMFILE || errno == ENFILE) detail::ShedWaitingConnection(fd_);
    return false;
  }
  int one = 1;
  setsockopt(nfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  into.fd_ = nfd;
  into.Attach(nfd, false);
  if (!into.Attached()) {
    into.Close();
    return false;
  }
  return true;
}

bool AsyncSocket::SendAll(const void* data, std::size_t length) {
  return SendAll(data, length, nullptr, 0);
}

namespace {

// Sends the pieces until all have gone, waiting (bounded) while the peer's
// window is full; false when sending failed. (Out of line, as is the
// sending of two pieces below: the usual send of one piece that the kernel
// takes whole stays short.)
[[gnu::noinline]] bool SendPieces(int fd, iovec* next, int count) {
  while (count > 0 && next->iov_len == 0) ++next, --count;
  while (count > 0) {
    ssize_t n;
    if (count == 1) {
      n = send(fd, next->iov_base, next->iov_len, MSG_NOSIGNAL);
    } else {
      msghdr message{};
      message.msg_iov = next;
      message.msg_iovlen = static_cast<std::size_t>(count);
      n = sendmsg(fd, &message, MSG_NOSIGNAL);
    }
    if (n >= 0) {
      auto sent = static_cast<std::size_t>(n);
      while (count > 0 && sent >= next->iov_len) {
        sent -= next->iov_len;
        ++next, --count;
      }
      if (count > 0) {
        next->iov_base = static_cast<char*>(next->iov_base) + sent;
        next->iov_len -= sent;
      }
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // The peer's window is full. Wait for room, but a peer that reads
      // nothing for the whole bound fails the send.
      int revents = WaitFor(fd, POLLOUT, plat_io_timeout_ms());
      if (revents <= 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
      continue;
    }
    return false;
  }
  return true;
}

[[gnu::noinline]] bool SendTwoPieces(int fd, const void* head, std::size_t headLength, const void* body,
                                     std::size_t bodyLength) {
  iovec pieces[2] = {{const_cast<void*>(head), headLength}, {const_cast<void*>(body), bodyLength}};
  int count = bodyLength > 0 ? 2 : 1;
  char joined[kJoinedSendBytes];
  if (headLength > 0 && bodyLength > 0 && headLength + bodyLength <= sizeof joined) {
    // A short message goes out as one piece: copying it together here costs
    // less than the kernel's taking a second piece into the segment.
    std::memcpy(joined, head, headLength);
    std::memcpy(joined + headLength, body, bodyLength);
    pieces[0] = {joined, headLength + bodyLength};
    count = 1;
  }
  return SendPieces(fd, pieces, count);
}

}  // namespace

PLAT_HOT_PATH bool AsyncSocket::SendAll(const void* head, std::size_t headLength, const void* body,
                          std::size_t bodyLength) {
  if (fd_ < 0 || listening_) return false;
  if (bodyLength == 0 && headLength > 0) {
    // One piece, which the kernel usually takes whole at once.
    const ssize_t n = send(fd_, head, headLength, MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(headLength)) [[likely]]
      return true;
    // The rest, or all of it again after an interruption, a full window or
    // an error (which the next send reports too).
    const std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;
    iovec rest = {static_cast<char*>(const_cast<void*>(head)) + sent, headLength - sent};
    return SendPieces(fd_, &rest, 1);
  }
  return SendTwoPieces(fd_, head, headLength, body, bodyLength);
}

PLAT_HOT_PATH std::ptrdiff_t AsyncSocket::Receive(void* buffer, std::size_t length) {
  if (fd_ < 0 || listening_) return kError;
  if (receiveId_ != 0) return ReceiveHeld(buffer, length);
  if (readPaused_) {
    readPaused_ = false;
    watch_.Modify(kReadEvents);
  }
  receiveCalled_ = true;
  for (;;) {
    ssize_t n = recv(fd_, buffer, length, 0);
    if (n > 0) [[likely]] {
      // A read that took less than the room given emptied the socket, but
      // for one stopped at urgent data.
      mayHoldMore_ = false;
      if (static_cast<std::size_t>(n) == length || urgent_) [[unlikely]]
        LeftBehind();
      return n;
    }
    if (n == 0) {
      if (length == 0) {
        // Nothing asked for: whatever waits stays for the next notification.
        LeftBehind();
        return kWouldBlock;
      }
      sawEnd_ = true;
      return kPeerClosed;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      mayHoldMore_ = false;
      return kWouldBlock;
    }
    sawEnd_ = true;
    return kError;
  }
}

bool AsyncSocket::GetSockName(std::string& address, unsigned& port) const {
  return NameOf(fd_, false, address, port);
}

bool AsyncSocket::GetPeerName(std::string& address, unsigned& port) const {
  return NameOf(fd_, true, address, port);
}

void AsyncSocket::Close() {
  StopReceiving();
  watch_.Reset();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  listening_ = false;
  connecting_ = false;
  sawEnd_ = false;
  readPaused_ = false;
}

void AsyncSocket::Attach(int fd, bool listening) {
  listening_ = listening;
  sawEnd_ = false;
  if (!listening) {
    ring_ = detail::RingOf(EventLoop::Default());
    if (ring_ != nullptr) receiveId_ = ring_->Open(fd, [this] { HandleReceived(); });
    if (receiveId_ != 0) return;
  }
  watch_ = FdWatch(EventLoop::Default(), fd, listening ? EPOLLIN : kReadEvents,
                   [this](std::uint32_t events) { HandleEvents(events); });
}

PLAT_HOT_PATH void AsyncSocket::HandleEvents(std::uint32_t events) {
  LivenessGuard guard(gone_);
  if (listening_) {
    OnAccept(0);
    return;
  }
  int error = 0;
  if (events & EPOLLERR) {
    socklen_t len = sizeof error;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len);
  }
  receiveCalled_ = false;
  mayHoldMore_ = false;
  // A read stops short at the mark of urgent data; bytes after it wait.
  urgent_ = (events & EPOLLPRI) != 0;
  const bool outer = inNotification_;  // a nested loop may notify again
  inNotification_ = true;
  OnReceive(error);
  if (guard.gone()) return;  // destroyed inside the handler
  inNotification_ = outer;
  urgent_ = false;
  if (fd_ < 0) return;  // closed inside the handler
  if (!sawEnd_ && (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP))) {
    // The end has been signalled; once nothing is left to read it is final.
    int pending = 0;
    if (ioctl(fd_, FIONREAD, &pending) == 0 && pending == 0)
      sawEnd_ = true;
    else
      mayHoldMore_ = true;  // it waits behind unread bytes
  }
  if (sawEnd_) {
    // Deliver the close once, and never again: stop watching first.
    watch_.Reset();
    OnClose(error);
    return;
  }
  if (!receiveCalled_) {
    // Like a window-message socket, a handler that did not read gets no
    // further receive notification until it reads again, however many
    // bytes come meanwhile.
    readPaused_ = true;
    watch_.Modify(0);
    return;
  }
  if (mayHoldMore_) [[unlikely]]
    watch_.Rearm();
}

void AsyncSocket::LeftBehind() {
  mayHoldMore_ = true;
  // Outside a notification nothing else would look again.
  if (inNotification_) return;
  if (receiveId_ != 0) {
    ring_->Kick(receiveId_);
  } else {
    watch_.Rearm();
  }
}

// The ring's side of Receive: the bytes are in the socket's buffers already,
// so taking them, or finding none, costs no system call.
PLAT_HOT_PATH std::ptrdiff_t AsyncSocket::ReceiveHeld(void* buffer, std::size_t length) {
  const bool wasPaused = readPaused_;
  readPaused_ = false;
  receiveCalled_ = true;
  const std::size_t n = length > 0 ? ring_->Read(receiveId_, buffer, length) : 0;
  const int end = ring_->End(receiveId_);
  if (ring_->Holds(receiveId_) || (wasPaused && end != detail::ReceiveRing::kOpen)) [[unlikely]]
    LeftBehind();  // more to read, or the end still to tell
  if (n > 0) [[likely]]
    return static_cast<std::ptrdiff_t>(n);
  if (length == 0 || end == detail::ReceiveRing::kOpen) {
    if (length > 0) mayHoldMore_ = false;
    return kWouldBlock;
  }
  sawEnd_ = true;
  return end == detail::ReceiveRing::kEnded ? kPeerClosed : kError;
}

PLAT_HOT_PATH void AsyncSocket::HandleReceived() {
  LivenessGuard guard(gone_);
  // Like a window-message socket, a handler that did not read gets no
  // further receive notification until it reads again; what comes
  // meanwhile waits in the buffers, and then in the kernel.
  if (readPaused_) return;
  const int end = ring_->End(receiveId_);
  const int error = end < 0 ? -end : 0;
  receiveCalled_ = false;
  mayHoldMore_ = false;
  const bool outer = inNotification_;  // a nested loop may notify again
  inNotification_ = true;
  OnReceive(error);
  if (guard.gone()) return;  // destroyed inside the handler
  inNotification_ = outer;
  if (fd_ < 0 || receiveId_ == 0) return;  // closed inside the handler
  const bool holds = ring_->Holds(receiveId_);
  // The end is final once nothing is left to read.
  if (!sawEnd_ && ring_->End(receiveId_) != detail::ReceiveRing::kOpen && !holds) sawEnd_ = true;
  if (sawEnd_) {
    // Deliver the close once, and never again: stop receiving first.
    StopReceiving();
    OnClose(error);
    return;
  }
  if (!receiveCalled_) {
    readPaused_ = true;
    return;
  }
  if (holds || mayHoldMore_) [[unlikely]]
    ring_->Kick(receiveId_);
}

void AsyncSocket::StopReceiving() {
  if (receiveId_ == 0) return;
  ring_->Close(receiveId_);
  receiveId_ = 0;
}

}  // namespace platform
