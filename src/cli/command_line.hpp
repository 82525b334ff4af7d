#pragma once

#include "cli/options.hpp"

namespace tarnex {

// Reads argv into `options`, answers help, version and bad options, and
// otherwise loads the configuration. Result: 1 after help, 2 after the
// version line, negative after a bad option, 0 when a command is to run.
int read_command_line(CliOptions& options, int argc, char** argv);

// The process entry: the exit status of the whole invocation.
int run_program(int argc, char** argv);

}  // namespace tarnex
