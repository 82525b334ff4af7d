#include "monitor/exporter.hpp"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "base/argument_vector.hpp"

namespace tarnex::monitor {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// A label value from the daemon, shown as at a terminal. The strict parser
// lets only valid UTF-8 into a reply's texts, so the exposition stays valid.
std::string label_text(const std::string& text) {
  return shown(text);
}

MetricFamily family(std::string name, std::string help) {
  return {std::move(name), std::move(help), MetricType::Gauge, {}};
}

void add(MetricFamily& family, std::vector<ClientMetric::Label> labels, double value) {
  ClientMetric metric;
  metric.label = std::move(labels);
  metric.gauge.value = value;
  family.metric.push_back(std::move(metric));
}

// The states a state set shows: the known ones and every one seen, in
// ascending order.
std::set<std::string> state_set(std::initializer_list<const char*> known,
                                const std::vector<std::string>& seen) {
  std::set<std::string> states(known.begin(), known.end());
  states.insert(seen.begin(), seen.end());
  return states;
}

void print_usage(FILE* out) {
  std::fputs(
      "Usage: tarnex_exporter [--web.listen-address=ADDRESS] [--web.telemetry-path=PATH]\n"
      "                       [--timeout=SECONDS]\n"
      "       tarnex_exporter --help | --version\n",
      out);
}

}  // namespace

std::vector<MetricFamily> metric_families(const std::optional<Snapshot>& snapshot,
                                          std::chrono::nanoseconds scrape_duration) {
  std::vector<MetricFamily> families;
  MetricFamily up = family("tarnex_up", "1 when the daemon answered both status requests, else 0.");
  add(up, {}, snapshot ? 1 : 0);
  families.push_back(std::move(up));
  MetricFamily duration =
      family("tarnex_scrape_duration_seconds", "How long the status requests of this scrape took.");
  add(duration, {}, std::chrono::duration<double>(scrape_duration).count());
  families.push_back(std::move(duration));
  MetricFamily build = family("tarnex_build_info", "The exporter's version, as a label; always 1.");
  add(build, {{"version", TARNEX_MONITOR_VERSION}}, 1);
  families.push_back(std::move(build));
  if (!snapshot) return families;

  std::vector<std::string> seen;
  for (const NodeRecord& node : snapshot->nodes)
    seen.push_back(label_text(node.state));
  const std::set<std::string> node_states = state_set({"ONLINE", "OFFLINE"}, seen);
  MetricFamily node_state = family("tarnex_node_state", "1 for the node's current state, 0 for the others.");
  MetricFamily node_enabled = family("tarnex_node_enabled", "1 when the node is enabled, else 0.");
  std::map<int, std::string> node_names;
  for (const NodeRecord& node : snapshot->nodes) {
    const std::string name = label_text(node.name);
    const std::string id = std::to_string(node.id);
    const std::string state = label_text(node.state);
    if (node.id >= 1 && node.id <= 1023) node_names.emplace(static_cast<int>(node.id), name);
    for (const std::string& candidate : node_states)
      add(node_state, {{"node", name}, {"id", id}, {"state", candidate}}, candidate == state ? 1 : 0);
    add(node_enabled, {{"node", name}, {"id", id}}, node.enabled ? 1 : 0);
  }
  families.push_back(std::move(node_state));
  families.push_back(std::move(node_enabled));

  seen.clear();
  std::vector<std::string> seen_pools;
  for (const ServiceRecord& service : snapshot->services) {
    seen.push_back(label_text(service.state));
    for (const PoolRecord& pool : service.pools)
      seen_pools.push_back(label_text(pool.state));
  }
  const std::set<std::string> service_states =
      state_set({"ONLINE", "STOPPED", "STARTING", "STOPPING", "FAILED"}, seen);
  const std::set<std::string> pool_states =
      state_set({"ONLINE", "DEGRADED", "EXPORTED", "EXPORTING", "IMPORTING"}, seen_pools);
  MetricFamily service_state =
      family("tarnex_service_state", "1 for the service's current state, 0 for the others.");
  MetricFamily service_enabled = family("tarnex_service_enabled", "1 when the service is enabled, else 0.");
  MetricFamily service_placed =
      family("tarnex_service_placed",
             "1 for the node the service is placed on; no series when it is placed nowhere.");
  MetricFamily pool_state = family("tarnex_pool_state", "1 for the pool's current state, 0 for the others.");
  for (const ServiceRecord& service : snapshot->services) {
    const std::string name = label_text(service.name);
    const std::string state = label_text(service.state);
    for (const std::string& candidate : service_states)
      add(service_state, {{"service", name}, {"state", candidate}}, candidate == state ? 1 : 0);
    add(service_enabled, {{"service", name}}, service.enabled ? 1 : 0);
    if (service.node != 0) {
      const auto node = node_names.find(service.node);
      add(service_placed,
          {{"service", name},
           {"node", node == node_names.end() ? "" : node->second},
           {"id", std::to_string(service.node)}},
          1);
    }
    // A pool listed twice gives one set of series: the first listing's.
    std::set<std::string> pools_done;
    for (const PoolRecord& pool : service.pools) {
      const std::string pool_name = label_text(pool.name);
      if (!pools_done.insert(pool_name).second) continue;
      const std::string current = label_text(pool.state);
      for (const std::string& candidate : pool_states) {
        add(pool_state, {{"pool", pool_name}, {"service", name}, {"state", candidate}},
            candidate == current ? 1 : 0);
      }
    }
  }
  families.push_back(std::move(service_state));
  families.push_back(std::move(service_enabled));
  families.push_back(std::move(service_placed));
  families.push_back(std::move(pool_state));
  return families;
}

