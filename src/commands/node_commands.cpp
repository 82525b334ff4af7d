#include <optional>
#include <string>

#include "base/cluster_model.hpp"
#include "commands/changes.hpp"
#include "commands/commands.hpp"
#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/support.hpp"
#include "output/tables.hpp"

namespace tarnex {

int show_node_reply(const CommandContext& context, Show show, const std::optional<std::string>& node,
                    const Json& request, const Json& body) {
  static const JsonPointer message_pointer("/response/message");
  static const JsonPointer id_pointer("/id");

  if (response_list(body) != nullptr) {
    if (!node) {
      print_tables(context.out, body, Json());
      return exit_success;
    }
    const Json* record = lookup_node(body, json_get_string(request, id_pointer, ""));
    if (record == nullptr) return report_node_not_found(context.err, *node);
    if (show == Show::records) print_node_line(context.out, *record);
    return exit_success;
  }
  if (body.contains(message_pointer)) {
    print_line(context.out, {message(json_get_string(body, message_pointer, ""))});
  }
  return exit_success;
}

int run_node_command(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  return run_guarded(context, [&] {
    const Json request = node_request(row.command, input.node, input.force);
    const DaemonReply reply = input.node && row.changes
                                  ? send_change(context, request, change_of(context, row, input))
                                  : send_request(context.daemon, request);
    if (reply.exit_code != 0) return reply.exit_code;
    return show_node_reply(context, row.show, input.node, request, reply.body);
  });
}

}  // namespace tarnex
