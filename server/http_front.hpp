// http_front.hpp - what vossad shows over HTTP (internal to vossad):
// /metrics in the Prometheus text format, /healthz, and a small status page
// at /, served by prometheus-cpp's exposer on its own threads.
//
// Those threads never touch the lobby: they read LobbyMetrics (atomics and
// a published copy) and call the hooks of Status, which must be safe to call
// from any thread. The web server bounds what a client may do (a request's
// size and the time it may take to arrive, a few worker threads, a queue of
// accepted connections, the rest waiting in the kernel's backlog); other
// paths get its own 404.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lobby_metrics.hpp"

namespace prometheus {
class Collectable;
class Exposer;
}  // namespace prometheus

namespace vossad {

struct HttpStatus {
  std::string instance;  // the name the page gives this server
  // The limits in force, as name and value, in the order shown.
  std::vector<std::pair<std::string, std::string>> limits;
  // Whether the fleet's store is reachable; *reason says why not. Unset:
  // there is no store, and it is always true.
  std::function<bool(std::string* reason)> storeReachable;
  // The fleet's live instances. Unset: this instance alone.
  std::function<std::vector<std::string>()> fleetInstances;
};

class HttpFront {
 public:
  // The bounds given to the web server.
  static constexpr int kThreads = 4;
  static constexpr int kRequestTimeoutMs = 5000;
  static constexpr int kMaxRequestBytes = 8192;
  // Connections the kernel completes and holds for the workers; it costs
  // no descriptors, and the kernel caps it at net.core.somaxconn. A burst
  // beyond it has its handshakes dropped: those connections then reach a
  // worker late, without their request or their close, and hold it for
  // the whole request time, while new clients' connects back off (1 s,
  // 3 s, 7 s, ...). So it is sized for a flood, not for the few workers.
  static constexpr int kListenBacklog = 4096;

  HttpFront(std::shared_ptr<const LobbyMetrics> metrics, HttpStatus status);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Listens on "ADDRESS:PORT" (IPv4; port 0 picks a free one). On failure
  // returns false with *error set.
  bool Start(const std::string& address, std::string* error);
  std::uint16_t port() const { return port_; }

  // What /healthz answers: true while the lobby listens and the store (if
  // any) is reachable; else *reason says why not, in one line.
  bool Healthy(std::string* reason) const;
  // The status page's HTML.
  std::string StatusPage() const;

  // What the pages are made from; shared with the requests being answered.
  struct Pages;

 private:
  std::shared_ptr<Pages> pages_;
  std::shared_ptr<prometheus::Collectable> collectable_;
  std::unique_ptr<prometheus::Exposer> exposer_;
  std::uint16_t port_ = 0;
};

// Whether text is "a.b.c.d:port" with a dotted IPv4 address and a port
// number up to 65535.
bool IsHttpAddress(const std::string& text);

}  // namespace vossad
