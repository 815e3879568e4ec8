// http_front.hpp - what vossad shows over HTTP (internal to vossad):
// /metrics in the Prometheus text format (prometheus-cpp's serializer),
// /healthz, and a small status page at /, served by HttpServer on a thread
// of its own (http_server.hpp says how no client can hold it up).
//
// That thread never touches the lobby: it reads LobbyMetrics (atomics and a
// published copy) and calls the hooks of Status, which must be safe to call
// from any thread. Other paths get 404, other methods 405.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http_server.hpp"
#include "lobby_metrics.hpp"

namespace prometheus {
class Collectable;
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
  HttpFront(std::shared_ptr<const LobbyMetrics> metrics, HttpStatus status, HttpLimits limits = {});
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

  // What the pages are made from.
  struct Pages;

 private:
  HttpAnswer Answer(const HttpRequest& request) const;

  std::unique_ptr<Pages> pages_;
  std::unique_ptr<prometheus::Collectable> collectable_;
  HttpLimits limits_;
  std::unique_ptr<HttpServer> server_;  // first to go: its thread reads the rest
  std::uint16_t port_ = 0;
};

// Whether text is "a.b.c.d:port" with a dotted IPv4 address and a port
// number up to 65535.
bool IsHttpAddress(const std::string& text);

}  // namespace vossad
