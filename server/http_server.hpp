// http_server.hpp - the small HTTP/1.1 server behind vossad's HTTP side
// (internal to vossad): GET and HEAD, one request per connection, answered
// on a thread of its own that waits in epoll for every connection at once.
//
// No client can hold it up. A connection costs a descriptor and a few bytes
// until its request head has arrived, and is bounded in the head's size, the
// time the head may take, and the time the answer may take to be read. When
// connections reach their most, the one that has waited longest for its
// head is dropped to make room, so idle or slow clients can never keep out a
// request that arrives whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace vossad {

struct HttpRequest {
  std::string method;  // as sent: "GET", "HEAD", ...
  std::string path;    // the target's path, without its query
};

struct HttpAnswer {
  int status = 200;
  std::string type;  // Content-Type
  std::string body;  // left out of the answer to a HEAD
};

struct HttpLimits {
  std::size_t maxHeadBytes = 8192;                 // request line and headers
  std::chrono::milliseconds headTime{5000};        // from accept to the head's end
  std::chrono::milliseconds answerTime{5000};      // for the client to take the answer
  std::size_t maxConnections = 256;                // at once, beyond which the oldest waiting goes
  int listenBacklog = 4096;                        // capped by net.core.somaxconn
};

class HttpServer {
 public:
  // The handler runs on the server's thread, one request at a time; an
  // exception from it is answered with 500.
  using Handler = std::function<HttpAnswer(const HttpRequest&)>;

  HttpServer(Handler handler, HttpLimits limits);
  ~HttpServer();  // stops the thread and closes every connection
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on an IPv4 address and port (port 0 picks a free one) and starts
  // serving. On failure returns false with *error set.
  bool Start(const std::string& ipv4, std::uint16_t port, std::string* error);
  std::uint16_t port() const { return port_; }

 private:
  class Loop;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
  std::uint16_t port_ = 0;
};

}  // namespace vossad
