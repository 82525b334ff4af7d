#pragma once

#include <string>

#include "base/stream.hpp"
#include "commands/requests.hpp"

namespace tarnex {

// What every command works with besides its own inputs: where its output
// and error lines go, the way to the daemon, and the name the program was
// started under (for the commands it tells the operator to run).
struct CommandContext {
  Stream out;
  Stream err;
  DaemonChannel daemon;
  std::string program_name;
};

}  // namespace tarnex
