#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "monitor/snapshot.hpp"

namespace tarnex::monitor {

// The plugin's exit statuses, as every monitoring host reads them.
inline constexpr int check_ok = 0;
inline constexpr int check_warning = 1;
inline constexpr int check_critical = 2;
inline constexpr int check_unknown = 3;

// A threshold range: "10" (outside 0..10), "10:" (below 10), "~:10" (above
// 10), "10:20" (outside 10..20), "@10:20" (inside 10..20) alerts.
struct Range {
  double start = 0;
  double end = std::numeric_limits<double>::infinity();
  bool inside = false;  // "@": alert inside the range instead of outside
  std::string text;     // as given
};

// A range in the guidelines' syntax; nothing when `text` is not one.
std::optional<Range> parse_range(const std::string& text);
bool alerts(const Range& range, double value);

// The range as a perfdata threshold, for a count (a whole number from 0
// up): as given when it alerts outside; an inside range as the outside
// range that alerts for the same counts, or empty when none does (an alert
// band with quiet counts on both sides, like "@1:2"). Perfdata readers take
// no "@".
std::string perfdata_threshold(const std::optional<Range>& range);

// What the command line sets: the plugin's settings.
struct CheckOptions {
  std::chrono::seconds timeout{10};
  // The state when the daemon does not answer within the timeout.
  int timeout_state = check_critical;
  // The daemon's endpoint as given; the settings search finds it when unset.
  std::optional<std::string> endpoint;
  // On the number of enabled services that are not ONLINE.
  std::optional<Range> warning;
  std::optional<Range> critical;
  // On the number of nodes that are not ONLINE or are disabled.
  std::optional<Range> nodes_warning;
  std::optional<Range> nodes_critical;
};

// What the arguments ask for: a check with its settings, the help or the
// version, or nothing, with the reason, for a bad command line.
struct Arguments {
  enum class Action { check, help, version, bad_usage };
  Action action = Action::check;
  CheckOptions options;
  std::string problem;  // for bad_usage, escaped for the first line
};

// Reads the arguments (argv[0] included).
Arguments process_arguments(const std::vector<std::string>& args);

// The first line (without newline, at most max_first_line bytes) and one
// line per problem.
struct CheckReport {
  int status = check_unknown;
  std::string first_line;
  std::vector<std::string> problems;
};

inline constexpr std::size_t max_first_line = 4096;

// One check's share of the report: its state, its part of the summary and
// of the perfdata, and its problem lines.
struct CheckPart {
  int status = check_ok;
  std::string summary;
  std::string perfdata;
  std::vector<std::string> problems;
};

CheckPart check_nodes(const Snapshot& snapshot, const CheckOptions& options);
CheckPart check_services(const Snapshot& snapshot, const CheckOptions& options);
// The worse state of the two, their summaries (services first), their
// problems and perfdata (nodes first), and the time the snapshot took.
CheckReport verdict(const CheckPart& nodes, const CheckPart& services, std::chrono::nanoseconds took);

// Every check over one snapshot, then the verdict.
CheckReport judge(const Snapshot& snapshot, const CheckOptions& options);
// A run that ends without a snapshot: `reason`'s first line on the first
// line, the others as problem lines, each escaped for the monitoring host.
CheckReport failure_report(int status, const std::string& reason);
CheckReport unknown_report(const std::string& reason);

// What the plugin runs with besides its arguments.
struct CheckEnvironment {
  FILE* out = nullptr;
  Transport* transport = nullptr;
  std::filesystem::path program_dir;  // where the settings search starts
  Now now = Clock::now;
  // Told the run's timeout once the arguments are read (the program sets an
  // alarm a second beyond it).
  std::function<void(std::chrono::seconds)> timeout_known;
};

// The whole plugin: reads the arguments, finds the daemon, takes a snapshot
// within the timeout, writes the report and returns its status: UNKNOWN for
// the help, the version, a bad command line, no daemon to ask, a failed
// exchange, an unreadable reply or a report that cannot be written; the
// timeout's state when the daemon does not answer in time.
int run_check(const std::vector<std::string>& args, const CheckEnvironment& environment);

}  // namespace tarnex::monitor
