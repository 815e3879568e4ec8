// The HTTP side: the exposer serves /metrics; its begin_request callback
// answers /healthz and / before the exposer's own handlers are asked.
#include "http_front.hpp"

#include <arpa/inet.h>

#include <CivetServer.h>
#include <civetweb.h>
#include <prometheus/exposer.h>

#include <cstdio>
#include <exception>
#include <map>
#include <mutex>

#include "metrics_export.hpp"
#include "platform/option_values.hpp"

namespace vossad {

struct HttpFront::Pages {
  std::shared_ptr<const LobbyMetrics> metrics;
  HttpStatus status;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

  bool Healthy(std::string* reason) const;
  std::string StatusPage() const;
};

namespace {

// The callback is given no pointer of ours, only the connection: the pages
// are found by the port the request came in on. A request holds its pages
// while it is answered, so a front that goes away meanwhile is no harm.
std::mutex pagesMutex;
std::map<int, std::weak_ptr<const HttpFront::Pages>>* pagesByPort = nullptr;

std::shared_ptr<const HttpFront::Pages> PagesOf(int port) {
  const std::lock_guard<std::mutex> lock(pagesMutex);
  if (pagesByPort == nullptr) return nullptr;
  const auto it = pagesByPort->find(port);
  return it == pagesByPort->end() ? nullptr : it->second.lock();
}

void SetPages(int port, std::shared_ptr<const HttpFront::Pages> pages) {
  const std::lock_guard<std::mutex> lock(pagesMutex);
  if (pagesByPort == nullptr) pagesByPort = new std::map<int, std::weak_ptr<const HttpFront::Pages>>;
  if (pages) {
    (*pagesByPort)[port] = pages;
  } else {
    pagesByPort->erase(port);
  }
}

std::string Html(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    switch (ch) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string Duration(std::chrono::seconds elapsed) {
  const long long s = elapsed.count();
  char text[64];
  std::snprintf(text, sizeof text, "%lldd %02lld:%02lld:%02lld", s / 86400, s / 3600 % 24, s / 60 % 60, s % 60);
  return text;
}

int Respond(mg_connection* conn, int code, const char* type, const std::string& body, bool head) {
  const char* phrase = code == 200 ? "OK" : code == 405 ? "Method Not Allowed" : "Service Unavailable";
  mg_printf(conn,
            "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nCache-Control: no-store\r\n"
            "Connection: close\r\n\r\n",
            code, phrase, type, body.size());
  if (!head) mg_write(conn, body.data(), body.size());
  return code;  // handled; the code is what the web server logs
}

int BeginRequest(mg_connection* conn) {
  const mg_request_info* request = mg_get_request_info(conn);
  if (request == nullptr || request->local_uri == nullptr) return 0;
  const std::string uri = request->local_uri;
  if (uri != "/" && uri != "/healthz") return 0;
  const std::shared_ptr<const HttpFront::Pages> pages = PagesOf(request->server_port);
  if (!pages) return 0;
  const std::string method = request->request_method != nullptr ? request->request_method : "";
  const bool head = method == "HEAD";
  if (method != "GET" && !head) return Respond(conn, 405, "text/plain; charset=utf-8", "GET or HEAD only\n", false);
  try {
    if (uri == "/healthz") {
      std::string reason;
      const bool healthy = pages->Healthy(&reason);
      return Respond(conn, healthy ? 200 : 503, "text/plain; charset=utf-8", healthy ? "ok\n" : reason + "\n", head);
    }
    return Respond(conn, 200, "text/html; charset=utf-8", pages->StatusPage(), head);
  } catch (const std::exception&) {
    return Respond(conn, 503, "text/plain; charset=utf-8", "status unavailable\n", head);
  }
}

}  // namespace

bool HttpFront::Pages::Healthy(std::string* reason) const {
  if (!metrics->listening.load(std::memory_order_relaxed)) {
    *reason = "the lobby is not listening";
    return false;
  }
  if (status.storeReachable) {
    std::string why;
    if (!status.storeReachable(&why)) {
      *reason = "the store is not reachable" + (why.empty() ? std::string() : ": " + why);
      for (char& ch : *reason) {
        if (ch == '\n' || ch == '\r') ch = ' ';
      }
      return false;
    }
  }
  return true;
}

std::string HttpFront::Pages::StatusPage() const {
  const auto uptime =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>vossad " + Html(status.instance) +
      "</title></head>\n<body>\n<h1>vossad " + Html(status.instance) + "</h1>\n<p>Up " + Duration(uptime) + ", " +
      std::to_string(metrics->players.load(std::memory_order_relaxed)) + " players, " +
      std::to_string(metrics->openConnections.load(std::memory_order_relaxed)) + " connections.</p>\n";
  page += "<h2>Players per application</h2>\n<table>\n";
  for (const auto& [app, players] : metrics->applications()) {
    page += "<tr><td>" + Html(LabelText(app)) + "</td><td>" + std::to_string(players) + "</td></tr>\n";
  }
  page += "</table>\n<h2>Instances</h2>\n<ul>\n";
  const std::vector<std::string> instances =
      status.fleetInstances ? status.fleetInstances() : std::vector<std::string>{status.instance};
  for (const std::string& instance : instances) page += "<li>" + Html(instance) + "</li>\n";
  page += "</ul>\n<h2>Limits</h2>\n<table>\n";
  for (const auto& [name, value] : status.limits) {
    page += "<tr><td>" + Html(name) + "</td><td>" + Html(value) + "</td></tr>\n";
  }
  page += "</table>\n<p><a href=\"/metrics\">metrics</a> <a href=\"/healthz\">health</a></p>\n</body></html>\n";
  return page;
}

bool IsHttpAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  in_addr address{};
  unsigned long port = 0;
  return inet_pton(AF_INET, text.substr(0, colon).c_str(), &address) == 1 &&
         platform::ParseCountOption(text.substr(colon + 1), 65535, &port);
}

HttpFront::HttpFront(std::shared_ptr<const LobbyMetrics> metrics, HttpStatus status)
    : pages_(std::make_shared<Pages>(Pages{std::move(metrics), std::move(status)})),
      collectable_(std::make_shared<MetricsExport>(pages_->metrics)) {}

HttpFront::~HttpFront() {
  if (port_ != 0) SetPages(port_, nullptr);
  exposer_.reset();  // joins the web server's threads
}

bool HttpFront::Start(const std::string& address, std::string* error) {
  if (!IsHttpAddress(address)) {
    *error = "not an IPv4 address and port: " + address;
    return false;
  }
  static const CivetCallbacks callbacks = [] {
    CivetCallbacks c;
    c.begin_request = BeginRequest;
    return c;
  }();
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(
        std::vector<std::string>{"listening_ports", address, "num_threads", std::to_string(kThreads),
                                 "request_timeout_ms", std::to_string(kRequestTimeoutMs), "max_request_size",
                                 std::to_string(kMaxRequestBytes), "listen_backlog",
                                 std::to_string(kListenBacklog), "enable_keep_alive", "no"},
        &callbacks);
    exposer_->RegisterCollectable(collectable_);
    const std::vector<int> ports = exposer_->GetListeningPorts();
    if (ports.empty()) throw std::runtime_error("no listening port");
    port_ = static_cast<std::uint16_t>(ports.front());
  } catch (const std::exception& e) {
    exposer_.reset();
    *error = "cannot serve HTTP on " + address + ": " + e.what();
    return false;
  }
  SetPages(port_, pages_);
  return true;
}

bool HttpFront::Healthy(std::string* reason) const { return pages_->Healthy(reason); }
std::string HttpFront::StatusPage() const { return pages_->StatusPage(); }

}  // namespace vossad
