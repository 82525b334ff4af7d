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

// The directory the program was started from, searched first for its
// settings file. A path with a slash is taken as given, made absolute,
// symlinks not followed. A bare name is looked up as the shell looked it up:
// the first entry of `search_path` (PATH) holding an executable file of that
// name, an empty entry meaning the current directory; failing that, the
// directory of the running executable. Empty when none can be told.
std::filesystem::path program_directory(const std::string& argv0, const char* search_path);

// What a command line asks for. The last of help, version and a bad option
// decides.
enum class Asked { command, help, version, bad_option };

// Reads `args` (args[0] is the path the program was started under, when
// there is one) into `line`, acting on nothing. The option reader's own
// diagnostics go to `err`.
Asked read_command_line(const std::vector<std::string>& args, const Stream& err, CommandLine& line);

}  // namespace tarnex
