#include "monitor/check.hpp"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/argument_vector.hpp"

namespace tarnex::monitor {
namespace {

const char* state_word(int status) {
  static constexpr const char* words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  return words[status];
}

// A daemon text on the plugin's output: no control character, and no "|",
// which would start the perfdata.
std::string plugin_text(const std::string& text) {
  std::string safe;
  for (const char c : shown(text)) {
    if (c == '|') {
      safe += "\\x7c";
    } else {
      safe += c;
    }
  }
  return safe;
}

// A decimal without exponent: whole numbers as they are, others to the
// microsecond.
std::string decimal(double value) {
  char text[64];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%.6f", value);
  }
  return text;
}

std::string perf_item(const std::string& label, const std::string& value, const std::optional<Range>& warning,
                      const std::optional<Range>& critical, std::size_t max) {
  return "'" + label + "'=" + value + ";" + (warning ? warning->text : "") + ";" +
         (critical ? critical->text : "") + ";0;" + std::to_string(max);
}

// The status of a count: by the ranges when either is given, else by the
// default rule (`fallback` from the first one up).
int count_status(std::size_t count, const std::optional<Range>& warning, const std::optional<Range>& critical,
                 int fallback) {
  if (!warning && !critical) return count > 0 ? fallback : check_ok;
  const double value = static_cast<double>(count);
  if (critical && alerts(*critical, value)) return check_critical;
  if (warning && alerts(*warning, value)) return check_warning;
  return check_ok;
}

// Cuts `text` to at most `size` bytes on a UTF-8 character boundary, marking
// the cut with "...".
std::string cut(const std::string& text, std::size_t size) {
  if (text.size() <= size) return text;
  std::size_t keep = size >= 3 ? size - 3 : 0;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80)
    --keep;
  return text.substr(0, keep) + "...";
}

std::string first_line(int status, const std::string& summary, const std::string& perfdata) {
  const std::string prefix = std::string("TARNEX ") + state_word(status) + " - ";
  const std::string suffix = perfdata.empty() ? "" : " | " + perfdata;
  const std::size_t room = max_first_line - std::min(max_first_line, prefix.size() + suffix.size());
  return prefix + cut(summary, room) + suffix;
}

std::string names(const std::vector<std::string>& list) {
  std::string text;
  for (const std::string& name : list)
    text += (text.empty() ? "" : ", ") + name;
  return text;
}

void print_usage(FILE* out) {
  std::fputs(
      "Usage: check_tarnex [-t SECONDS] [-w RANGE] [-c RANGE] [--nodes-warning RANGE]\n"
      "                    [--nodes-critical RANGE]\n"
      "       check_tarnex -h | -V\n",
      out);
}

void print_help(FILE* out) {
  std::fputs("check_tarnex " TARNEX_MONITOR_VERSION
             "\n"
             "Checks the nodes and services of a Tarnex cluster through its daemon.\n\n",
             out);
  print_usage(out);
  std::fputs(
      "\nOptions:\n"
      " -h, --help                 Print this help and exit\n"
      " -V, --version              Print the version and exit\n"
      " -t, --timeout=SECONDS      Bound on the whole run (default 10)\n"
      " -w, --warning=RANGE        WARNING when the number of enabled services that\n"
      "                            are not ONLINE is outside RANGE\n"
      " -c, --critical=RANGE       CRITICAL likewise (default: CRITICAL from one up)\n"
      "     --nodes-warning=RANGE  WARNING when the number of nodes that are not\n"
      "                            ONLINE or are disabled is outside RANGE\n"
      "     --nodes-critical=RANGE CRITICAL likewise (default: WARNING from one up)\n"
      "\nThresholds:\n"
      " RANGE is 'N' (alert outside 0..N), 'N:' (below N), '~:N' (above N),\n"
      " 'M:N' (outside M..N) or '@M:N' (inside M..N). No node ONLINE is always\n"
      " CRITICAL; a configuration that cannot be used, no reply within the\n"
      " timeout or a reply that cannot be read is UNKNOWN.\n"
      "\nThe daemon's endpoint comes from tarnex-viravi.config, searched beside\n"
      "this program, then in /usr/local/etc and /etc.\n",
      out);
}

int print_report(FILE* out, const CheckReport& report) {
  std::fprintf(out, "%s\n", report.first_line.c_str());
  for (const std::string& line : report.problems)
    std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
  return report.status;
}

