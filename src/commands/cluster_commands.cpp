#include "cli/options.hpp"
#include "commands/commands.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
#include "output/json_output.hpp"
#include "output/tables.hpp"

namespace tarnex {

int cluster_status() {
  return run_guarded([] {
    Json request = node_request("status", std::nullopt, false);
    DaemonReply nodes = send_request(request);
    request["call"] = "service";
    request["adv"] = "pools";
    DaemonReply services = send_request(request);

    if (cli_options().output == "json") {
      print_status_document(build_status_document(nodes.body, services.body));
    } else {
      print_tables(nodes.body, services.body);
    }
    return nodes.exit_code != 0 ? nodes.exit_code : services.exit_code;
  });
}

int cluster_exit(const std::string& action) {
  return run_guarded([&] { return send_request(cluster_request(action)).exit_code; });
}

}  // namespace tarnex
