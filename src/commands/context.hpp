#pragma once

#include <cstdio>
#include <string>

#include "daemon/exchange.hpp"

namespace tarnex {

// What every command routine works with besides its own inputs: where its
// output and error lines go, the way to the daemon, and the name the program
// was started under (for the commands it tells the operator to run). On a
// stream that is a terminal, texts from the daemon are neutralised.
struct CommandContext {
  FILE* out = stdout;
  FILE* err = stderr;
  bool out_is_terminal = false;
  bool err_is_terminal = false;
  DaemonChannel daemon;
  std::string program_name;
};

}  // namespace tarnex
