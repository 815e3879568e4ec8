// libFuzzer harness: what HTTP clients send vossad's HTTP side. One
// HttpServer serves every input; each input goes to it over a loopback
// connection in pieces (the first byte of the input gives their size), and
// then the client's sending side is shut. Nothing may crash or hang. What
// comes back must be what the head's end says: nothing for a head that never
// ended within the bound, 431 for a longer one, else one whole answer (a
// status line, headers, and a body as long as Content-Length, none for HEAD).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "http_server.hpp"

namespace {

constexpr int kPatienceMs = 5000;  // a hang, not a slow answer

vossad::HttpServer& Server() {
  static const auto server = [] {
    auto s = std::make_unique<vossad::HttpServer>(
        [](const vossad::HttpRequest& request) {
          return vossad::HttpAnswer{200, "text/plain", request.method + " " + request.path + "\n"};
        },
        vossad::HttpLimits{});
    std::string error;
    if (!s->Start("127.0.0.1", 0, &error)) std::abort();
    return s;
  }();
  return *server;
}

// Where a head that starts the text ends, by a plain search from its start.
std::size_t HeadEnd(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    if (i + 1 < text.size() && text[i + 1] == '\n') return i + 2;
    if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

// For its lifetime, the timer signal libFuzzer uses to watch for slow inputs
// is kept from this thread (the server's thread takes it instead), so that
// it interrupts none of the exchange's calls.
class TimerSignalHeld {
 public:
  TimerSignalHeld() {
    sigset_t timer;
    sigemptyset(&timer);
    sigaddset(&timer, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &timer, &before_);
  }
  ~TimerSignalHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  TimerSignalHeld(const TimerSignalHeld&) = delete;
  TimerSignalHeld& operator=(const TimerSignalHeld&) = delete;

 private:
  sigset_t before_{};
};

std::string Exchange(std::string_view request, std::size_t piece) {
  const TimerSignalHeld held;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(Server().port());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // A connection the client ends first leaves a TIME_WAIT on its port;
  // spreading the clients over 127.0.0.0/24 keeps ports free for a long run.
  static unsigned next = 0;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + next++ % 250);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "http_head_fuzz: cannot connect: %s\n", std::strerror(errno));
    std::abort();
  }
  for (std::size_t at = 0; at < request.size(); at += piece) {
    const std::string_view part = request.substr(at, piece);
    // The server may have answered and shut its reading off early (431).
    ssize_t sent;
    do {
      sent = send(fd, part.data(), part.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(part.size())) break;
  }
  shutdown(fd, SHUT_WR);
  std::string answer;
  pollfd p{fd, POLLIN, 0};
  char chunk[16384];
  for (;;) {
    const int ready = poll(&p, 1, kPatienceMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) std::abort();  // neither an answer nor a close
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answer.append(chunk, static_cast<std::size_t>(n));
  }
  const linger reset{1, 0};  // no TIME_WAIT left behind per input
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);
  return answer;
}

// Says what was wrong, with the answer, and stops the run.
[[noreturn]] void Fail(const char* what, const std::string& answer) {
  std::fprintf(stderr, "http_head_fuzz: %s; the answer (%zu bytes): %.300s\n", what, answer.size(), answer.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string bytes = fuzzinput::Bytes(data + 1, size - 1);
  const std::size_t piece = static_cast<std::size_t>(data[0] % 16) + 1;
  const std::string answer = Exchange(bytes, piece);

  const std::size_t bound = vossad::HttpLimits{}.maxHeadBytes;
  const std::size_t end = HeadEnd(std::string_view(bytes).substr(0, bound + 1));
  const bool complete = end != std::string_view::npos && end <= bound;
  if (!complete && bytes.size() <= bound) {
    if (!answer.empty()) Fail("a head that never ended was answered", answer);
    return 0;
  }
  const std::size_t headers = answer.find("\r\n\r\n");
  if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || headers == std::string::npos) Fail("no whole answer", answer);
  const int status = std::atoi(answer.c_str() + 9);
  if (!complete && status != 431) Fail("a head over the bound was not refused with 431", answer);
  if (complete && status != 200 && status != 400 && status != 405) Fail("an unexpected status", answer);
  const std::size_t length = answer.find("\r\nContent-Length: ");
  if (length == std::string::npos || length > headers) Fail("no Content-Length", answer);
  const std::size_t announced = std::strtoul(answer.c_str() + length + 18, nullptr, 10);
  const std::size_t body = answer.size() - headers - 4;
  const bool head = complete && status == 200 && bytes.compare(0, 5, "HEAD ") == 0;
  if (body != (head ? 0 : announced)) Fail("a body of another length than announced", answer);
  return 0;
}
