#pragma once

#include <filesystem>

#include "cli/options.hpp"

namespace tarnex {

// Reads the program name, the options and the operands into `options` and
// the program's directory into `program_dir`, acting on nothing. Result: 0,
// 1 (help), 2 (version) or -1 (bad option); the last of them decides.
int parse_command_line(CliOptions& options, int argc, char** argv, std::filesystem::path& program_dir);

// Reads argv into `options`, answers help, version and bad options, and
// otherwise loads the configuration. Result: 1 after help, 2 after the
// version line, negative after a bad option, 0 when a command is to run.
int read_command_line(CliOptions& options, int argc, char** argv);

// The process entry: the exit status of the whole invocation.
int run_program(int argc, char** argv);

}  // namespace tarnex
