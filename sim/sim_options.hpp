#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tarnex::sim {

// The command line of ruxd-sim.
struct SimOptions {
  std::string config_path;            // --config, else the example cluster
  std::optional<std::string> bind;    // --bind, else the configuration's "mgmt-url"
  int delay_ms = 0;                   // --delay-ms: every reply is held back this long
  int op_ms = 500;                    // --op-ms: how long a service start or stop takes
  int greeting_ms = 10000;            // --greeting-ms: how long a peer has to greet (0: no limit)
  std::optional<std::string> inject;  // --inject: send this fault to the running daemon
  bool help = false;                  // -h, --help
};

inline constexpr int max_delay_ms = 3600000;

// Reads the arguments that follow the program name into `options` (which
// holds the defaults). False with `*error` set for a bad command line. Only
// whole option names are taken: an abbreviation is an unknown option.
bool parse_sim_options(const std::vector<std::string>& args, SimOptions* options, std::string* error);

void print_sim_usage(FILE* out, const std::string& default_config);

// The example cluster of an installed ruxd-sim: `relative_example` (the path
// from the directory of the programs to the example) taken from the directory
// of `program`, the program's own path. When no file is there, as in a build
// tree, `fallback`.
std::string default_config_path(const std::string& program, const std::string& relative_example,
                                const std::string& fallback);

}  // namespace tarnex::sim
