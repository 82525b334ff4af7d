#include "sim_options.hpp"

#include <getopt.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "base/argument_vector.hpp"

namespace tarnex::sim {

namespace {

// getopt_long's values for the options without a short form.
enum : int { config_option = 256, bind_option, delay_option, op_option, greeting_option, inject_option };

// A whole number of milliseconds from 0 to max_delay_ms.
bool read_milliseconds(const char* name, const std::string& value, int* out, std::string* error) {
  // At most seven digits keeps the conversion inside int before the range test.
  const bool digits =
      !value.empty() && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || value.size() > 7 || std::stoi(value) > max_delay_ms) {
    *error = std::string(name) + " needs a whole number of milliseconds from 0 to " +
             std::to_string(max_delay_ms) + ", not " + value;
    return false;
  }
  *out = std::stoi(value);
  return true;
}

// Whether `word` ("--bind", "--bind=x") spells the option's whole name.
bool spells(const std::string& word, const char* name) {
  return std::string_view(word).substr(2, word.find('=') - 2) == name;
}

}  // namespace

bool parse_sim_options(const std::vector<std::string>& args, SimOptions* options, std::string* error) {
  // clang-format off
  static const option long_options[] = {
      {"config",      required_argument, nullptr, config_option},
      {"bind",        required_argument, nullptr, bind_option},
      {"delay-ms",    required_argument, nullptr, delay_option},
      {"op-ms",       required_argument, nullptr, op_option},
      {"greeting-ms", required_argument, nullptr, greeting_option},
      {"inject",      required_argument, nullptr, inject_option},
      {"help",        no_argument,       nullptr, 'h'},
      {nullptr,       0,                 nullptr, 0},
  };
  // clang-format on

  // getopt_long reads a vector of its own, led by a program name.
  std::vector<std::string> words = {"ruxd-sim"};
  words.insert(words.end(), args.begin(), args.end());
  ArgumentVector argv(words);
  const int argc = argv.argc();

  opterr = 0;  // the messages are the simulator's own
  optind = 0;  // full re-initialisation, so the reader can run more than once
  for (;;) {
    const int at = std::max(optind, 1);  // the word getopt_long reads next
    int index = -1;
    // '-' hands operands back in place (as 1), ':' tells a missing value apart.
    const int letter = getopt_long(argc, argv.argv(), "-:h", long_options, &index);
    if (letter == -1) {
      if (at < argc && words[static_cast<std::size_t>(at)] == "--") {
        *error = "unknown option: --";
        return false;
      }
      return true;
    }
    const std::string& word = words[static_cast<std::size_t>(std::min(at, argc - 1))];
    if (letter == 1 || letter == '?') {
      *error = (letter == 1 && word != "-" ? "unexpected argument: " : "unknown option: ") + word;
      return false;
    }
    // The option taken; for a missing value getopt_long names it only in optopt.
    const int value_of = letter == ':' ? optopt : letter;
    const option& taken = *std::find_if(std::begin(long_options), std::end(long_options) - 1,
                                        [value_of](const option& each) { return each.val == value_of; });
    // getopt_long takes any unambiguous abbreviation; ruxd-sim whole names only.
    if (word.rfind("--", 0) == 0 && !spells(word, taken.name)) {
      *error = "unknown option: " + word;
      return false;
    }
    if (letter == ':' || (optarg != nullptr && *optarg == '\0')) {
      *error = std::string("--") + taken.name + " needs a value";
      return false;
    }
    switch (letter) {
      case 'h':
        options->help = true;
        break;
      case config_option:
        options->config_path = optarg;
        break;
      case bind_option:
        options->bind = optarg;
        break;
      case inject_option:
        options->inject = optarg;
        break;
      case delay_option:
        if (!read_milliseconds("--delay-ms", optarg, &options->delay_ms, error)) return false;
        break;
      case op_option:
        if (!read_milliseconds("--op-ms", optarg, &options->op_ms, error)) return false;
        break;
      case greeting_option:
        if (!read_milliseconds("--greeting-ms", optarg, &options->greeting_ms, error)) return false;
        break;
      default:
        break;
    }
  }
}

void print_sim_usage(FILE* out, const std::string& default_config) {
  std::fputs(
      "Usage: ruxd-sim [--config PATH] [--bind ENDPOINT] [--delay-ms N] [--op-ms N]\n"
      "                [--greeting-ms N]\n"
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
      "  --greeting-ms N    close a connection whose peer has not greeted within N\n"
      "                     milliseconds (default 10000; 0: never)\n"
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
