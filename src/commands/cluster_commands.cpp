#include "commands/changes.hpp"
#include "commands/commands.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
#include "output/json_output.hpp"
#include "output/tables.hpp"

namespace tarnex {

int cluster_status(const CommandContext& context, const std::string& output) {
  return run_guarded(context, [&] {
    const Json request = node_request("status", std::nullopt, false);
    const DaemonReply nodes = send_request(context.daemon, request);
    const DaemonReply services = send_request(context.daemon, pools_request(request));

    if (output == "json") {
      print_status_document(build_status_document(nodes.body, services.body), context.out,
                            context.out_is_terminal);
    } else {
      print_tables(nodes.body, services.body, context.out, context.out_is_terminal);
    }
    return nodes.exit_code != 0 ? nodes.exit_code : services.exit_code;
  });
}

int cluster_exit(const CommandContext& context, const std::string& action) {
  return run_guarded(context, [&] {
    return send_change(context, cluster_request(action), cluster_exit_change(context.program_name)).exit_code;
  });
}

}  // namespace tarnex
