#include "commands/changes.hpp"
#include "commands/commands.hpp"
#include "commands/support.hpp"
#include "output/json_output.hpp"
#include "output/tables.hpp"

namespace tarnex {

int run_cluster_status(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  return run_guarded(context, [&] {
    const Json request = node_request(row.command, std::nullopt, false);
    const DaemonReply nodes = send_request(context.daemon, request);
    const DaemonReply services = send_request(context.daemon, pools_request(request));
    if (input.json) {
      print_status_document(context.out, build_status_document(nodes.body, services.body));
    } else {
      print_tables(context.out, nodes.body, services.body);
    }
    return nodes.exit_code != 0 ? nodes.exit_code : services.exit_code;
  });
}

int run_cluster_command(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  return run_guarded(context, [&] {
    return send_change(context, cluster_request(row.command), change_of(context, row, input)).exit_code;
  });
}

}  // namespace tarnex
