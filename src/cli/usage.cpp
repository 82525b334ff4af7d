#include "cli/usage.hpp"

#include <string_view>
#include <unordered_map>

#include "cli/options.hpp"

namespace tarnex {
namespace {

constexpr const char* top_level_text =
    "%APP% [command] {OPTIONS}\n"
    "\n"
    "Tarnex Cluster CLI\n"
    "\n"
    "USAGE:\n"
    "  %APP% <SYSTEM> <ACTION> {OPTIONS}\n"
    "\n"
    "SUBSYSTEMS:\n"
    "  cluster                  Cluster management\n"
    "  node                     Node management\n"
    "  service                  Service management\n"
    "\n"
    "OPTIONS:\n"
    "  -h, --help               Show this help menu\n"
    "  -v, --version            Show version\n"
    "\n"
    "EXAMPLES:\n"
    "  %APP%\n"
    "  %APP% cluster status --output=json\n"
    "  %APP% node list\n"
    "  %APP% node disable --id=node1.example.com\n"
    "  %APP% node exit --id=1 --force\n"
    "  %APP% service start --name=zpool_z05 --node=1\n"
    "  %APP% service move --name=zpool_z05 --node=2\n"
    "  %APP% service list\n";

constexpr const char* cluster_text =
    "%APP% cluster [command] {OPTIONS}\n"
    "\n"
    "Cluster management\n"
    "\n"
    "USAGE:\n"
    "  %APP% cluster <ACTION> {OPTIONS}\n"
    "\n"
    "ACTIONS:\n"
    "  status                   Cluster overview (nodes + services)\n"
    "  exit                     Stop all services and remove all nodes\n"
    "\n"
    "OPTIONS:\n"
    "  -h, --help               Show this help menu\n"
    "  -o, --output=<format>    Output format: table (default), json\n";

constexpr const char* node_text =
    "%APP% node [command] {OPTIONS}\n"
    "\n"
    "Node management\n"
    "\n"
    "USAGE:\n"
    "  %APP% node <ACTION> {OPTIONS}\n"
    "\n"
    "ACTIONS:\n"
    "  list                     List cluster nodes\n"
    "  status                   Show node status\n"
    "  info                     Show node details\n"
    "  enable                   Enable node\n"
    "  disable                  Disable node\n"
    "  break                    Break previous command\n"
    "  exit                     Remove node from cluster\n"
    "\n"
    "OPTIONS:\n"
    "  -h, --help               Show this help menu\n"
    "  -n, --id=<node>          Node ID or name (required for enable/disable/break/exit)\n"
    "  -f, --force              Stop the node even if that leaves a peer's pool\n"
    "                           without redundancy (optional, only with exit)\n";

constexpr const char* service_text =
    "%APP% service [command] {OPTIONS}\n"
    "\n"
    "Service management\n"
    "\n"
    "USAGE:\n"
    "  %APP% service <ACTION> {OPTIONS}\n"
    "\n"
    "ACTIONS:\n"
    "  list                     List services\n"
    "  status                   Show service status\n"
    "  info                     Show service details\n"
    "  help                     Show commands supported by ruxd\n"
    "  start                    Start service\n"
    "  stop                     Stop service\n"
    "  move                     Move service to another node (stop + start)\n"
    "  enable                   Enable service\n"
    "  disable                  Disable service\n"
    "  break                    Break previous command\n"
    "\n"
    "OPTIONS:\n"
    "  -h, --help               Show this help menu\n"
    "  -s, --name=<service>     Service name (required for start/stop/move/enable/disable/break)\n"
    "  -n, --node=<node>        Target node, required for start and move.\n"
    "                           start accepts a numeric node ID only;\n"
    "                           move also accepts a node name\n";

const char* usage_text_for(const std::string& system) {
  static const std::unordered_map<std::string_view, const char*> usage_texts = {
      {"cluster", cluster_text},
      {"node", node_text},
      {"service", service_text},
  };
  auto found = usage_texts.find(system);
  return found == usage_texts.end() ? top_level_text : found->second;
}

}  // namespace

std::string expand_app_name(const std::string& text, const std::string& name) {
  static constexpr std::string_view placeholder = "%APP%";
  std::string result = text;
  std::string::size_type at = 0;
  while ((at = result.find(placeholder, at)) != std::string::npos) {
    result.replace(at, placeholder.size(), name);
    at += name.size();
  }
  return result;
}

void print_usage(FILE* out, const std::string& system, const std::string& program_name) {
  const std::string text = expand_app_name(usage_text_for(system), program_name);
  std::fputs(text.c_str(), out);
  std::fprintf(out, "\nTarnex Cluster CLI, build %s\n", version_string);
}

}  // namespace tarnex
