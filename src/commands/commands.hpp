#pragma once

#include <optional>
#include <string>

namespace tarnex {

// The command routines; each returns the exit status of the run.
int cluster_status();
int cluster_exit(const std::string& action);
int run_node_command(const std::string& action, const std::optional<std::string>& node);
int run_service_command(const std::string& action, const std::optional<std::string>& service,
                        const std::optional<std::string>& node);
int move_service(const std::string& service, const std::string& node);

}  // namespace tarnex
