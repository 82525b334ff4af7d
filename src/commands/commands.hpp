#pragma once

#include <optional>
#include <string>

#include "commands/context.hpp"

namespace tarnex {

// The command routines; each returns the exit status of the run.
// `output` "json" selects the JSON document, anything else the tables.
int cluster_status(const CommandContext& context, const std::string& output);
int cluster_exit(const CommandContext& context, const std::string& action);
int run_node_command(const CommandContext& context, const std::string& action,
                     const std::optional<std::string>& node, bool force);
int run_service_command(const CommandContext& context, const std::string& action,
                        const std::optional<std::string>& service, const std::optional<std::string>& node);
int move_service(const CommandContext& context, const std::string& service, const std::string& node);

}  // namespace tarnex
