// metrics_export.hpp - the lobby's metrics in the Prometheus model
// (internal to vossad): a Collectable that reads LobbyMetrics when /metrics
// is asked for, on the HTTP server's thread. It only loads atomics and
// copies the published players per application; it never reaches into the
// lobby itself. docs/operations.md says what each metric means.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include "lobby_metrics.hpp"

namespace vossad {

class MetricsExport final : public prometheus::Collectable {
 public:
  explicit MetricsExport(std::shared_ptr<const LobbyMetrics> metrics) : metrics_(std::move(metrics)) {}
  std::vector<prometheus::MetricFamily> Collect() const override;

 private:
  std::shared_ptr<const LobbyMetrics> metrics_;
};

// An application name as a label value: printable ASCII, at most 64
// characters ('?' for anything else), since agents choose it.
std::string LabelText(const std::string& text);

}  // namespace vossad
