#include "sim_options.hpp"

#include <algorithm>
#include <cstddef>

namespace tarnex::sim {

namespace {

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string parse_sim_options(const std::vector<std::string>& args, SimOptions& options) {
  static const std::vector<std::string> valued = {"--config", "--bind", "--delay-ms"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    const std::string* name = nullptr;
    std::string value;
    for (const auto& candidate : valued) {
      if (arg == candidate) {
        if (i + 1 == args.size()) return candidate + " needs a value";
        name = &candidate;
        value = args[++i];
        break;
      }
      if (arg.size() > candidate.size() && arg.compare(0, candidate.size(), candidate) == 0 &&
          arg[candidate.size()] == '=') {
        name = &candidate;
        value = arg.substr(candidate.size() + 1);
        break;
      }
    }
    if (name == nullptr) {
      if (arg.empty() || arg[0] != '-') return "unexpected argument: " + arg;
      return "unknown option: " + arg;
    }
    if (value.empty()) return *name + " needs a value";
    if (*name == "--config") {
      options.config_path = value;
    } else if (*name == "--bind") {
      options.bind = value;
    } else {
      // At most seven digits keeps the conversion inside int before the range test.
      if (!all_digits(value) || value.size() > 7 || std::stoi(value) > kMaxDelayMs) {
        return "--delay-ms needs a whole number of milliseconds from 0 to " + std::to_string(kMaxDelayMs) +
               ", not " + value;
      }
      options.delay_ms = std::stoi(value);
    }
  }
  return {};
}

void print_sim_usage(FILE* out, const std::string& default_config) {
  std::fputs(
      "Usage: ruxd-sim [--config PATH] [--bind ENDPOINT] [--delay-ms N]\n"
      "\n"
      "A simulated cluster daemon: loads the cluster configuration, keeps the cluster\n"
      "in memory and answers the client's requests on a ZeroMQ REP socket until\n"
      "SIGINT or SIGTERM.\n"
      "\n",
      out);
  std::fprintf(out, "  --config PATH      cluster configuration (default %s)\n", default_config.c_str());
  std::fputs(
      "  --bind ENDPOINT    endpoint to bind instead of the configuration's \"mgmt-url\"\n"
      "  --delay-ms N       hold every reply back N milliseconds\n"
      "  -h, --help         show this text\n",
      out);
}

}  // namespace tarnex::sim
