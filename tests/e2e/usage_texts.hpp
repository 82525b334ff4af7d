#pragma once

#include <string>
#include <vector>

namespace tarnex::testing {

// The help texts as the operator must see them, for a program started under
// `app`: "$APP" below stands for that name. Each ends with the banner line.

inline std::string usage_from_lines(const std::vector<std::string>& lines, const std::string& app) {
  std::string text;
  for (const std::string& line : lines) {
    std::string::size_type at = 0;
    std::string expanded = line;
    while ((at = expanded.find("$APP", at)) != std::string::npos) {
      expanded.replace(at, 4, app);
      at += app.size();
    }
    text += expanded + "\n";
  }
  return text + "\nTarnex Cluster CLI, build c318bb68\n";
}

inline std::string top_usage(const std::string& app = "tarnex-viravi") {
  return usage_from_lines(
      {
          "$APP [command] {OPTIONS}",
          "",
          "Tarnex Cluster CLI",
          "",
          "USAGE:",
          "  $APP <SYSTEM> <ACTION> {OPTIONS}",
          "",
          "SUBSYSTEMS:",
          "  cluster                  Cluster management",
          "  node                     Node management",
          "  service                  Service management",
          "",
          "OPTIONS:",
          "  -h, --help               Show this help menu",
          "  -v, --version            Show version",
          "",
          "EXAMPLES:",
          "  $APP",
          "  $APP cluster status --output=json",
          "  $APP node list",
          "  $APP node disable --id=node1.example.com",
          "  $APP node exit --id=1 --force",
          "  $APP service start --name=zpool_z05 --node=1",
          "  $APP service move --name=zpool_z05 --node=2",
          "  $APP service list",
      },
      app);
}

inline std::string cluster_usage(const std::string& app = "tarnex-viravi") {
  return usage_from_lines(
      {
          "$APP cluster [command] {OPTIONS}",
          "",
          "Cluster management",
          "",
          "USAGE:",
          "  $APP cluster <ACTION> {OPTIONS}",
          "",
          "ACTIONS:",
          "  status                   Cluster overview (nodes + services)",
          "  exit                     Stop all services and remove all nodes",
          "",
          "OPTIONS:",
          "  -h, --help               Show this help menu",
          "  -o, --output=<format>    Output format: table (default), json",
      },
      app);
}

inline std::string node_usage(const std::string& app = "tarnex-viravi") {
  return usage_from_lines(
      {
          "$APP node [command] {OPTIONS}",
          "",
          "Node management",
          "",
          "USAGE:",
          "  $APP node <ACTION> {OPTIONS}",
          "",
          "ACTIONS:",
          "  list                     List cluster nodes",
          "  status                   Show node status",
          "  info                     Show node details",
          "  enable                   Enable node",
          "  disable                  Disable node",
          "  break                    Break previous command",
          "  exit                     Remove node from cluster",
          "",
          "OPTIONS:",
          "  -h, --help               Show this help menu",
          "  -n, --id=<node>          Node ID or name (required for enable/disable/break/exit)",
          "  -f, --force              Stop the node even if that leaves a peer's pool",
          "                           without redundancy (optional, only with exit)",
      },
      app);
}

inline std::string service_usage(const std::string& app = "tarnex-viravi") {
  return usage_from_lines(
      {
          "$APP service [command] {OPTIONS}",
          "",
          "Service management",
          "",
          "USAGE:",
          "  $APP service <ACTION> {OPTIONS}",
          "",
          "ACTIONS:",
          "  list                     List services",
          "  status                   Show service status",
          "  info                     Show service details",
          "  help                     Show commands supported by ruxd",
          "  start                    Start service",
          "  stop                     Stop service",
          "  move                     Move service to another node (stop + start)",
          "  enable                   Enable service",
          "  disable                  Disable service",
          "  break                    Break previous command",
          "",
          "OPTIONS:",
          "  -h, --help               Show this help menu",
          "  -s, --name=<service>     Service name (required for start/stop/move/enable/disable/break)",
          "  -n, --node=<node>        Target node, required for start and move.",
          "                           start accepts a numeric node ID only;",
          "                           move also accepts a node name",
      },
      app);
}

}  // namespace tarnex::testing
