#include "cli/dispatch.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "cli/options.hpp"
#include "cli/usage.hpp"
#include "commands/commands.hpp"
#include "commands/exit_status.hpp"

namespace tarnex {
namespace {

int refuse() {
  print_usage();
  return exit_refused;
}

bool is_one_of(const std::unordered_set<std::string_view>& words, const std::string& word) {
  return words.count(word) != 0;
}

}  // namespace

int run_system() {
  const CliOptions& options = cli_options();
  // Only a missing system operand means "cluster"; one given as the empty
  // text (an unset shell variable) is refused like any unknown word.
  const std::string system = options.system_given ? options.system : "cluster";

  if (options.force && (system != "node" || options.action != "exit")) {
    std::fprintf(stderr, "Error: --force is only valid for 'node exit'\n");
    return refuse();
  }

  using Handler = int (*)();
  static const std::unordered_map<std::string_view, Handler> system_handlers = {
      {"cluster", handle_cluster},
      {"node", handle_node},
      {"service", handle_service},
  };
  auto found = system_handlers.find(system);
  if (found == system_handlers.end()) return refuse();
  return found->second();
}

int handle_cluster() {
  const CliOptions& options = cli_options();
  if (options.action == "status") return cluster_status();
  if (options.action == "exit") return cluster_exit(options.action);
  return refuse();
}

int handle_node() {
  static const std::unordered_set<std::string_view> node_ref_actions = {"status", "info",  "disable",
                                                                        "enable", "break", "exit"};
  static const std::unordered_set<std::string_view> list_actions = {"list", "status", "info"};
  const CliOptions& options = cli_options();
  if (options.node) {
    if (is_one_of(node_ref_actions, options.action)) return run_node_command(options.action, options.node);
    return refuse();
  }
  if (is_one_of(list_actions, options.action)) return run_node_command(options.action, std::nullopt);
  return refuse();
}

int handle_service() {
  static const std::unordered_set<std::string_view> service_name_actions = {"status", "info",  "disable",
                                                                            "enable", "break", "stop"};
  static const std::unordered_set<std::string_view> list_actions = {"list", "status", "info", "help"};
  const CliOptions& options = cli_options();
  const std::string& action = options.action;
  if (options.service) {
    if (action == "move") {
      if (!options.node || options.node->empty()) return refuse();
      return move_service(*options.service, *options.node);
    }
    if (action == "start") return run_service_command(action, options.service, options.node);
    if (is_one_of(service_name_actions, action))
      return run_service_command(action, options.service, std::nullopt);
    return refuse();
  }
  if (is_one_of(list_actions, action)) return run_service_command(action, std::nullopt, std::nullopt);
  return refuse();
}

}  // namespace tarnex
