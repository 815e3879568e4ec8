// Turning the lobby's counters into metric families at scrape time.
#include "metrics_export.hpp"

#include <limits>

namespace vossad {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

MetricFamily Family(const char* name, const char* help, MetricType type) { return {name, help, type, {}}; }

ClientMetric Value(MetricType type, double value, std::vector<ClientMetric::Label> labels = {}) {
  ClientMetric m;
  m.label = std::move(labels);
  if (type == MetricType::Counter) {
    m.counter.value = value;
  } else {
    m.gauge.value = value;
  }
  return m;
}

MetricFamily Single(const char* name, const char* help, MetricType type, double value) {
  MetricFamily f = Family(name, help, type);
  f.metric.push_back(Value(type, value));
  return f;
}

double Load(const Counter& c) { return static_cast<double>(c.load(kRelaxed)); }

MetricFamily LatencyFamily(const LatencyHistogram& histogram) {
  const LatencyHistogram::Snapshot s = histogram.Read();
  MetricFamily f = Family("vossad_query_duration_seconds",
                          "Time from a QUER taken on to its closing QROK or QRFL.", MetricType::Histogram);
  ClientMetric m;
  m.histogram.sample_count = s.count;
  m.histogram.sample_sum = s.sumSeconds;
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i < s.buckets.size(); ++i) {
    cumulative += s.buckets[i];
    const double bound =
        i < LatencyHistogram::kBounds.size() ? LatencyHistogram::kBounds[i] : std::numeric_limits<double>::infinity();
    m.histogram.bucket.push_back({cumulative, bound});
  }
  f.metric.push_back(std::move(m));
  return f;
}

}  // namespace

std::string LabelText(const std::string& text) {
  std::string out = text.substr(0, 64);
  for (char& ch : out) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte >= 0x7F) ch = '?';
  }
  return out;
}

std::vector<MetricFamily> MetricsExport::Collect() const {
  const LobbyMetrics& m = *metrics_;
  std::vector<MetricFamily> out;
  out.push_back(Single("vossad_listening", "1 while the lobby accepts agents.", MetricType::Gauge,
                       m.listening.load(kRelaxed) ? 1 : 0));
  out.push_back(Single("vossad_open_connections", "Agent connections open now.", MetricType::Gauge,
                       static_cast<double>(m.openConnections.load(kRelaxed))));
  out.push_back(Single("vossad_players", "Players registered now.", MetricType::Gauge,
                       static_cast<double>(m.players.load(kRelaxed))));

  MetricFamily perApplication =
      Family("vossad_application_players", "Players registered now, for each of the applications with the most.",
             MetricType::Gauge);
  for (const auto& [app, players] : m.applications()) {
    perApplication.metric.push_back(
        Value(MetricType::Gauge, static_cast<double>(players), {{"application", LabelText(app)}}));
  }
  out.push_back(std::move(perApplication));

  out.push_back(Single("vossad_registrations_total", "JOINs that registered a player.", MetricType::Counter,
                       Load(m.registrations)));
  out.push_back(Single("vossad_removals_total", "Players removed, for whatever reason.", MetricType::Counter,
                       Load(m.removals)));
  out.push_back(Single("vossad_queries_total", "QUER lines taken on and answered.", MetricType::Counter,
                       Load(m.queries)));
  out.push_back(LatencyFamily(m.queryLatency));

  MetricFamily refused = Family("vossad_connections_refused_total", "Connections turned away with BUSY, by cause.",
                                MetricType::Counter);
  for (RefusalCause cause : {RefusalCause::kServerFull, RefusalCause::kPerAddress}) {
    refused.metric.push_back(Value(MetricType::Counter, Load(m.refused[static_cast<std::size_t>(cause)]),
                                   {{"reason", RefusalCauseLabel(cause)}}));
  }
  out.push_back(std::move(refused));

  MetricFamily dropped =
      Family("vossad_connections_closed_total", "Agent connections closed, by cause.", MetricType::Counter);
  for (std::size_t i = 0; i < kDropReasons; ++i) {
    dropped.metric.push_back(
        Value(MetricType::Counter, Load(m.dropped[i]), {{"reason", DropReasonLabel(static_cast<DropReason>(i))}}));
  }
  out.push_back(std::move(dropped));

  out.push_back(Single("vossad_log_lines_summarised_total",
                       "Log lines held back and counted into summary lines instead.", MetricType::Counter,
                       Load(m.logLinesSummarised)));
  out.push_back(Single("vossad_probe_requests_total", "CPIN lines naming a registered player.",
                       MetricType::Counter, Load(m.probeRequests)));
  out.push_back(Single("vossad_probe_requests_sent_total",
                       "PINGs sent for CPIN lines (at most one per player and ping interval).", MetricType::Counter,
                       Load(m.probeRequestsSent)));

  if (m.storeConfigured.load(kRelaxed)) {
    out.push_back(Single("vossad_store_up", "1 while the fleet's store is reachable.", MetricType::Gauge,
                         m.storeUp.load(kRelaxed) ? 1 : 0));
    out.push_back(Single("vossad_fleet_instances", "Live instances of the fleet, this one included.",
                         MetricType::Gauge, static_cast<double>(m.fleetInstances.load(kRelaxed))));
    out.push_back(Single("vossad_replication_lag_seconds", "How far the store's replica is behind.",
                         MetricType::Gauge, m.replicationLagSeconds.load(kRelaxed)));
  }
  return out;
}

}  // namespace vossad
