#pragma once

#include "commands/catalogue.hpp"

namespace tarnex {

// The handlers of the catalogue's rows; each returns the exit status of the
// run.
int run_cluster_status(const CommandContext& context, const CommandRow& row, const CommandInput& input);
int run_cluster_command(const CommandContext& context, const CommandRow& row, const CommandInput& input);
int run_node_command(const CommandContext& context, const CommandRow& row, const CommandInput& input);
int run_service_command(const CommandContext& context, const CommandRow& row, const CommandInput& input);
int run_service_move(const CommandContext& context, const CommandRow& row, const CommandInput& input);

}  // namespace tarnex
