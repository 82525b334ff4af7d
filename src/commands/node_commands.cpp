#include <cstdio>
#include <optional>
#include <string>

#include "commands/changes.hpp"
#include "commands/commands.hpp"
#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
#include "daemon/terminal_text.hpp"
#include "output/tables.hpp"

namespace tarnex {
namespace {

// The id column of a single node: its unsigned decimal form, or "-" when the
// record has no id that reads as an integer (rather than 2^64-1).
std::string node_id_cell(const Json& record) {
  static const JsonPointer id_pointer("/id");
  std::int64_t id = json_get_int(record, id_pointer, -1);
  if (id == -1 && json_get_int(record, id_pointer, 0) == 0) return "-";
  return std::to_string(static_cast<std::uint64_t>(id));
}

void print_node_line(FILE* out, bool terminal, const Json& record) {
  static const JsonPointer name_pointer("/nodename");
  static const JsonPointer state_pointer("/state");
  static const JsonPointer enabled_pointer("/enabled");
  const std::string name = neutralised(json_get_string(record, name_pointer, ""), terminal, TextKind::name);
  const std::string state = neutralised(json_get_string(record, state_pointer, ""), terminal, TextKind::name);
  std::fprintf(out, "%-*s %4s %9s %9s\n", static_cast<int>(name.size()), name.c_str(),
               node_id_cell(record).c_str(), state.c_str(),
               status_cell(json_get_bool(record, enabled_pointer, false)));
}

}  // namespace

int show_node_reply(const CommandContext& context, const std::string& action,
                    const std::optional<std::string>& node, const Json& request, const Json& body) {
  static const JsonPointer response_pointer("/response");
  static const JsonPointer message_pointer("/response/message");
  static const JsonPointer id_pointer("/id");

  if (body.contains(response_pointer) && body.at(response_pointer).is_array()) {
    if (!node) {
      print_tables(body, Json(), context.out, context.out_is_terminal);
      return exit_success;
    }
    const Json* record = lookup_node(body, json_get_string(request, id_pointer, ""));
    if (record == nullptr) return report_node_not_found(context.err, *node);
    if (action == "info" || action == "status")
      print_node_line(context.out, context.out_is_terminal, *record);
    return exit_success;
  }
  if (body.contains(message_pointer)) {
    print_text_line(context.out, context.out_is_terminal, json_get_string(body, message_pointer, ""));
  }
  return exit_success;
}

int run_node_command(const CommandContext& context, const std::string& action,
                     const std::optional<std::string>& node, bool force) {
  return run_guarded(context, [&] {
    const Json request = node_request(action, node, force);
    const DaemonReply reply =
        node && changes_state(action)
            ? send_change(context, request, node_change(context.program_name, action, *node))
            : send_request(context.daemon, request);
    if (reply.exit_code != 0) return reply.exit_code;
    return show_node_reply(context, action, node, request, reply.body);
  });
}

}  // namespace tarnex
