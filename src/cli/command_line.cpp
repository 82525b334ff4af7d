#include "cli/command_line.hpp"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "base/argument_vector.hpp"
#include "config/discovery.hpp"

namespace tarnex {
namespace {

// getopt_long writes its diagnostics to the C library's standard error;
// while it runs, that is the invocation's error stream.
class ErrorStreamFor {
 public:
  explicit ErrorStreamFor(FILE* err) : saved_(stderr) { stderr = err; }
  ~ErrorStreamFor() { stderr = saved_; }
  ErrorStreamFor(const ErrorStreamFor&) = delete;
  ErrorStreamFor& operator=(const ErrorStreamFor&) = delete;

 private:
  FILE* saved_;
};

// getopt_long's value for --timeout, which has no short form.
constexpr int timeout_option = 256;

}  // namespace

std::optional<std::uint32_t> parse_timeout(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (seconds > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(seconds);
}

Asked read_command_line(const std::vector<std::string>& args, const Stream& err, CommandLine& line) {
  CliOptions& options = line.options;
  if (!args.empty()) line.program_name = std::filesystem::path(args[0]).filename().string();
  line.program_dir = program_directory(args.empty() ? std::string() : args[0], std::getenv("PATH"));

  // clang-format off
  static const option long_options[] = {
      {"id",      required_argument, nullptr, 'n'},
      {"node",    required_argument, nullptr, 'n'},
      {"name",    required_argument, nullptr, 's'},
      {"output",  required_argument, nullptr, 'o'},
      {"force",   no_argument,       nullptr, 'f'},
      {"help",    no_argument,       nullptr, 'h'},
      {"version", no_argument,       nullptr, 'v'},
      {"timeout", required_argument, nullptr, timeout_option},
      {nullptr,   0,                 nullptr, 0},
  };
  // clang-format on

  ArgumentVector argv(args);
  const int argc = argv.argc();

  Asked asked = Asked::command;
  std::vector<std::string> operands;
  int index = 0;
  const ErrorStreamFor diagnostics(err.file);
  optind = 0;  // full re-initialisation, so the reader can run more than once
  for (;;) {
    // The leading '-' hands operands back in place (as option 1), so that
    // options may stand anywhere whatever POSIXLY_CORRECT says.
    const int letter = getopt_long(argc, argv.argv(), "-n:s:o:hvf", long_options, &index);
    if (letter == -1) break;
    switch (letter) {
      case 1:
        operands.emplace_back(optarg);
        break;
      case timeout_option:
        options.timeout = parse_timeout(optarg);
        if (!options.timeout) {
          print_line(err, {typed(argv[0]), ": option '--timeout' takes a whole number of seconds, not '",
                           typed(optarg), "'"});
          asked = Asked::bad_option;
        }
        break;
      case 'f':
        options.force = true;
        break;
      case 'h':
        asked = Asked::help;
        break;
      case 'v':
        asked = Asked::version;
        break;
      case 'n':
        if (!options.node) options.node = optarg;
        break;
      case 's':
        if (!options.service) options.service = optarg;
        break;
      case 'o':
        options.output = optarg;
        break;
      case 0:
        break;
      default:
        asked = Asked::bad_option;
        break;
    }
  }

  for (int rest = optind; rest < argc; ++rest)
    operands.emplace_back(argv[rest]);  // after "--"
  if (!operands.empty()) options.system = operands[0];
  if (operands.size() > 1) options.action = operands[1];
  return asked;
}

}  // namespace tarnex
