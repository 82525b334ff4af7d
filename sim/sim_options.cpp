#include "sim_options.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace tarnex::sim {

namespace {

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number of milliseconds from 0 to kMaxDelayMs, or the problem.
std::string read_milliseconds(const std::string& name, const std::string& value, int& out) {
  // At most seven digits keeps the conversion inside int before the range test.
  if (!all_digits(value) || value.size() > 7 || std::stoi(value) > kMaxDelayMs) {
    return name + " needs a whole number of milliseconds from 0 to " + std::to_string(kMaxDelayMs) +
           ", not " + value;
  }
  out = std::stoi(value);
  return {};
}

}  // namespace

std::string parse_sim_options(const std::vector<std::string>& args, SimOptions& options) {
  static constexpr std::array<std::string_view, 5> valued = {"--config", "--bind", "--delay-ms", "--op-ms",
                                                             "--inject"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    std::string name;
    std::string value;
    for (const auto candidate : valued) {
      if (arg == candidate) {
        if (i + 1 == args.size()) return std::string(candidate) + " needs a value";
        name = candidate;
        value = args[++i];
        break;
      }
      if (arg.size() > candidate.size() && arg.compare(0, candidate.size(), candidate) == 0 &&
          arg[candidate.size()] == '=') {
        name = candidate;
        value = arg.substr(candidate.size() + 1);
        break;
      }
    }
    if (name.empty()) {
      if (arg.empty() || arg[0] != '-') return "unexpected argument: " + arg;
      return "unknown option: " + arg;
    }
    if (value.empty()) return name + " needs a value";
    std::string problem;
    if (name == "--config") {
      options.config_path = value;
    } else if (name == "--bind") {
      options.bind = value;
    } else if (name == "--inject") {
      options.inject = value;
    } else {
      problem = read_milliseconds(name, value, name == "--op-ms" ? options.op_ms : options.delay_ms);
    }
    if (!problem.empty()) return problem;
  }
  return {};
}

void print_sim_usage(FILE* out, const std::string& default_config) {
  std::fputs(
      "Usage: ruxd-sim [--config PATH] [--bind ENDPOINT] [--delay-ms N] [--op-ms N]\n"
      "       ruxd-sim [--config PATH] [--bind ENDPOINT] --inject FAULT\n"
      "\n"
      "A simulated cluster daemon: loads the cluster configuration, keeps the cluster\n"
      "in memory and answers the client's requests on a ZeroMQ socket until SIGINT or\n"
      "SIGTERM. With --inject, sends one fault to the ruxd-sim already listening at the\n"
      "endpoint instead, prints its answer and exits.\n"
      "\n",
      out);
  std::fprintf(out, "  --config PATH      cluster configuration (default %s)\n", default_config.c_str());
  std::fputs(
      "  --bind ENDPOINT    endpoint to listen on (with --inject: to send to) instead of\n"
      "                     the configuration's \"mgmt-url\"\n"
      "  --delay-ms N       hold every reply back N milliseconds\n"
      "  --op-ms N          a service start or stop takes N milliseconds (default 500)\n"
      "  --inject FAULT     one of: node NODE offline, node NODE online, service NAME fail,\n"
      "                     daemon silent DURATION (800ms, 5s), reset\n"
      "  -h, --help         show this text\n",
      out);
}

std::string default_config_path(const std::string& program, const std::string& relative_example,
                                const std::string& fallback) {
  const auto directory = std::filesystem::path(program).parent_path();
  if (directory.empty()) return fallback;
  std::error_code error;
  const auto candidate = (directory / relative_example).lexically_normal();
  if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
  return fallback;
}

}  // namespace tarnex::sim
