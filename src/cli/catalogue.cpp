#include "cli/catalogue.hpp"

#include "commands/commands.hpp"

namespace tarnex {
namespace {

int run_cluster_status(const CommandContext& context, const CliOptions& options) {
  return cluster_status(context, options.output);
}

int run_cluster_exit(const CommandContext& context, const CliOptions& options) {
  return cluster_exit(context, options.action);
}

int run_node(const CommandContext& context, const CliOptions& options) {
  return run_node_command(context, options.action, options.node, options.force);
}

int run_service(const CommandContext& context, const CliOptions& options) {
  return run_service_command(context, options.action, options.service, options.node);
}

int run_move(const CommandContext& context, const CliOptions& options) {
  return move_service(context, *options.service, *options.node);
}

}  // namespace

const std::vector<CommandEntry>& command_catalogue() {
  using enum Use;
  // Columns: system, action, node reference, service name, takes --force, command.
  // clang-format off
  static const std::vector<CommandEntry> catalogue = {
      {"cluster", "status",  ignored,            ignored,  false, run_cluster_status},
      {"cluster", "exit",    ignored,            ignored,  false, run_cluster_exit},
      {"node",    "list",    refused,            ignored,  false, run_node},
      {"node",    "status",  optional,           ignored,  false, run_node},
      {"node",    "info",    optional,           ignored,  false, run_node},
      {"node",    "enable",  required,           ignored,  false, run_node},
      {"node",    "disable", required,           ignored,  false, run_node},
      {"node",    "break",   required,           ignored,  false, run_node},
      {"node",    "exit",    required,           ignored,  true,  run_node},
      {"service", "list",    ignored,            refused,  false, run_service},
      {"service", "status",  ignored,            optional, false, run_service},
      {"service", "info",    ignored,            optional, false, run_service},
      {"service", "help",    ignored,            refused,  false, run_service},
      {"service", "start",   optional,           required, false, run_service},
      {"service", "stop",    ignored,            required, false, run_service},
      {"service", "move",    required_not_empty, required, false, run_move},
      {"service", "enable",  ignored,            required, false, run_service},
      {"service", "disable", ignored,            required, false, run_service},
      {"service", "break",   ignored,            required, false, run_service},
  };
  // clang-format on
  return catalogue;
}

}  // namespace tarnex
