// vossad's HTTP side: real requests to a real vossad started with --http
// (and to an HttpFront in this process where the store's health must be
// steered), promtool on what /metrics serves, hostile HTTP clients while
// agents go on using the lobby, and the HTTP server alone with small bounds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../support/lobby_client.hpp"
#include "http_front.hpp"
#include "http_server.hpp"
#include "lobby_metrics.hpp"

namespace {

using namespace testsupport;

// A socket to 127.0.0.1:port; non-blocking when asked, so that a connection
// the server has not accepted yet costs no wait. A blocking connect gives up
// after kPatience, not after the kernel's retries of a dropped handshake.
int Connect(int port, bool nonBlocking = false) {
  const int fd = socket(AF_INET, SOCK_STREAM | (nonBlocking ? SOCK_NONBLOCK : 0) | SOCK_CLOEXEC, 0);
  const timeval bound{std::chrono::seconds(kPatience).count(), 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  const int rc = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  EXPECT_TRUE(rc == 0 || (nonBlocking && errno == EINPROGRESS)) << std::strerror(errno);
  return fd;
}

// Sends a whole request and reads the answer until the server closes.
std::string Http(int port, const std::string& request) {
  const int fd = Connect(port);
  EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  std::string answer;
  pollfd p{fd, POLLIN, 0};
  char chunk[16384];
  while (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) > 0) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    answer.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return answer;
}

std::string Get(int port, const std::string& path, const std::string& method = "GET") {
  return Http(port, method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
}

int StatusCode(const std::string& answer) {
  return answer.rfind("HTTP/1.", 0) == 0 && answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

std::string Body(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

// The value of one sample line ("name{labels} value") of /metrics.
double Sample(const std::string& metrics, const std::string& series) {
  const std::size_t at = metrics.find("\n" + series + " ");
  return at == std::string::npos ? -1 : std::atof(metrics.c_str() + at + series.size() + 2);
}

TEST(HttpSide, EveryPathAnswersAndTheLobbyMovesTheFigures) {
  Vossad server({"--http", "127.0.0.1:0", "--max-per-address", "100"});
  ASSERT_NE(server.httpPort(), 0);
  const int http = server.httpPort();

  EXPECT_EQ(StatusCode(Get(http, "/healthz")), 200);
  EXPECT_EQ(Body(Get(http, "/healthz")), "ok\n");
  EXPECT_EQ(StatusCode(Get(http, "/healthz", "HEAD")), 200);
  EXPECT_EQ(StatusCode(Get(http, "/healthz", "POST")), 405);
  EXPECT_EQ(StatusCode(Get(http, "/no/such/page")), 404);
  EXPECT_EQ(Sample(Body(Get(http, "/metrics")), "vossad_players"), 0);

  auto a = Registered(server, 2001, Description("Ann"));
  auto b = Registered(server, 2002, Description("Bob"), "Other");
  EXPECT_EQ(a->Query(" ").back(), "QROK");
  b->Send("LEAV");
  EXPECT_TRUE(b->ClosedByServer());

  std::string metrics;
  ASSERT_TRUE(Eventually([&] {
    metrics = Body(Get(http, "/metrics"));
    return Sample(metrics, "vossad_application_players{application=\"Corva\"}") == 1 &&
           Sample(metrics, "vossad_application_players{application=\"Other\"}") == -1;
  })) << metrics;
  EXPECT_EQ(Sample(metrics, "vossad_players"), 1);
  EXPECT_EQ(Sample(metrics, "vossad_open_connections"), 1);
  EXPECT_EQ(Sample(metrics, "vossad_registrations_total"), 2);
  EXPECT_EQ(Sample(metrics, "vossad_removals_total"), 1);
  EXPECT_EQ(Sample(metrics, "vossad_queries_total"), 3) << "two to sync, one asked";
  EXPECT_EQ(Sample(metrics, "vossad_query_duration_seconds_count"), 3);
  EXPECT_EQ(Sample(metrics, "vossad_connections_closed_total{reason=\"left\"}"), 1);
  EXPECT_EQ(Sample(metrics, "vossad_store_up"), -1) << "no store, no store metrics";

  const std::string page = Get(http, "/");
  EXPECT_EQ(StatusCode(page), 200);
  EXPECT_NE(page.find("Content-Type: text/html"), std::string::npos);
  EXPECT_NE(page.find("<td>Corva</td><td>1</td>"), std::string::npos) << page;
  EXPECT_NE(page.find("<td>players</td><td>10000</td>"), std::string::npos) << page;
  for (const char* personal : {"a@b.c", "likes chess", "Ann", "127.0.0.1:2001", "Oslo"}) {
    EXPECT_EQ(page.find(personal), std::string::npos) << personal;
  }
}

TEST(HttpSide, MetricsPassPromtool) {
  if (system("command -v promtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "promtool is not installed";
  Vossad server({"--http", "127.0.0.1:0"});
  ASSERT_NE(server.httpPort(), 0);
  auto a = Registered(server, 2001, Description("Ann"), "App \"quoted\" \\ name");
  const std::string metrics = Body(Get(server.httpPort(), "/metrics"));
  ASSERT_NE(metrics.find("vossad_query_duration_seconds_bucket"), std::string::npos);
  FILE* check = popen("promtool check metrics >/dev/null 2>&1", "w");
  ASSERT_NE(check, nullptr);
  std::fwrite(metrics.data(), 1, metrics.size(), check);
  EXPECT_EQ(pclose(check), 0) << metrics;
}

TEST(HttpSide, HostileClientsNeitherCrashItNorReachTheLobby) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
  setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_cur, 1100u) << "not enough descriptors for 1000 idle connections";

  Vossad server({"--http", "127.0.0.1:0"});
  ASSERT_NE(server.httpPort(), 0);
  const int http = server.httpPort();

  // Headers far beyond the request size bound: refused, not served.
  const std::string huge = "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(64 * 1024, 'a') + "\r\n\r\n";
  const int hugeStatus = StatusCode(Http(http, huge));
  EXPECT_TRUE(hugeStatus == 0 || hugeStatus >= 400) << hugeStatus;

  // A slowloris client (a request that never ends) and 1000 idle
  // connections, all held while agents use the lobby and the health is
  // asked for.
  std::vector<int> held;
  const int slow = Connect(http);
  ASSERT_EQ(send(slow, "GET /metrics HTTP/1.1\r\nHost: x\r\nX-A: ", 37, MSG_NOSIGNAL), 37);
  held.push_back(slow);
  for (int i = 0; i < 1000; ++i) held.push_back(Connect(http, true));

  auto a = Registered(server, 2001, Description("Ann"));
  auto b = Registered(server, 2002, Description("Bob"));
  for (int i = 0; i < 20; ++i) ASSERT_EQ(a->Query(" ").size(), 2u) << "one USER line and QROK";
  EXPECT_EQ(StatusCode(Get(http, "/healthz")), 200) << "idle clients keep no request out";
  EXPECT_EQ(Sample(Body(Get(http, "/metrics")), "vossad_players"), 2);

  // The slow request is cut off, without an answer.
  pollfd p{slow, POLLIN, 0};
  char chunk[4096];
  bool cutOff = false;
  std::string answered;
  while (!cutOff && poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) > 0) {
    const ssize_t n = recv(slow, chunk, sizeof chunk, 0);
    cutOff = n <= 0;
    if (n > 0) answered.append(chunk, static_cast<std::size_t>(n));
  }
  EXPECT_TRUE(cutOff) << "the slow client is still held";
  EXPECT_EQ(answered, "");

  for (const int fd : held) close(fd);
  EXPECT_EQ(b->Query(" ").size(), 2u);
  EXPECT_EQ(server.Stop(), 0) << "it stops cleanly";
}

// The HTTP server alone, with small bounds and a handler of the test's.
vossad::HttpAnswer TestPage(const vossad::HttpRequest& request) {
  if (request.path == "/throw") throw std::runtime_error("no page");
  if (request.path == "/big") return {200, "text/plain", std::string(32 << 20, 'b')};
  return {200, "text/plain", request.method + " " + request.path + "\n"};
}

TEST(HttpServer, AnswersByTheRequestLineAndRefusesWhatIsNotARequest) {
  vossad::HttpServer server(TestPage, vossad::HttpLimits{});
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
  const int port = server.port();

  const std::string page = Get(port, "/a/b?query=1#part");
  EXPECT_EQ(StatusCode(page), 200);
  EXPECT_EQ(Body(page), "GET /a/b\n");
  EXPECT_NE(page.find("Content-Length: 9\r\n"), std::string::npos) << page;
  EXPECT_NE(page.find("Connection: close\r\n"), std::string::npos) << page;
  const std::string head = Get(port, "/a", "HEAD");
  EXPECT_EQ(StatusCode(head), 200);
  EXPECT_NE(head.find("Content-Length: 8\r\n"), std::string::npos) << "the GET's length";
  EXPECT_EQ(Body(head), "");
  EXPECT_EQ(Body(Http(port, "GET /bare HTTP/1.0\n\n")), "GET /bare\n") << "bare newlines end the head too";
  // A head that arrives a byte at a time.
  {
    const int fd = Connect(port);
    for (const char ch : std::string("GET /slowly HTTP/1.1\r\nHost: x\r\n\r\n")) ASSERT_EQ(send(fd, &ch, 1, 0), 1);
    std::string answer;
    char chunk[1024];
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    EXPECT_EQ(Body(answer), "GET /slowly\n");
  }

  const std::string post = Http(port, "POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
  EXPECT_EQ(StatusCode(post), 405);
  EXPECT_NE(post.find("Allow: GET, HEAD\r\n"), std::string::npos) << post;
  for (const char* bad : {"GET\r\n\r\n", "GET / HTTP/2.0\r\n\r\n", "GET nopath HTTP/1.1\r\n\r\n",
                          "G\x01T / HTTP/1.1\r\n\r\n", "\r\n\r\n"}) {
    EXPECT_EQ(StatusCode(Http(port, bad)), 400) << bad;
  }
  EXPECT_EQ(StatusCode(Http(port, "GET / HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n")), 431);
  EXPECT_EQ(StatusCode(Get(port, "/throw")), 500);
  EXPECT_EQ(StatusCode(Get(port, "/after")), 200) << "and it goes on";

  vossad::HttpServer taken(TestPage, vossad::HttpLimits{});
  EXPECT_FALSE(taken.Start("127.0.0.1", static_cast<std::uint16_t>(port), &error));
  EXPECT_FALSE(taken.Start("localhost", 0, &error));
}

// Whether the server closes fd (reading and dropping whatever it sends).
bool ClosedByServer(int fd) {
  pollfd p{fd, POLLIN, 0};
  char chunk[65536];
  while (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) > 0) {
    if (recv(fd, chunk, sizeof chunk, 0) <= 0) return true;
  }
  return false;
}

TEST(HttpServer, IdleClientsFillingEveryPlaceKeepNoRequestOut) {
  vossad::HttpLimits limits;
  limits.maxConnections = 4;
  limits.headTime = std::chrono::minutes(10);  // only making room can let a request in
  vossad::HttpServer server(TestPage, limits);
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;

  std::vector<int> idle;
  for (int i = 0; i < 4; ++i) idle.push_back(Connect(server.port()));
  EXPECT_EQ(Body(Get(server.port(), "/wanted")), "GET /wanted\n");
  EXPECT_TRUE(ClosedByServer(idle.front())) << "the one that waited longest made room";
  EXPECT_EQ(Body(Get(server.port(), "/again")), "GET /again\n");
  for (const int fd : idle) close(fd);
}

TEST(HttpServer, SlowAndNonReadingClientsAreCutOff) {
  vossad::HttpLimits limits;
  limits.headTime = std::chrono::milliseconds(300);
  limits.answerTime = std::chrono::milliseconds(300);
  vossad::HttpServer server(TestPage, limits);
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
  const int port = server.port();

  // A head that never ends is closed unanswered when its time is up.
  const int slow = Connect(port);
  ASSERT_EQ(send(slow, "GET / HTTP/1.1\r\nX: ", 20, 0), 20);
  char chunk[65536];
  pollfd p{slow, POLLIN, 0};
  ASSERT_GT(poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())), 0);
  EXPECT_EQ(recv(slow, chunk, sizeof chunk, 0), 0);
  close(slow);

  // A client that asks for a long answer and never reads it is cut off
  // once the answer's time is up, with less than the whole.
  const int greedy = Connect(port);
  const int small = 4096;
  setsockopt(greedy, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const std::string request = "GET /big HTTP/1.1\r\n\r\n";
  ASSERT_EQ(send(greedy, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::this_thread::sleep_for(limits.answerTime * 3);  // let the bound pass unread
  std::size_t got = 0;
  for (ssize_t n; (n = recv(greedy, chunk, sizeof chunk, 0)) > 0;) got += static_cast<std::size_t>(n);
  close(greedy);
  EXPECT_LT(got, std::size_t{32} << 20);
  EXPECT_EQ(StatusCode(Get(port, "/after")), 200);
}

// The store's health comes from a hook the fleet's code sets; here it is
// steered directly on a front in this process.
TEST(HttpFront, HealthFollowsTheLobbyAndTheStore) {
  auto metrics = std::make_shared<vossad::LobbyMetrics>();
  metrics->listening = true;
  std::atomic<bool> storeReachable{true};
  vossad::HttpStatus status;
  status.instance = "test";
  status.storeReachable = [&storeReachable](std::string* reason) {
    *reason = "connection refused\nby the store";
    return storeReachable.load();
  };
  vossad::HttpFront front(metrics, status);
  std::string error;
  ASSERT_TRUE(front.Start("127.0.0.1:0", &error)) << error;

  EXPECT_EQ(StatusCode(Get(front.port(), "/healthz")), 200);
  storeReachable = false;
  const std::string lost = Get(front.port(), "/healthz");
  EXPECT_EQ(StatusCode(lost), 503);
  EXPECT_EQ(Body(lost), "the store is not reachable: connection refused by the store\n");
  storeReachable = true;
  metrics->listening = false;
  EXPECT_EQ(Body(Get(front.port(), "/healthz")), "the lobby is not listening\n");

  vossad::HttpFront taken(metrics, status);
  EXPECT_FALSE(taken.Start("127.0.0.1:" + std::to_string(front.port()), &error));
  EXPECT_NE(error.find("cannot serve HTTP"), std::string::npos) << error;
  EXPECT_FALSE(taken.Start("localhost:80", &error));
}

}  // namespace
