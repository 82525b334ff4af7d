#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "daemon/transport.hpp"

namespace tarnex {

// What one run of the program talks to.
struct ProgramIo {
  FILE* out = stdout;
  FILE* err = stderr;
  Transport* transport = nullptr;
  // How long the daemon may be silent before a progress dot.
  std::chrono::milliseconds progress_interval{2000};
  // Whether standard output and standard error are terminals, where a
  // person reads what the program says beyond what scripts get.
  bool out_is_terminal = false;
  bool err_is_terminal = false;
};

// The whole program: `args` as the process got them (args[0] the path it was
// started under), its output on `io`. Returns the exit status; output that
// could not be written makes a successful run fail with status 1.
int run_program(const std::vector<std::string>& args, const ProgramIo& io);

}  // namespace tarnex
