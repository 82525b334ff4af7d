#include <optional>
#include <string>

#include "base/cluster_model.hpp"
#include "commands/changes.hpp"
#include "commands/commands.hpp"
#include "commands/replies.hpp"
#include "commands/service_steps.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
#include "output/tables.hpp"

namespace tarnex {
namespace {

// Shows the records of a reply to a request naming one service; the first
// element that reports an error ends the walk with status 11.
int print_named_records(const CommandContext& context, Show show, const std::string& service,
                        const Json& records) {
  static const JsonPointer error_message_pointer("/errorMessage");
  static const JsonPointer name_pointer("/name");
  for (const Json& record : records) {
    if (record.is_object() && record.contains("error")) {
      print_line(context.err, {"Error: ", message(json_get_string(record, error_message_pointer, "")), ": ",
                               name(json_get_string(record, name_pointer, service))});
      return exit_request_failed;
    }
    if (show == Show::records) print_service_line(context.out, record);
  }
  return exit_success;
}

}  // namespace

int show_service_reply(const CommandContext& context, Show show, const std::optional<std::string>& service,
                       const Json& body) {
  static const JsonPointer message_pointer("/response/message");
  if (!body.is_object()) return exit_success;

  if (const Json* list = response_list(body); list != nullptr) {
    if (show == Show::commands) {
      print_command_list(context.out, *list);
      return exit_success;
    }
    if (!service) {
      print_tables(context.out, Json(), body);
      return exit_success;
    }
    return print_named_records(context, show, *service, *list);
  }
  const auto response = body.find("response");
  if (response != body.end() && response->is_object() && body.contains(message_pointer)) {
    // The one strictly read member: a message that is not a string is an error.
    print_line(context.out, {message(response->at("message").get<std::string>())});
  }
  return exit_success;
}

namespace {

// A service command without its handler: the request (a change announced
// as such) and what its reply shows.
int service_command(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  const Json request = service_request(row.command, input.service, input.node);
  const DaemonReply reply = input.service && row.changes
                                ? send_change(context, request, change_of(context, row, input))
                                : send_request(context.daemon, request);
  if (reply.exit_code != 0) return reply.exit_code;
  return show_service_reply(context, row.show, input.service, reply.body);
}

}  // namespace

int run_service_command(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  return run_guarded(context, [&] { return service_command(context, row, input); });
}

// The checks, on the target node and then on the service, come before
// anything that changes the cluster; then the stop and the start. A start
// that failed leaves the service stopped, and the operator is told so; a
// start cut off by the timeout or a signal may still take effect, and is
// told as such.
int run_service_move(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  const std::string& service = *input.service;
  std::string node_id;
  const int ready = run_guarded(context, [&] {
    const DaemonReply nodes = send_request(context.daemon, node_request("status", std::nullopt, false));
    if (nodes.exit_code != 0) return nodes.exit_code;
    const std::optional<Node> target = check_target_node(context, nodes.body, *input.node);
    if (!target) return exit_request_failed;
    node_id = std::to_string(target->id);
    const DaemonReply services =
        send_request(context.daemon, service_request("status", service, std::nullopt));
    if (services.exit_code != 0) return services.exit_code;
    if (!check_service(context, services.body, service, row.action)) return exit_request_failed;
    return stop_service(context, service, "starting it on node " + node_id);
  });
  if (ready != exit_success) return ready;

  const std::string hint = recovery_hint(context, service, node_id);
  const StartOutcome started = start_service_on(context, service, node_id, hint);
  if (started.status != exit_success && !started.cut_off) print(context.err, {own(hint)});
  return started.status;
}

}  // namespace tarnex
