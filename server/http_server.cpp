#include "http_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string_view>
#include <unordered_map>

namespace vossad {
namespace {

using Clock = std::chrono::steady_clock;

// After its answer a connection is read until the client closes, for at
// most this long: closing on unread bytes would send a reset that can
// overtake the answer.
constexpr std::chrono::milliseconds kDrainTime{1000};
// A full descriptor table stops accepting for this long.
constexpr std::chrono::milliseconds kAcceptPause{100};
constexpr int kEventsPerWait = 64;
constexpr std::uint64_t kListenerTag = 0;
constexpr std::uint64_t kStopTag = 1;

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

std::string Render(const HttpAnswer& answer, bool head) {
  std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) +
                    "\r\nContent-Type: " + answer.type + "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                    "\r\nCache-Control: no-store\r\nConnection: close\r\n";
  if (answer.status == 405) out += "Allow: GET, HEAD\r\n";
  out += "\r\n";
  if (!head) out += answer.body;
  return out;
}

HttpAnswer Plain(int status, std::string body) { return {status, "text/plain; charset=utf-8", std::move(body)}; }

// Where the head ends (the blank line), or npos while it has not arrived.
std::size_t HeadEnd(std::string_view in) {
  for (std::size_t i = in.find('\n'); i != std::string_view::npos; i = in.find('\n', i + 1)) {
    if (i + 1 < in.size() && in[i + 1] == '\n') return i + 2;
    if (i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// The request line "METHOD /path?query HTTP/1.x"; false when it is not one.
bool ParseRequestLine(std::string_view head, HttpRequest* request) {
  std::string_view line = head.substr(0, head.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string_view::npos || last == first) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, last - first - 1);
  const std::string_view version = line.substr(last + 1);
  if (!IsToken(method) || version.substr(0, 7) != "HTTP/1." || version.size() != 8) return false;
  if (target.empty() || target.front() != '/' || target.find(' ') != std::string_view::npos) return false;
  request->method = std::string(method);
  request->path = std::string(target.substr(0, target.find_first_of("?#")));
  return true;
}

}  // namespace

class HttpServer::Loop {
 public:
  Loop(Handler handler, HttpLimits limits) : handler_(std::move(handler)), limits_(limits) {}

  ~Loop() { CloseAll(); }

  bool Open(const std::string& ipv4, std::uint16_t port, std::uint16_t* bound, std::string* error) {
    const bool opened = TryOpen(ipv4, port, bound, error);
    if (!opened) CloseAll();
    return opened;
  }

  void CloseAll() {
    for (const auto& [serial, connection] : connections_) close(connection.fd);
    connections_.clear();
    for (int* fd : {&listenFd_, &stopFd_, &epollFd_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

  bool TryOpen(const std::string& ipv4, std::uint16_t port, std::uint16_t* bound, std::string* error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, ipv4.c_str(), &address.sin_addr) != 1) {
      *error = "not an IPv4 address: " + ipv4;
      return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, limits_.listenBacklog) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      *error = std::strerror(errno);
      return false;
    }
    *bound = ntohs(address.sin_port);
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd_ < 0 || stopFd_ < 0 || !Watch(listenFd_, EPOLLIN, kListenerTag, EPOLL_CTL_ADD) ||
        !Watch(stopFd_, EPOLLIN, kStopTag, EPOLL_CTL_ADD)) {
      *error = std::strerror(errno);
      return false;
    }
    return true;
  }

  void Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stopFd_, &one, sizeof one);
  }

  void Run() {
    epoll_event events[kEventsPerWait];
    for (;;) {
      const int n = epoll_wait(epollFd_, events, kEventsPerWait, WaitMs());
      if (n < 0 && errno != EINTR) return;
      for (int i = 0; i < n; ++i) {
        const std::uint64_t tag = events[i].data.u64;
        if (tag == kStopTag) return;
        // Nothing may leave the thread: a page or a buffer that cannot be
        // had costs that connection, never the process.
        try {
          if (tag == kListenerTag) {
            AcceptAll();
            continue;
          }
          // A connection dropped earlier in this batch is no longer found.
          const auto it = connections_.find(tag);
          if (it != connections_.end()) Service(it->first, it->second);
        } catch (const std::exception&) {
          const auto it = connections_.find(tag);
          if (it != connections_.end()) Drop(it);
        }
      }
      Expire();
    }
  }

 private:
  enum class Phase { kHead, kAnswer, kDrain };

  struct Connection {
    int fd = -1;
    Phase phase = Phase::kHead;
    std::string in;
    std::string out;
    std::size_t sent = 0;
    Clock::time_point deadline;
  };

  bool Watch(int fd, std::uint32_t events, std::uint64_t tag, int op) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    return epoll_ctl(epollFd_, op, fd, &ev) == 0;
  }

  int WaitMs() const {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& [serial, connection] : connections_) next = std::min(next, connection.deadline);
    if (acceptPaused_) next = std::min(next, acceptResumes_);
    if (next == Clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
  }

  void AcceptAll() {
    for (;;) {
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if ((errno == EMFILE || errno == ENFILE) && DropOldestWaiting()) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PauseAccepting();
        return;  // EAGAIN: all taken
      }
      if (connections_.size() >= limits_.maxConnections && !DropOldestWaiting()) {
        close(fd);  // every slot is answering; this one may try again
        continue;
      }
      const std::uint64_t serial = nextSerial_++;
      if (!Watch(fd, EPOLLIN | EPOLLRDHUP, serial, EPOLL_CTL_ADD)) {
        close(fd);
        continue;
      }
      Connection& c = connections_[serial];
      c.fd = fd;
      c.deadline = Clock::now() + limits_.headTime;
    }
  }

  // Drops the connection that has waited longest for its head; false when
  // none is waiting for one.
  bool DropOldestWaiting() {
    auto oldest = connections_.end();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if (it->second.phase == Phase::kHead && (oldest == connections_.end() || it->first < oldest->first))
        oldest = it;
    }
    if (oldest == connections_.end()) return false;
    Drop(oldest);
    return true;
  }

  void PauseAccepting() {
    acceptPaused_ = true;
    acceptResumes_ = Clock::now() + kAcceptPause;
    Watch(listenFd_, 0, kListenerTag, EPOLL_CTL_MOD);
  }

  void Drop(std::unordered_map<std::uint64_t, Connection>::iterator it) {
    close(it->second.fd);  // leaves the epoll set with it
    connections_.erase(it);
  }

  void Service(std::uint64_t serial, Connection& c) {
    switch (c.phase) {
      case Phase::kHead: return ReadHead(serial, c);
      case Phase::kAnswer: return WriteAnswer(serial, c);
      case Phase::kDrain: return DrainRest(serial, c);
    }
  }

  void ReadHead(std::uint64_t serial, Connection& c) {
    char chunk[4096];
    for (;;) {
      const ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) return Drop(connections_.find(serial));  // gone before asking
      // Only what may still belong to the head is kept, and only what came
      // since the last look (and the two bytes before it) is searched.
      const std::size_t room = limits_.maxHeadBytes + 1 - std::min(c.in.size(), limits_.maxHeadBytes + 1);
      const std::size_t from = c.in.size() < 2 ? 0 : c.in.size() - 2;
      c.in.append(chunk, std::min(static_cast<std::size_t>(n), room));
      const std::size_t end = HeadEnd(std::string_view(c.in).substr(from));
      if (end != std::string::npos && from + end <= limits_.maxHeadBytes) {
        HttpRequest request;
        const bool parsed = ParseRequestLine(c.in, &request);
        return Answer(serial, c, Handle(parsed, request), parsed && request.method == "HEAD");
      }
      if (c.in.size() > limits_.maxHeadBytes) return Answer(serial, c, Plain(431, "request head too large\n"), false);
    }
  }

  HttpAnswer Handle(bool parsed, const HttpRequest& request) {
    if (!parsed) return Plain(400, "not an HTTP/1 request\n");
    if (request.method != "GET" && request.method != "HEAD") return Plain(405, "GET or HEAD only\n");
    try {
      return handler_(request);
    } catch (const std::exception&) {
      return Plain(500, "the page could not be made\n");
    }
  }

  void Answer(std::uint64_t serial, Connection& c, const HttpAnswer& answer, bool headOnly) {
    c.out = Render(answer, headOnly);
    c.in.clear();
    c.in.shrink_to_fit();
    c.phase = Phase::kAnswer;
    c.deadline = Clock::now() + limits_.answerTime;
    WriteAnswer(serial, c);
  }

  void WriteAnswer(std::uint64_t serial, Connection& c) {
    while (c.sent < c.out.size()) {
      const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!Watch(c.fd, EPOLLOUT, serial, EPOLL_CTL_MOD)) Drop(connections_.find(serial));
        return;
      }
      if (n < 0) return Drop(connections_.find(serial));
      c.sent += static_cast<std::size_t>(n);
    }
    // All sent: say so, and wait a little for the client's end.
    shutdown(c.fd, SHUT_WR);
    c.out.clear();
    c.out.shrink_to_fit();
    c.phase = Phase::kDrain;
    c.deadline = std::min(c.deadline, Clock::now() + kDrainTime);
    if (!Watch(c.fd, EPOLLIN | EPOLLRDHUP, serial, EPOLL_CTL_MOD)) return Drop(connections_.find(serial));
    DrainRest(serial, c);
  }

  void DrainRest(std::uint64_t serial, Connection& c) {
    char chunk[4096];
    for (;;) {
      const ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      return Drop(connections_.find(serial));
    }
  }

  void Expire() {
    const Clock::time_point now = Clock::now();
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->second.deadline <= now) {
        if (it->second.phase == Phase::kAnswer) {
          // What the client never read is thrown away with a reset, not
          // kept in the kernel for it.
          const linger reset{1, 0};
          setsockopt(it->second.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        close(it->second.fd);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    if (acceptPaused_ && acceptResumes_ <= now) {
      acceptPaused_ = false;
      Watch(listenFd_, EPOLLIN, kListenerTag, EPOLL_CTL_MOD);
    }
  }

  Handler handler_;
  HttpLimits limits_;
  int listenFd_ = -1;
  int epollFd_ = -1;
  int stopFd_ = -1;
  std::unordered_map<std::uint64_t, Connection> connections_;
  std::uint64_t nextSerial_ = 2;  // after the listener's and the stop's tags
  bool acceptPaused_ = false;
  Clock::time_point acceptResumes_;
};

HttpServer::HttpServer(Handler handler, HttpLimits limits)
    : loop_(std::make_unique<Loop>(std::move(handler), limits)) {}

HttpServer::~HttpServer() {
  if (thread_.joinable()) {
    loop_->Stop();
    thread_.join();
  }
}

bool HttpServer::Start(const std::string& ipv4, std::uint16_t port, std::string* error) {
  if (thread_.joinable()) {
    *error = "already serving";
    return false;
  }
  if (!loop_->Open(ipv4, port, &port_, error)) return false;
  try {
    thread_ = std::thread([this] { loop_->Run(); });
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
  return true;
}

}  // namespace vossad
