#include "commands/catalogue.hpp"

#include "commands/commands.hpp"

namespace tarnex {

const std::vector<CommandRow>& command_catalogue() {
  using enum Use;
  using enum Show;
  // Columns: system, action, help line, daemon command, -n, -s, --force,
  // --output, wording of a cut-off change, how the reply is shown, handler.
  // clang-format off
  static const std::vector<CommandRow> catalogue = {
      {"cluster", "status",  "Cluster overview (nodes + services)",         "status",  ignored,            ignored,  false, optional, "",                                                   records,  run_cluster_status},
      {"cluster", "exit",    "Stop all services and remove all nodes",      "exit",    ignored,            ignored,  false, ignored,  "stopping every service and removing every node",    message,  run_cluster_command},
      {"node",    "list",    "List cluster nodes",                          "status",  refused,            ignored,  false, ignored,  "",                                                   records,  run_node_command},
      {"node",    "status",  "Show node status",                            "status",  optional,           ignored,  false, ignored,  "",                                                   records,  run_node_command},
      {"node",    "info",    "Show node details",                           "status",  optional,           ignored,  false, ignored,  "",                                                   records,  run_node_command},
      {"node",    "enable",  "Enable node",                                 "enable",  required,           ignored,  false, ignored,  "enabling {}",                                        message,  run_node_command},
      {"node",    "disable", "Disable node",                                "disable", required,           ignored,  false, ignored,  "disabling {}",                                       message,  run_node_command},
      {"node",    "break",   "Break previous command",                      "break",   required,           ignored,  false, ignored,  "breaking off the command in progress on {}",         message,  run_node_command},
      {"node",    "exit",    "Remove node from cluster",                    "exit",    required,           ignored,  true,  ignored,  "removing {} from the cluster",                       message,  run_node_command},
      {"service", "list",    "List services",                               "status",  ignored,            refused,  false, ignored,  "",                                                   records,  run_service_command},
      {"service", "status",  "Show service status",                         "status",  ignored,            optional, false, ignored,  "",                                                   records,  run_service_command},
      {"service", "info",    "Show service details",                        "status",  ignored,            optional, false, ignored,  "",                                                   records,  run_service_command},
      {"service", "help",    "Show commands supported by ruxd",             "help",    ignored,            refused,  false, ignored,  "",                                                   commands, run_service_command},
      {"service", "start",   "Start service",                               "start",   optional,           required, false, ignored,  "starting {}",                                        message,  run_service_command},
      {"service", "stop",    "Stop service",                                "stop",    ignored,            required, false, ignored,  "stopping {}",                                        message,  run_service_command},
      {"service", "move",    "Move service to another node (stop + start)", "move",    required_not_empty, required, false, ignored,  "moving {}",                                          message,  run_service_move},
      {"service", "enable",  "Enable service",                              "enable",  ignored,            required, false, ignored,  "enabling {}",                                        message,  run_service_command},
      {"service", "disable", "Disable service",                             "disable", ignored,            required, false, ignored,  "disabling {}",                                       message,  run_service_command},
      {"service", "break",   "Break previous command",                      "break",   ignored,            required, false, ignored,  "breaking off the command in progress on {}",         message,  run_service_command},
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
