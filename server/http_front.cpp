// The HTTP side: the three pages, answered on the HTTP server's thread.
#include "http_front.hpp"

#include <arpa/inet.h>
#include <prometheus/text_serializer.h>

#include <cstdio>
#include <exception>

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

HttpFront::HttpFront(std::shared_ptr<const LobbyMetrics> metrics, HttpStatus status, HttpLimits limits)
    : pages_(std::make_unique<Pages>(Pages{std::move(metrics), std::move(status)})),
      collectable_(std::make_unique<MetricsExport>(pages_->metrics)),
      limits_(limits) {}

HttpFront::~HttpFront() = default;

bool HttpFront::Start(const std::string& address, std::string* error) {
  if (!IsHttpAddress(address)) {
    *error = "not an IPv4 address and port: " + address;
    return false;
  }
  const std::size_t colon = address.rfind(':');
  const auto port = static_cast<std::uint16_t>(std::stoul(address.substr(colon + 1)));
  auto server = std::make_unique<HttpServer>([this](const HttpRequest& request) { return Answer(request); }, limits_);
  std::string why;
  if (!server->Start(address.substr(0, colon), port, &why)) {
    *error = "cannot serve HTTP on " + address + ": " + why;
    return false;
  }
  port_ = server->port();
  server_ = std::move(server);
  return true;
}

HttpAnswer HttpFront::Answer(const HttpRequest& request) const {
  const char* const text = "text/plain; charset=utf-8";
  if (request.path == "/metrics") {
    return {200, "text/plain; version=0.0.4; charset=utf-8", prometheus::TextSerializer().Serialize(collectable_->Collect())};
  }
  if (request.path == "/healthz") {
    std::string reason;
    const bool healthy = pages_->Healthy(&reason);
    return {healthy ? 200 : 503, text, healthy ? "ok\n" : reason + "\n"};
  }
  if (request.path == "/") {
    try {
      return {200, "text/html; charset=utf-8", pages_->StatusPage()};
    } catch (const std::exception&) {
      return {503, text, "status unavailable\n"};
    }
  }
  return {404, text, "not found\n"};
}

bool HttpFront::Healthy(std::string* reason) const { return pages_->Healthy(reason); }
std::string HttpFront::StatusPage() const { return pages_->StatusPage(); }

}  // namespace vossad
