#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stream.hpp"
#include "cli/options.hpp"

namespace tarnex {

// One invocation's command line as read: the options and operands, and the
// name and directory the program was started from.
struct CommandLine {
  CliOptions options;
  std::string program_name = "tarnex-viravi";
  std::filesystem::path program_dir;
};

// What a command line asks for. The last of help, version and a bad option
// decides.
enum class Asked { command, help, version, bad_option };

// Reads `args` (args[0] is the path the program was started under, when
// there is one) into `line`, acting on nothing. The option reader's own
// diagnostics go to `err`.
Asked read_command_line(const std::vector<std::string>& args, const Stream& err, CommandLine& line);

}  // namespace tarnex
