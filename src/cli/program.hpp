#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "base/stream.hpp"
#include "daemon/transport.hpp"

namespace tarnex {

// What one run of the program talks to.
// Standard output and standard error, each with whether a person reads it
// at a terminal (where the program says more than scripts get).
struct ProgramIo {
  Stream out;
  Stream err;
  Transport* transport = nullptr;
  // How long the daemon may be silent before a progress dot.
  std::chrono::milliseconds progress_interval{2000};
};

// The whole program: `args` as the process got them (args[0] the path it was
// started under), its output on `io`. Returns the exit status; output that
// could not be written makes a successful run fail with status 1.
int run_program(const std::vector<std::string>& args, const ProgramIo& io);

}  // namespace tarnex