ClusterCollector::ClusterCollector(Source source) : source_(std::move(source)) {}

std::vector<MetricFamily> ClusterCollector::Collect() const {
  const Clock::time_point asked = source_.now();
  const std::lock_guard<std::mutex> lock(exchange_);
  // An exchange that ended after this scrape came in answers it too.
  if (!last_ || last_->finished < asked) {
    Result result;
    const Clock::time_point start = source_.now();
    std::string error;
    result.snapshot = take_snapshot(source_, &error);
    result.finished = source_.now();
    result.took = result.finished - start;
    if (!result.snapshot) std::fprintf(stderr, "tarnex_exporter: %s\n", error.c_str());
    last_ = std::move(result);
  }
  return metric_families(last_->snapshot, last_->took);
}

int read_exporter_options(const std::vector<std::string>& args, ExporterOptions* options, FILE* out,
                          FILE* err) {
  enum { listen_option = 256, path_option, timeout_option, help_option, version_option };
  // clang-format off
  static const option long_options[] = {
      {"web.listen-address", required_argument, nullptr, listen_option},
      {"web.telemetry-path", required_argument, nullptr, path_option},
      {"timeout",            required_argument, nullptr, timeout_option},
      {"help",               no_argument,       nullptr, help_option},
      {"version",            no_argument,       nullptr, version_option},
      {nullptr,              0,                 nullptr, 0},
  };
  // clang-format on
  ArgumentVector argv(args);
  const auto bad = [&](const std::string& reason) {
    std::fprintf(err, "tarnex_exporter: %s\n", reason.c_str());
    print_usage(err);
    return 2;
  };
  optind = 0;
  opterr = 0;
  for (;;) {
    const int letter = getopt_long(argv.argc(), argv.argv(), ":h", long_options, nullptr);
    if (letter == -1) break;
    switch (letter) {
      case listen_option:
        options->listen_address = optarg;
        break;
      case path_option:
        options->telemetry_path = optarg;
        if (options->telemetry_path.empty() || options->telemetry_path[0] != '/' ||
            options->telemetry_path == "/")
          return bad("the telemetry path starts with '/' and is not '/' itself, not '" + shown(optarg) + "'");
        break;
      case timeout_option: {
        const std::optional<double> seconds = parse_decimal(optarg);
        if (!seconds || *seconds <= 0 || *seconds > 3600) {
          return bad("the timeout is a number of seconds above 0 and at most 3600, not '" + shown(optarg) +
                     "'");
        }
        options->timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(*seconds * 1000)));
        break;
      }
      case 'h':
      case help_option:
        std::fputs("tarnex_exporter " TARNEX_MONITOR_VERSION
                   "\nServes the state of a Tarnex cluster's nodes, services and pools to Prometheus,\n"
                   "asking the cluster daemon on every scrape.\n\n",
                   out);
        print_usage(out);
        std::fputs(
            "\n"
            "  --web.listen-address=ADDRESS  Where to serve HTTP (default :19117)\n"
            "  --web.telemetry-path=PATH     Where the metrics are (default /metrics)\n"
            "  --timeout=SECONDS             Bound on each scrape's requests (default 5)\n"
            "  -h, --help                    Print this help and exit\n"
            "  --version                     Print the version and exit\n"
            "\nThe daemon's endpoint comes from tarnex-viravi.config, searched beside\n"
            "this program, then in /usr/local/etc and /etc.\n",
            out);
        return 0;
      case version_option:
        std::fputs("tarnex_exporter " TARNEX_MONITOR_VERSION "\n", out);
        return 0;
      case ':':
        return bad("option '" + shown(argv[optind - 1]) + "' needs a value");
      default:
        return bad("unknown option '" + shown(argv[optind - 1]) + "'");
    }
  }
  if (optind < argv.argc()) return bad("unexpected argument '" + shown(argv[optind]) + "'");
  return exporter_run;
}

std::string server_address(const std::string& listen_address) {
  if (!listen_address.empty() && listen_address[0] == ':') return listen_address.substr(1);
  return listen_address;
}

std::string landing_page(const std::string& telemetry_path) {
  std::string path;
  for (const char c : telemetry_path) {
    switch (c) {
      case '&':
        path += "&amp;";
        break;
      case '<':
        path += "&lt;";
        break;
      case '>':
        path += "&gt;";
        break;
      case '"':
        path += "&quot;";
        break;
      default:
        path += c;
    }
  }
  return "<!DOCTYPE html>\n<html>\n<head><title>Tarnex exporter</title></head>\n<body>\n<h1>Tarnex "
         "exporter</h1>\n"
         "<p><a href=\"" +
         path + "\">Metrics</a></p>\n</body>\n</html>\n";
}

}  // namespace tarnex::monitor
