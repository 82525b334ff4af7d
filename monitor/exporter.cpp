#include "monitor/exporter.hpp"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "base/argument_vector.hpp"
#include "monitor/exporter_metrics.hpp"

namespace tarnex::monitor {
namespace {

using std::chrono::milliseconds;

enum {
  listen_option = 256,
  path_option,
  max_requests_option,
  endpoint_option,
  timeout_option,
  help_option,
  version_option
};

void print_usage(FILE* out) {
  std::fputs(
      "Usage: tarnex_exporter [--web.listen-address=ADDRESS] [--web.telemetry-path=PATH]\n"
      "                       [--web.max-requests=N] [--ruxd.endpoint=URL] [--timeout=SECONDS]\n"
      "       tarnex_exporter --help | --version\n",
      out);
}

void print_help(FILE* out) {
  std::fputs("tarnex_exporter " TARNEX_PACKAGE_VERSION
             "\nServes the state of a Tarnex cluster's nodes, services and pools to Prometheus,\n"
             "asking the cluster daemon on every scrape.\n\n",
             out);
  print_usage(out);
  std::fputs(
      "\n"
      "  --web.listen-address=ADDRESS  Where to serve HTTP: :PORT, HOST:PORT or [ADDRESS]:PORT\n"
      "                                (default :19117)\n"
      "  --web.telemetry-path=PATH     Where the metrics are (default /metrics)\n"
      "  --web.max-requests=N          Requests served at once; more get 503 (default 40)\n"
      "  --ruxd.endpoint=URL           The daemon's endpoint; no settings file is read\n"
      "  --timeout=SECONDS             Bound on each scrape's requests (default 5)\n"
      "  -h, --help                    Print this help and exit\n"
      "  --version                     Print the version and exit\n"
      "\nWithout --ruxd.endpoint the daemon's endpoint comes from tarnex-viravi.config,\n"
      "searched beside this program, then in /usr/local/etc and /etc, at every scrape.\n",
      out);
}

// A path a request can name: it starts with '/', is not "/" itself, and
// holds no space, control character, '?' or '#'.
bool reachable_path(const std::string& path) {
  return path.size() > 1 && path[0] == '/' && std::none_of(path.begin(), path.end(), [](char c) {
           const auto byte = static_cast<unsigned char>(c);
           return byte <= 0x20 || byte == 0x7F || c == '?' || c == '#';
         });
}

// Takes one option's value: nothing, or the reason it is refused.
std::optional<std::string> take_value(int option, const std::string& value, ExporterOptions* options) {
  switch (option) {
    case listen_option:
      options->listen_address = value;
      if (parse_listen_address(value)) return std::nullopt;
      return "the listen address is one :PORT, HOST:PORT or [ADDRESS]:PORT, not '" + shown(value) + "'";
    case path_option:
      options->telemetry_path = value;
      if (reachable_path(value)) return std::nullopt;
      return "the telemetry path starts with '/', is not '/' itself and holds no space, '?' or '#', not '" +
             shown(value) + "'";
    case max_requests_option: {
      const char* end = value.data() + value.size();
      const auto [stop, failure] = std::from_chars(value.data(), end, options->max_requests);
      if (failure == std::errc{} && stop == end && options->max_requests >= 1 &&
          options->max_requests <= 10000)
        return std::nullopt;
      return "the number of requests served at once is from 1 to 10000, not '" + shown(value) + "'";
    }
    case endpoint_option:
      options->endpoint = value;
      if (!value.empty()) return std::nullopt;
      return std::string("the daemon's endpoint is not empty");
    default: {
      const std::optional<double> seconds = parse_decimal(value);
      if (!seconds || *seconds <= 0 || *seconds > 3600)
        return "the timeout is a number of seconds above 0 and at most 3600, not '" + shown(value) + "'";
      options->timeout = milliseconds(static_cast<std::int64_t>(std::ceil(*seconds * 1000)));
      return std::nullopt;
    }
  }
}

}  // namespace

int read_exporter_options(const std::vector<std::string>& args, ExporterOptions* options, FILE* out,
                          FILE* err) {
  // clang-format off
  static const option long_options[] = {
      {"web.listen-address", required_argument, nullptr, listen_option},
      {"web.telemetry-path", required_argument, nullptr, path_option},
      {"web.max-requests",   required_argument, nullptr, max_requests_option},
      {"ruxd.endpoint",      required_argument, nullptr, endpoint_option},
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
  for (int letter = 0; (letter = getopt_long(argv.argc(), argv.argv(), ":h", long_options, nullptr)) != -1;) {
    if (letter == 'h' || letter == help_option) {
      print_help(out);
      return 0;
    }
    if (letter == version_option) {
      std::fputs(version_line("tarnex_exporter").c_str(), out);
      return 0;
    }
    if (letter == ':') return bad("option '" + shown(argv[optind - 1]) + "' needs a value");
    if (letter < listen_option) return bad("unknown option '" + shown(argv[optind - 1]) + "'");
    if (const std::optional<std::string> reason = take_value(letter, optarg, options)) return bad(*reason);
  }
  if (optind < argv.argc()) return bad("unexpected argument '" + shown(argv[optind]) + "'");
  return exporter_run;
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

milliseconds scrape_bound(milliseconds timeout, std::optional<double> header) {
  if (!header || *header <= 0.5 || *header > 3600) return timeout;
  const milliseconds waits(static_cast<std::int64_t>(std::floor((*header - 0.5) * 1000)));
  return waits.count() > 0 ? std::min(timeout, waits) : timeout;
}

Scrapes::Scrapes(Transport* transport, FindEndpoint find_endpoint, Now now, FILE* log)
    : transport_(transport), find_endpoint_(std::move(find_endpoint)), now_(std::move(now)), log_(log) {}

std::shared_ptr<const Body> Scrapes::page(Clock::time_point arrived, milliseconds bound,
                                          const std::function<bool()>& client_gone) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (running_) {
    const std::uint64_t running = exchanges_ + 1;
    ++waiting_;
    finished_.wait(lock, [&] { return exchanges_ >= running; });
    --waiting_;
    return last_;
  }
  if (client_gone()) return nullptr;
  running_ = true;
  lock.unlock();
  std::shared_ptr<const Body> page;
  try {
    page = exchange(arrived, bound);
  } catch (...) {
    lock.lock();
    running_ = false;
    throw;
  }
  lock.lock();
  running_ = false;
  ++exchanges_;
  last_ = page;
  finished_.notify_all();
  return page;
}

std::size_t Scrapes::waiting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

std::shared_ptr<const Body> Scrapes::exchange(Clock::time_point since, milliseconds bound) {
  const Clock::time_point start = now_();
  std::string problem;
  std::optional<Snapshot> snapshot;
  if (const std::optional<std::string> endpoint = find_endpoint_(&problem))
    snapshot = take_snapshot(Source{transport_, *endpoint, bound, now_, since}, &problem);
  note(snapshot ? "" : problem);
  const Scrape scrape{snapshot ? &*snapshot : nullptr, now_() - start};
  return std::make_shared<const Body>(exposition_page(scrape));
}

void Scrapes::note(const std::string& problem) {
  if (problem == last_problem_) return;
  last_problem_ = problem;
  if (problem.empty()) return;
  std::fprintf(log_, "tarnex_exporter: %s\n", problem.c_str());
  std::fflush(log_);
}

HttpResponse answer(const HttpRequest& request, const ExporterOptions& options, Scrapes& scrapes,
                    const std::function<bool()>& client_gone) {
  if (request.method != "GET" && request.method != "HEAD") return {405, "", nullptr, "Allow: GET, HEAD\r\n"};
  if (request.path == "/") {
    return {200, "text/html; charset=utf-8",
            std::make_shared<const Body>(Body{landing_page(options.telemetry_path)}), ""};
  }
  if (request.path != options.telemetry_path) return {404, "text/plain; charset=utf-8", nullptr, ""};
  std::shared_ptr<const Body> page =
      scrapes.page(request.arrived, scrape_bound(options.timeout, request.scrape_timeout), client_gone);
  if (!page) return {503, "", nullptr, ""};
  return {200, "text/plain; version=0.0.4; charset=utf-8", std::move(page), ""};
}

}  // namespace tarnex::monitor