int bad_usage(FILE* out, const std::string& reason) {
  print_report(out, unknown_report(reason));
  print_usage(out);
  return check_unknown;
}

}  // namespace

std::optional<Range> parse_range(const std::string& text) {
  Range range;
  range.text = text;
  std::string rest = text;
  if (!rest.empty() && rest[0] == '@') {
    range.inside = true;
    rest.erase(0, 1);
  }
  const std::size_t colon = rest.find(':');
  if (colon == std::string::npos) {
    const std::optional<double> end = parse_decimal(rest);
    if (!end) return std::nullopt;
    range.end = *end;
  } else {
    const std::string start = rest.substr(0, colon);
    const std::string end = rest.substr(colon + 1);
    if (start == "~") {
      range.start = -std::numeric_limits<double>::infinity();
    } else {
      const std::optional<double> value = parse_decimal(start);
      if (!value) return std::nullopt;
      range.start = *value;
    }
    if (!end.empty()) {
      const std::optional<double> value = parse_decimal(end);
      if (!value) return std::nullopt;
      range.end = *value;
    }
  }
  if (range.start > range.end) return std::nullopt;
  return range;
}

bool alerts(const Range& range, double value) {
  const bool within = value >= range.start && value <= range.end;
  return range.inside ? within : !within;
}

