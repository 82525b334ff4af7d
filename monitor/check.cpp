#include "monitor/check.hpp"

#include <getopt.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "base/argument_vector.hpp"

namespace tarnex::monitor {
namespace {

// The states' words, by status: the first line spells them so, and `-t`
// takes them in any case.
const char* state_word(int status) {
  static constexpr const char* words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  return words[status];
}

// The length of the valid UTF-8 sequence that starts at `at`: 1 for ASCII,
// 0 when none starts there.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 4;
  unsigned char low = 0x80;  // the second byte's range: no overlong form, surrogate or beyond U+10FFFF
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (text.size() - at < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// A text from the daemon, a file or the command line on the plugin's
// output: no control character, no byte that is not UTF-8 (both as "\x"
// and two hex digits), and no "|", which would start the perfdata.
std::string plugin_text(const std::string& text) {
  static constexpr char digits[] = "0123456789abcdef";
  const std::string visible = shown(text);
  std::string safe;
  safe.reserve(visible.size());
  for (std::size_t at = 0; at < visible.size();) {
    const std::size_t length = utf8_length(visible, at);
    const auto byte = static_cast<unsigned char>(visible[at]);
    if (length == 0 || byte == '|') {
      safe += "\\x";
      safe += digits[byte >> 4];
      safe += digits[byte & 0x0F];
      ++at;
    } else {
      safe.append(visible, at, length);
      at += length;
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

std::string perf_item(const std::string& label, std::size_t value, const std::optional<Range>& warning,
                      const std::optional<Range>& critical, std::size_t max) {
  return "'" + label + "'=" + std::to_string(value) + ";" + perfdata_threshold(warning) + ";" +
         perfdata_threshold(critical) + ";0;" + std::to_string(max);
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

// "N <what> ONLINE" when none is bad, else "B of N <what> <bad> (names)".
std::string count_summary(std::size_t total, const std::vector<std::string>& bad, const std::string& what,
                          const std::string& bad_words) {
  if (bad.empty()) return std::to_string(total) + " " + what + " ONLINE";
  return std::to_string(bad.size()) + " of " + std::to_string(total) + " " + what + " " + bad_words + " (" +
         names(bad) + ")";
}

std::string node_name(const Snapshot& snapshot, int id) {
  const auto found = std::find_if(snapshot.nodes.begin(), snapshot.nodes.end(),
                                  [id](const NodeRecord& node) { return node.id == id; });
  return "node " + std::to_string(id) +
         (found == snapshot.nodes.end() ? std::string() : " (" + plugin_text(found->name) + ")");
}

// What the problem line says of an enabled service that is not ONLINE or is
// placed on no node.
std::string service_problem(const Snapshot& snapshot, const ServiceRecord& service) {
  const std::string start = "service " + plugin_text(service.name) + ": ";
  if (service.error) return start + "state unknown, the daemon reports an error";
  return start + plugin_text(service.state) +
         (placed_node(service.run_node) == 0 ? ", placed on no node"
                                             : " on " + node_name(snapshot, placed_node(service.run_node)));
}

void print_usage(FILE* out) {
  std::fputs(
      "Usage: check_tarnex [-E URL] [-t SECONDS[:STATE]] [-w RANGE] [-c RANGE]\n"
      "                    [--nodes-warning RANGE] [--nodes-critical RANGE]\n"
      "       check_tarnex -h | -V\n",
      out);
}

void print_options(FILE* out) {
  std::fputs(
      "\nOptions:\n"
      " -h, --help                 Print this help and exit\n"
      " -V, --version              Print the version and exit\n"
      " -E, --endpoint=URL         The daemon's endpoint; no settings file is read\n"
      " -t, --timeout=SECONDS[:STATE]\n"
      "                            Bound on the whole run (default 10) and the state\n"
      "                            when the daemon does not answer within it: ok,\n"
      "                            warning, critical (default) or unknown\n"
      " -w, --warning=RANGE        WARNING when the number of enabled services that\n"
      "                            are not ONLINE is outside RANGE\n"
      " -c, --critical=RANGE       CRITICAL likewise (default: CRITICAL from one up)\n"
      "     --nodes-warning=RANGE  WARNING when the number of nodes that are not\n"
      "                            ONLINE or are disabled is outside RANGE\n"
      "     --nodes-critical=RANGE CRITICAL likewise (default: WARNING from one up)\n",
      out);
}

void print_help(FILE* out) {
  std::fputs("check_tarnex " TARNEX_PACKAGE_VERSION
             "\n"
             "Checks the nodes and services of a Tarnex cluster through its daemon.\n\n",
             out);
  print_usage(out);
  print_options(out);
  std::fputs(
      "\nThresholds:\n"
      " RANGE is 'N' (alert outside 0..N), 'N:' (below N), '~:N' (above N),\n"
      " 'M:N' (outside M..N) or '@M:N' (inside M..N). No node ONLINE is always\n"
      " CRITICAL; a service whose state the daemon cannot tell counts as not\n"
      " ONLINE. No reply within the timeout is CRITICAL unless -t names another\n"
      " state; a configuration that cannot be used, a failed exchange or a reply\n"
      " that cannot be read is UNKNOWN.\n"
      "\nThe daemon's endpoint comes from -E, else from tarnex-viravi.config,\n"
      "searched beside this program, then in /usr/local/etc and /etc.\n",
      out);
}

// The run's status, or UNKNOWN when standard output did not take what was
// written to it: the monitoring host would read nothing.
int written(FILE* out, int status) {
  if (std::fflush(out) != 0 || std::ferror(out) != 0) return check_unknown;
  return status;
}

int print_report(FILE* out, const CheckReport& report) {
  std::fputs(report.first_line.c_str(), out);
  std::fputc('\n', out);
  for (const std::string& line : report.problems) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
  }
  return written(out, report.status);
}

enum { nodes_warning_option = 256, nodes_critical_option };

const option* long_options() {
  // clang-format off
  static const option options[] = {
      {"endpoint",       required_argument, nullptr, 'E'},
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
  return options;
}

// "SECONDS" or "SECONDS:STATE" into the options; false with the reason when
// it is neither.
bool read_timeout(const std::string& text, CheckOptions& options, std::string* problem) {
  const std::size_t colon = text.find(':');
  const std::optional<double> seconds = parse_decimal(text.substr(0, colon));
  if (!seconds || *seconds < 1 || *seconds > 3600 || *seconds != std::floor(*seconds)) {
    *problem = "the timeout is a whole number of seconds from 1 to 3600, not '" + plugin_text(text) + "'";
    return false;
  }
  options.timeout = std::chrono::seconds(static_cast<int>(*seconds));
  if (colon == std::string::npos) return true;
  const std::string state = text.substr(colon + 1);
  for (int status = check_ok; status <= check_unknown; ++status) {
    if (strcasecmp(state.c_str(), state_word(status)) != 0) continue;
    options.timeout_state = status;
    return true;
  }
  *problem = "the timeout's state is ok, warning, critical or unknown, not '" + plugin_text(state) + "'";
  return false;
}

// One option's value into the options; false with the reason when the
// option does not take it.
bool read_value(int letter, const std::string& value, CheckOptions& options, std::string* problem) {
  if (letter == 't') return read_timeout(value, options, problem);
  if (letter == 'E') {
    if (value.empty()) *problem = "the endpoint is empty";
    options.endpoint = value;
    return !value.empty();
  }
  std::optional<Range>& range = letter == 'w'                    ? options.warning
                                : letter == 'c'                  ? options.critical
                                : letter == nodes_warning_option ? options.nodes_warning
                                                                 : options.nodes_critical;
  range = parse_range(value);
  if (!range) *problem = "'" + plugin_text(value) + "' is not a threshold range";
  return range.has_value();
}

Arguments bad_arguments(std::string problem) {
  Arguments arguments;
  arguments.action = Arguments::Action::bad_usage;
  arguments.problem = std::move(problem);
  return arguments;
}

// Asks the daemon and judges its answer.
CheckReport check_cluster(const CheckOptions& options, const CheckEnvironment& environment,
                          Clock::time_point start) {
  std::string error;
  std::optional<std::string> endpoint = options.endpoint;
  if (!endpoint) endpoint = find_endpoint(environment.program_dir, &error);
  if (!endpoint) return unknown_report(error);
  // The exchange gets what is left of the run's bound.
  const Source source{environment.transport, *endpoint, options.timeout, environment.now, start};
  bool silent = false;
  const std::optional<Snapshot> snapshot = take_snapshot(source, &error, &silent);
  if (snapshot) return judge(*snapshot, options);
  return failure_report(silent ? options.timeout_state : check_unknown, error);
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

std::string perfdata_threshold(const std::optional<Range>& range) {
  if (!range) return "";
  if (!range->inside) return range->text;
  // The counts it alerts for are low..high.
  const double low = std::max(0.0, std::ceil(range->start));
  const double high = std::floor(range->end);
  if (low > high) return "0:";  // none
  if (std::isinf(high)) return low == 0 ? "~:-1" : "~:" + decimal(low - 1);
  if (low == 0) return decimal(high + 1) + ":";
  return "";
}

Arguments process_arguments(const std::vector<std::string>& args) {
  ArgumentVector argv(args);
  Arguments arguments;
  optind = 0;
  opterr = 0;
  for (;;) {
    const int letter = getopt_long(argv.argc(), argv.argv(), ":E:t:w:c:Vh", long_options(), nullptr);
    if (letter == -1) break;
    if (letter == 'h' || letter == 'V') {
      arguments.action = letter == 'h' ? Arguments::Action::help : Arguments::Action::version;
      return arguments;
    }
    if (letter == ':') return bad_arguments("option '" + plugin_text(argv[optind - 1]) + "' needs a value");
    if (letter == '?') return bad_arguments("unknown option '" + plugin_text(argv[optind - 1]) + "'");
    std::string problem;
    if (!read_value(letter, optarg, arguments.options, &problem)) return bad_arguments(problem);
  }
  if (optind < argv.argc()) return bad_arguments("unexpected argument '" + plugin_text(argv[optind]) + "'");
  return arguments;
}

CheckReport failure_report(int status, const std::string& reason) {
  CheckReport report;
  report.status = status;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = reason.find('\n', start);
    const std::string line =
        plugin_text(reason.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (start == 0) {
      report.first_line = first_line(status, line, "");
    } else {
      report.problems.push_back(line);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return report;
}

CheckReport unknown_report(const std::string& reason) {
  return failure_report(check_unknown, reason);
}

CheckPart check_nodes(const Snapshot& snapshot, const CheckOptions& options) {
  CheckPart part;
  std::size_t online = 0;
  std::size_t enabled = 0;
  std::vector<std::string> bad;
  for (const NodeRecord& node : snapshot.nodes) {
    const bool is_online = node_state(node.state) == NodeState::online;
    online += is_online ? 1 : 0;
    enabled += node.enabled ? 1 : 0;
    if (is_online && node.enabled) continue;
    bad.push_back(plugin_text(node.name));
    part.problems.push_back("node " + bad.back() + " (" + std::to_string(node.id) +
                            "): " + plugin_text(node.state) + ", " + (node.enabled ? "enabled" : "disabled"));
  }
  const std::size_t count = snapshot.nodes.size();
  part.status = count_status(bad.size(), options.nodes_warning, options.nodes_critical, check_warning);
  if (online == 0) part.status = check_critical;
  part.summary = count_summary(count, bad, "nodes", "not ONLINE or disabled");
  part.perfdata =
      perf_item("nodes_online", online, {}, {}, count) + " " +
      perf_item("nodes_enabled", enabled, {}, {}, count) + " " +
      perf_item("nodes_not_ready", bad.size(), options.nodes_warning, options.nodes_critical, count);
  return part;
}

// A service record with an error is enabled and not ONLINE as far as the
// plugin can tell: its state is unknown.
CheckPart check_services(const Snapshot& snapshot, const CheckOptions& options) {
  CheckPart part;
  std::size_t online = 0;
  std::size_t enabled = 0;
  std::vector<std::string> bad;
  bool unplaced = false;
  for (const ServiceRecord& service : snapshot.services) {
    const bool is_online = !service.error && service_state(service.state) == ServiceState::online;
    online += is_online ? 1 : 0;
    if (!service.enabled && !service.error) continue;
    ++enabled;
    if (is_online && placed_node(service.run_node) != 0) continue;
    if (!is_online) bad.push_back(plugin_text(service.name));
    unplaced = unplaced || (!service.error && placed_node(service.run_node) == 0);
    part.problems.push_back(service_problem(snapshot, service));
  }
  part.status = count_status(bad.size(), options.warning, options.critical, check_critical);
  if (unplaced) part.status = std::max(part.status, check_warning);
  part.summary = count_summary(enabled, bad, "enabled services", "not ONLINE");
  const std::size_t count = snapshot.services.size();
  part.perfdata = perf_item("services_online", online, {}, {}, count) + " " +
                  perf_item("services_enabled", enabled, {}, {}, count) + " " +
                  perf_item("services_not_online", bad.size(), options.warning, options.critical, enabled);
  return part;
}

CheckReport verdict(const CheckPart& nodes, const CheckPart& services, std::chrono::nanoseconds took) {
  CheckReport report;
  report.status = std::max(nodes.status, services.status);
  report.problems = nodes.problems;
  report.problems.insert(report.problems.end(), services.problems.begin(), services.problems.end());
  const std::string perfdata = nodes.perfdata + " " + services.perfdata +
                               " 'time'=" + decimal(std::chrono::duration<double>(took).count()) + "s;;;0;";
  report.first_line = first_line(report.status, services.summary + ", " + nodes.summary, perfdata);
  return report;
}

CheckReport judge(const Snapshot& snapshot, const CheckOptions& options) {
  return verdict(check_nodes(snapshot, options), check_services(snapshot, options), snapshot.took);
}

int run_check(const std::vector<std::string>& args, const CheckEnvironment& environment) {
  const Clock::time_point start = environment.now();
  FILE* out = environment.out;
  const Arguments arguments = process_arguments(args);
  switch (arguments.action) {
    case Arguments::Action::help:
      print_help(out);
      return written(out, check_unknown);
    case Arguments::Action::version:
      std::fputs(version_line("check_tarnex").c_str(), out);
      return written(out, check_unknown);
    case Arguments::Action::bad_usage:
      print_report(out, unknown_report(arguments.problem));
      print_usage(out);
      return written(out, check_unknown);
    case Arguments::Action::check:
      break;
  }
  if (environment.timeout_known) environment.timeout_known(arguments.options.timeout);
  return print_report(out, check_cluster(arguments.options, environment, start));
}

}  // namespace tarnex::monitor
