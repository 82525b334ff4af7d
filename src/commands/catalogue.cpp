#include "commands/catalogue.hpp"

#include "commands/commands.hpp"

namespace tarnex {

const std::vector<CommandRow>& command_catalogue() {
  using enum Use;
  using enum Show;
  using enum Reach;
  // Columns: system, action, help line, how it reaches the daemon, daemon
  // command, whether it changes the cluster, -n, -s, --force, --output,
  // wording of a cut-off change, how the reply is shown, handler.
  // clang-format off
  static const std::vector<CommandRow> catalogue = {
      {"cluster", "status",  "Cluster overview (nodes + services)",         overview, "status",  false, ignored,            ignored,  false, optional, "",                                               records,  run_cluster_status},
      {"cluster", "exit",    "Stop all services and remove all nodes",      request,  "exit",    true,  ignored,            ignored,  false, ignored,  "stopping every service and removing every node", message,  run_cluster_command},
      {"node",    "list",    "List cluster nodes",                          request,  "status",  false, refused,            ignored,  false, ignored,  "",                                               records,  run_node_command},
      {"node",    "status",  "Show node status",                            request,  "status",  false, optional,           ignored,  false, ignored,  "",                                               records,  run_node_command},
      {"node",    "info",    "Show node details",                           request,  "status",  false, optional,           ignored,  false, ignored,  "",                                               records,  run_node_command},
      {"node",    "enable",  "Enable node",                                 request,  "enable",  true,  required,           ignored,  false, ignored,  "enabling {}",                                    message,  run_node_command},
      {"node",    "disable", "Disable node",                                request,  "disable", true,  required,           ignored,  false, ignored,  "disabling {}",                                   message,  run_node_command},
      {"node",    "break",   "Break previous command",                      request,  "break",   true,  required,           ignored,  false, ignored,  "breaking off the command in progress on {}",     message,  run_node_command},
      {"node",    "exit",    "Remove node from cluster",                    request,  "exit",    true,  required,           ignored,  true,  ignored,  "removing {} from the cluster",                   message,  run_node_command},
      {"service", "list",    "List services",                               request,  "status",  false, ignored,            refused,  false, ignored,  "",                                               records,  run_service_command},
      {"service", "status",  "Show service status",                         request,  "status",  false, ignored,            optional, false, ignored,  "",                                               records,  run_service_command},
      {"service", "info",    "Show service details",                        request,  "status",  false, ignored,            optional, false, ignored,  "",                                               records,  run_service_command},
      {"service", "help",    "Show commands supported by ruxd",             request,  "help",    false, ignored,            refused,  false, ignored,  "",                                               commands, run_service_command},
      {"service", "start",   "Start service",                               request,  "start",   true,  optional,           required, false, ignored,  "starting {}",                                    message,  run_service_command},
      {"service", "stop",    "Stop service",                                request,  "stop",    true,  ignored,            required, false, ignored,  "stopping {}",                                    message,  run_service_command},
      {"service", "move",    "Move service to another node (stop + start)", composed, "",        true,  required_not_empty, required, false, ignored,  "",                                               message,  run_service_move},
      {"service", "enable",  "Enable service",                              request,  "enable",  true,  ignored,            required, false, ignored,  "enabling {}",                                    message,  run_service_command},
      {"service", "disable", "Disable service",                             request,  "disable", true,  ignored,            required, false, ignored,  "disabling {}",                                   message,  run_service_command},
      {"service", "break",   "Break previous command",                      request,  "break",   true,  ignored,            required, false, ignored,  "breaking off the command in progress on {}",     message,  run_service_command},
  };
  // clang-format on
  return catalogue;
}

const std::vector<SystemEntry>& command_systems() {
  static const std::vector<SystemEntry> systems = {
      {"cluster", "Cluster management", "  -o, --output=<format>    Output format: table (default), json\n"},
      {"node", "Node management",
       "  -n, --id=<node>          Node ID or name (required for enable/disable/break/exit)\n"
       "  -f, --force              Stop the node even if that leaves a peer's pool\n"
       "                           without redundancy (optional, only with exit)\n"},
      {"service", "Service management",
       "  -s, --name=<service>     Service name (required for start/stop/move/enable/disable/break)\n"
       "  -n, --node=<node>        Target node, required for start and move.\n"
       "                           start accepts a numeric node ID only;\n"
       "                           move also accepts a node name\n"},
  };
  return systems;
}

std::string_view command_examples() {
  return "  %APP%\n"
         "  %APP% cluster status --output=json\n"
         "  %APP% node list\n"
         "  %APP% node disable --id=node1.example.com\n"
         "  %APP% node exit --id=1 --force\n"
         "  %APP% service start --name=zpool_z05 --node=1\n"
         "  %APP% service move --name=zpool_z05 --node=2\n"
         "  %APP% service list\n";
}

const CommandRow* find_command(std::string_view system, std::string_view action) {
  for (const CommandRow& row : command_catalogue()) {
    if (row.system == system && row.action == action) return &row;
  }
  return nullptr;
}

}  // namespace tarnex
