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
};

// The whole program: `args` as the process got them (args[0] the path it was
// started under), its output on `io`. Returns the exit status.
int run_program(const std::vector<std::string>& args, const ProgramIo& io);

}  // namespace tarnex
