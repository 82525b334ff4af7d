#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tarnex::sim {

// The command line of ruxd-sim.
struct SimOptions {
  std::string config_path;          // --config, else the example cluster
  std::optional<std::string> bind;  // --bind, else the configuration's "mgmt-url"
  int delay_ms = 0;                 // --delay-ms: every reply is held back this long
  bool help = false;                // -h, --help
};

inline constexpr int kMaxDelayMs = 3600000;

// Reads the arguments that follow the program name into `options` (which
// holds the defaults). Returns the problem found, or the empty text.
std::string parse_sim_options(const std::vector<std::string>& args, SimOptions& options);

void print_sim_usage(FILE* out, const std::string& default_config);

}  // namespace tarnex::sim
