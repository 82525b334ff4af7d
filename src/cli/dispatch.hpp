#pragma once

#include <string>

#include "cli/options.hpp"
#include "commands/context.hpp"

namespace tarnex {

// Picks the row of the system and action in `options` from the command
// catalogue and runs its command with what the row takes of the options; a
// combination the catalogue does not accept is refused with the usage text
// on `context.out`. Returns the exit status.
int run_system(const CliOptions& options, const std::string& program_name, const CommandContext& context);

}  // namespace tarnex
