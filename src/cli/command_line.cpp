#include "cli/command_line.hpp"

#include <getopt.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/dispatch.hpp"
#include "cli/usage.hpp"
#include "commands/exit_status.hpp"
#include "config/discovery.hpp"

namespace tarnex {

CliOptions& cli_options() {
  static CliOptions options;
  return options;
}

std::string& program_name() {
  static std::string name = "tarnex-viravi";
  return name;
}

namespace {

// The directory the program was started from, searched first for the
// settings file. A bare name (found through PATH) resolves against the
// current directory, as the settings-file search expects.
std::filesystem::path program_directory(const char* argv0) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(argv0, error);
  if (error) return {};
  return absolute.parent_path();
}

}  // namespace

int parse_command_line(CliOptions& options, int argc, char** argv, std::filesystem::path& program_dir) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : nullptr;
  if (argv0 != nullptr) program_name() = std::filesystem::path(argv0).filename().string();
  if (argv0 == nullptr) argv0 = "";
  program_dir = program_directory(argv0);

  static const option long_options[] = {
      {"id", required_argument, nullptr, 'n'},   {"node", required_argument, nullptr, 'n'},
      {"name", required_argument, nullptr, 's'}, {"output", required_argument, nullptr, 'o'},
      {"force", no_argument, nullptr, 'f'},      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'v'},    {nullptr, 0, nullptr, 0},
  };

  int outcome = 0;
  int index = 0;
  optind = 0;  // full re-initialisation, so the reader can run more than once
  for (;;) {
    int letter = getopt_long(argc, argv, "n:s:o:hvf", long_options, &index);
    if (letter == -1) break;
    switch (letter) {
      case 'f':
        options.force = true;
        break;
      case 'h':
        outcome = 1;
        break;
      case 'v':
        outcome = 2;
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
        outcome = -1;
        break;
    }
  }

  if (optind < argc) {
    options.system = argv[optind];
    options.system_given = true;
  }
  if (optind + 1 < argc) options.action = argv[optind + 1];
  return outcome;
}

int read_command_line(CliOptions& options, int argc, char** argv) {
  std::filesystem::path directory;
  const int outcome = parse_command_line(options, argc, argv, directory);

  if (outcome == 2) {
    std::printf("%s version: %s\n", program_name().c_str(), version_string);
    return 2;
  }
  if (outcome != 0) {
    print_usage();
    return outcome;
  }
  load_configuration(options, directory);
  return 0;
}

int run_program(int argc, char** argv) {
  CliOptions& options = cli_options();
  int outcome = read_command_line(options, argc, argv);
  if (outcome > 0) return exit_success;
  if (outcome < 0) return exit_bad_input;
  if (options.mgmt_url.empty()) {
    std::fprintf(stderr, "Error: mgmt-url is not configured\n");
    return exit_bad_input;
  }
  return run_system();
}

}  // namespace tarnex
