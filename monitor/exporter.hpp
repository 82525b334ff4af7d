#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "monitor/exporter_http.hpp"
#include "monitor/snapshot.hpp"

namespace tarnex::monitor {

struct ExporterOptions {
  std::string listen_address = ":19117";
  std::string telemetry_path = "/metrics";
  std::chrono::milliseconds timeout{5000};
  int max_requests = 40;
  std::string endpoint;  // --ruxd.endpoint; empty: the settings search finds it
};

inline constexpr int exporter_run = -1;  // read_exporter_options: go on and serve

// Reads the arguments (argv[0] included): exporter_run, or the exit status
// of a run that ends here (help, version: 0; a bad option: 2, with the
// reason and the usage on `err`).
int read_exporter_options(const std::vector<std::string>& args, ExporterOptions* options, FILE* out,
                          FILE* err);

// The page at "/": a link to the metrics.
std::string landing_page(const std::string& telemetry_path);

// Where the daemon is, asked again before every exchange: nothing, with the
// reason, while the configuration cannot be used.
using FindEndpoint = std::function<std::optional<std::string>(std::string* error)>;

// The bound of one scrape's exchange: `timeout`, or the time Prometheus
// waits (its X-Prometheus-Scrape-Timeout-Seconds header) less half a second
// when that is shorter and leaves any time.
std::chrono::milliseconds scrape_bound(std::chrono::milliseconds timeout, std::optional<double> header);

// The scrapes' one line to the daemon. One exchange runs at a time; a
// scrape that comes while it runs waits for it and is answered with its
// page. A new exchange starts only for a scrape whose client still waits.
// Why the daemon could not be read is written to `log` when it differs from
// the last reason written, not at every scrape.
class Scrapes {
 public:
  Scrapes(Transport* transport, FindEndpoint find_endpoint, Now now, FILE* log);

  // The page for a scrape that came at `arrived` and may take `bound`;
  // nothing when no exchange ran and `client_gone` says nobody waits.
  std::shared_ptr<const Body> page(Clock::time_point arrived, std::chrono::milliseconds bound,
                                   const std::function<bool()>& client_gone);

  // How many scrapes wait for the running exchange.
  std::size_t waiting();

 private:
  std::shared_ptr<const Body> exchange(Clock::time_point since, std::chrono::milliseconds bound);
  void note(const std::string& problem);

  Transport* transport_;
  FindEndpoint find_endpoint_;
  Now now_;
  FILE* log_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool running_ = false;
  std::size_t waiting_ = 0;
  std::uint64_t exchanges_ = 0;  // exchanges finished
  std::shared_ptr<const Body> last_;
  std::string last_problem_;  // touched only by the running exchange
};

// The answer to one request: the metrics at the telemetry path, the landing
// page at "/", 404 elsewhere, 405 for a method other than GET and HEAD.
HttpResponse answer(const HttpRequest& request, const ExporterOptions& options, Scrapes& scrapes,
                    const std::function<bool()>& client_gone);

}  // namespace tarnex::monitor
