#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include "monitor/snapshot.hpp"

namespace tarnex::monitor {

// The metric families of one scrape: the snapshot's records, or only
// tarnex_up 0 when there is none, with the scrape's duration and the build.
std::vector<prometheus::MetricFamily> metric_families(const std::optional<Snapshot>& snapshot,
                                                      std::chrono::nanoseconds scrape_duration);

// Asks the daemon on every scrape. One exchange at a time: a scrape that
// arrives while another one's exchange runs waits for it and shares its
// result.
class ClusterCollector : public prometheus::Collectable {
 public:
  explicit ClusterCollector(Source source);
  std::vector<prometheus::MetricFamily> Collect() const override;

 private:
  struct Result {
    std::optional<Snapshot> snapshot;
    Clock::time_point finished;
    std::chrono::nanoseconds took{0};
  };
  Source source_;
  mutable std::mutex exchange_;
  mutable std::optional<Result> last_;
};

struct ExporterOptions {
  std::string listen_address = ":19117";
  std::string telemetry_path = "/metrics";
  std::chrono::milliseconds timeout{5000};
};

inline constexpr int exporter_run = -1;  // read_exporter_options: go on and serve

// Reads the arguments (argv[0] included): exporter_run, or the exit status
// of a run that ends here (help, version: 0; a bad option: 2, with the
// reason and the usage on `err`).
int read_exporter_options(const std::vector<std::string>& args, ExporterOptions* options, FILE* out,
                          FILE* err);

// The listen address as the HTTP server takes it: ":PORT" becomes "PORT".
std::string server_address(const std::string& listen_address);

// The page at "/": a link to the metrics.
std::string landing_page(const std::string& telemetry_path);

}  // namespace tarnex::monitor
