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
  std::string text;     // as given, for the perfdata
};

// A range in the guidelines' syntax; nothing when `text` is not one.
std::optional<Range> parse_range(const std::string& text);
bool alerts(const Range& range, double value);

struct CheckOptions {
  std::chrono::seconds timeout{10};
  // On the number of enabled services that are not ONLINE.
  std::optional<Range> warning;
  std::optional<Range> critical;
  // On the number of nodes that are not ONLINE or are disabled.
  std::optional<Range> nodes_warning;
  std::optional<Range> nodes_critical;
};

// The first line (without newline, at most max_first_line bytes) and one
// line per problem.
struct CheckReport {
  int status = check_unknown;
  std::string first_line;
  std::vector<std::string> problems;
};

inline constexpr std::size_t max_first_line = 4096;

CheckReport judge(const Snapshot& snapshot, const CheckOptions& options);
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

// The whole plugin: reads the arguments (argv[0] included), finds the
// daemon, takes a snapshot within the timeout, writes the report and returns
// its status.
int run_check(const std::vector<std::string>& args, const CheckEnvironment& environment);

}  // namespace tarnex::monitor
