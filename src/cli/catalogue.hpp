#pragma once

#include <string_view>
#include <vector>

#include "cli/options.hpp"
#include "commands/context.hpp"

namespace tarnex {

// How an action takes the node reference (-n) or the service name (-s).
enum class Use {
  ignored,             // accepted and not passed on
  refused,             // must not be given
  optional,            // passed on when given
  required,            // must be given, possibly empty
  required_not_empty,  // must be given and not empty
};

// One accepted combination of system and action, with what it needs and the
// command it runs. The options it gets hold only what the entry passes on.
struct CommandEntry {
  std::string_view system;
  std::string_view action;
  Use node;
  Use service;
  bool force;  // takes --force
  int (*run)(const CommandContext& context, const CliOptions& options);
};

// Every accepted combination, systems and actions in the order of the usage
// texts.
const std::vector<CommandEntry>& command_catalogue();

}  // namespace tarnex