CheckReport unknown_report(const std::string& reason) {
  CheckReport report;
  report.status = check_unknown;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = reason.find('\n', start);
    const std::string line = reason.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (start == 0) {
      report.first_line = first_line(check_unknown, line, "");
    } else {
      report.problems.push_back(line);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return report;
}

CheckReport judge(const Snapshot& snapshot, const CheckOptions& options) {
  CheckReport report;
  std::size_t nodes_online = 0;
  std::size_t nodes_enabled = 0;
  std::vector<std::string> bad_nodes;
  for (const NodeRecord& node : snapshot.nodes) {
    const bool online = node.state == "ONLINE";
    nodes_online += online ? 1 : 0;
    nodes_enabled += node.enabled ? 1 : 0;
    if (online && node.enabled) continue;
    const std::string name = plugin_text(node.name);
    bad_nodes.push_back(name);
    report.problems.push_back("node " + name + " (" + std::to_string(node.id) + "): " +
                              plugin_text(node.state) + ", " + (node.enabled ? "enabled" : "disabled"));
  }
  const auto node_name = [&](int id) {
    const auto found = std::find_if(snapshot.nodes.begin(), snapshot.nodes.end(),
                                    [id](const NodeRecord& node) { return node.id == id; });
    return "node " + std::to_string(id) +
           (found == snapshot.nodes.end() ? std::string() : " (" + plugin_text(found->name) + ")");
  };

  std::size_t services_online = 0;
  std::size_t services_enabled = 0;
  std::vector<std::string> bad_services;
  bool unplaced = false;
  for (const ServiceRecord& service : snapshot.services) {
    const bool online = service.state == "ONLINE";
    services_online += online ? 1 : 0;
    if (!service.enabled) continue;
    ++services_enabled;
    if (online && service.node != 0) continue;
    const std::string name = plugin_text(service.name);
    if (!online) bad_services.push_back(name);
    unplaced = unplaced || service.node == 0;
    report.problems.push_back("service " + name + ": " + plugin_text(service.state) +
                              (service.node == 0 ? ", placed on no node" : " on " + node_name(service.node)));
  }

  int status = count_status(bad_services.size(), options.warning, options.critical, check_critical);
  status = std::max(
      status, count_status(bad_nodes.size(), options.nodes_warning, options.nodes_critical, check_warning));
  if (unplaced) status = std::max(status, check_warning);
  if (nodes_online == 0) status = check_critical;
  report.status = status;

  const std::string services_text =
      bad_services.empty() ? std::to_string(services_enabled) + " enabled services ONLINE"
                           : std::to_string(bad_services.size()) + " of " + std::to_string(services_enabled) +
                                 " enabled services not ONLINE (" + names(bad_services) + ")";
  const std::string nodes_text =
      bad_nodes.empty() ? std::to_string(snapshot.nodes.size()) + " nodes ONLINE"
                        : std::to_string(bad_nodes.size()) + " of " + std::to_string(snapshot.nodes.size()) +
                              " nodes not ONLINE or disabled (" + names(bad_nodes) + ")";
  const std::size_t node_count = snapshot.nodes.size();
  const std::size_t service_count = snapshot.services.size();
  const std::string perfdata =
      perf_item("nodes_online", std::to_string(nodes_online), {}, {}, node_count) + " " +
      perf_item("nodes_enabled", std::to_string(nodes_enabled), {}, {}, node_count) + " " +
      perf_item("nodes_not_ready", std::to_string(bad_nodes.size()), options.nodes_warning,
                options.nodes_critical, node_count) +
      " " + perf_item("services_online", std::to_string(services_online), {}, {}, service_count) + " " +
      perf_item("services_enabled", std::to_string(services_enabled), {}, {}, service_count) + " " +
      perf_item("services_not_online", std::to_string(bad_services.size()), options.warning, options.critical,
                services_enabled) +
      " 'time'=" + decimal(std::chrono::duration<double>(snapshot.took).count()) + "s;;;0;";
  report.first_line = first_line(status, services_text + ", " + nodes_text, perfdata);
  return report;
}

int run_check(const std::vector<std::string>& args, const CheckEnvironment& environment) {
  const Clock::time_point start = environment.now();
  FILE* out = environment.out;
  enum { nodes_warning_option = 256, nodes_critical_option };
  // clang-format off
  static const option long_options[] = {
      {"timeout",        required_argument, nullptr, 't'},
      {"warning",        required_argument, nullptr, 'w'},
      {"critical",       required_argument, nullptr, 'c'},
      {"nodes-warning",  required_argument, nullptr, nodes_warning_option},
      {"nodes-critical", required_argument, nullptr, nodes_critical_option},
      {"version",        no_argument,       nullptr, 'V'},
      {"help",           no_argument,       nullptr, 'h'},
      {nullptr,          0,                 nullptr, 0},
  };
  // clang-format on
  ArgumentVector argv(args);

  CheckOptions options;
  optind = 0;
  opterr = 0;
  for (;;) {
    const int letter = getopt_long(argv.argc(), argv.argv(), ":t:w:c:Vh", long_options, nullptr);
    if (letter == -1) break;
    std::optional<Range>* range = nullptr;
    switch (letter) {
      case 'h':
        print_help(out);
        return check_ok;
      case 'V':
        std::fputs("check_tarnex " TARNEX_MONITOR_VERSION "\n", out);
        return check_ok;
      case 't': {
        const std::optional<double> seconds = parse_decimal(optarg);
        if (!seconds || *seconds < 1 || *seconds > 3600 || *seconds != std::floor(*seconds)) {
          return bad_usage(out, "the timeout is a whole number of seconds from 1 to 3600, not '" +
                                    plugin_text(optarg) + "'");
        }
        options.timeout = std::chrono::seconds(static_cast<int>(*seconds));
        break;
      }
      case 'w':
        range = &options.warning;
        break;
      case 'c':
        range = &options.critical;
        break;
      case nodes_warning_option:
        range = &options.nodes_warning;
        break;
      case nodes_critical_option:
        range = &options.nodes_critical;
        break;
      case ':':
        return bad_usage(out, "option '" + plugin_text(argv[optind - 1]) + "' needs a value");
      default:
        return bad_usage(out, "unknown option '" + plugin_text(argv[optind - 1]) + "'");
    }
    if (range != nullptr) {
      *range = parse_range(optarg);
      if (!*range) return bad_usage(out, "'" + plugin_text(optarg) + "' is not a threshold range");
    }
  }
  if (optind < argv.argc()) return bad_usage(out, "unexpected argument '" + plugin_text(argv[optind]) + "'");

  if (environment.timeout_known) environment.timeout_known(options.timeout);
  std::string error;
  const std::optional<std::string> endpoint = find_endpoint(environment.program_dir, &error);
  if (!endpoint) return print_report(out, unknown_report(error));
  // The exchange gets what is left of the run's bound.
  const Source source{environment.transport, *endpoint, options.timeout, environment.now, start};
  const std::optional<Snapshot> snapshot = take_snapshot(source, &error);
  if (!snapshot) return print_report(out, unknown_report(error));
  return print_report(out, judge(*snapshot, options));
}

}  // namespace tarnex::monitor
