#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/cluster_model.hpp"
#include "commands/changes.hpp"
#include "commands/commands.hpp"
#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
#include "output/tables.hpp"

namespace tarnex {
namespace {

std::string move_recovery_hint(const CommandContext& context, const std::string& service,
                               const std::string& id_text) {
  return "Service " + shown(context.err, typed(service)) + " was stopped, but the start on node " + id_text +
         " did not complete.\nCheck the actual state: " + command_word(context.err, context.program_name) +
         " service status --name=" + command_word(context.err, service) + "\n";
}

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
  const DaemonReply reply = input.service && changes_state(row)
                                ? send_change(context, request, change_of(context, row, input))
                                : send_request(context.daemon, request);
  if (reply.exit_code != 0) return reply.exit_code;
  return show_service_reply(context, row.show, input.service, reply.body);
}

}  // namespace

int run_service_command(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  return run_guarded(context, [&] { return service_command(context, row, input); });
}

std::optional<std::int64_t> check_move_target(const CommandContext& context, const Json& nodes,
                                              const std::string& node) {
  static const JsonPointer id_pointer("/id");
  static const JsonPointer enabled_pointer("/enabled");
  static const JsonPointer state_pointer("/state");

  const Json* record = lookup_node(nodes, node);
  if (record == nullptr) {
    report_node_not_found(context.err, node);
    return std::nullopt;
  }
  const std::int64_t id = json_get_int(*record, id_pointer, -1);
  if (id < 0) {
    print_line(context.err, {"Error: cannot resolve node id: ", typed(node)});
    return std::nullopt;
  }
  // Every other command sends the reference and the daemon reads digits as
  // an id: a move must not take it for a name then.
  if (node_id_clash(nodes, *record, node) != nullptr) {
    print_line(context.err, {"Error: node reference is ambiguous: ", typed(node), " is the name of node ",
                             own(std::to_string(id)), " and the id of node ", typed(node)});
    return std::nullopt;
  }
  if (!json_get_bool(*record, enabled_pointer, false)) {
    print_line(context.err, {"Error: cannot run service on disabled node: ", typed(node)});
    return std::nullopt;
  }
  const std::string state = json_get_string(*record, state_pointer, "");
  if (node_state(state) != NodeState::online) {
    print_line(context.err, {"Error: cannot run service on node ", typed(node), ": state is ",
                             state.empty() ? Text("unknown") : name(state)});
    return std::nullopt;
  }
  return id;
}

bool check_move_service(const CommandContext& context, const Json& services, const std::string& service) {
  static const JsonPointer name_pointer("/name");
  static const JsonPointer enabled_pointer("/enabled");
  const Json* record = nullptr;
  if (const Json* response = response_list(services); response != nullptr) {
    for (const Json& candidate : *response) {
      if (candidate.is_object() && !candidate.contains("error") &&
          json_get_string(candidate, name_pointer, "") == service) {
        record = &candidate;
        break;
      }
    }
  }
  if (record == nullptr) {
    print_line(context.err, {"Error: service can not be found: ", typed(service)});
    return false;
  }
  if (!json_get_bool(*record, enabled_pointer, false)) {
    print_line(context.err, {"Error: cannot move disabled service: ", typed(service)});
    return false;
  }
  return true;
}

// The checks, on the target node and then on the service, come before
// anything that changes the cluster; then the stop and the start rows'
// commands. A start that failed leaves the service stopped, and the
// operator is told so; a start cut off by the timeout or a signal may still
// take effect, and is told as such.
int run_service_move(const CommandContext& context, const CommandRow& /*row*/, const CommandInput& input) {
  static const CommandRow& stop = *find_command("service", "stop");
  static const CommandRow& start = *find_command("service", "start");
  const std::string& service = *input.service;
  std::string id_text;
  const int ready = run_guarded(context, [&] {
    const DaemonReply nodes = send_request(context.daemon, node_request("status", std::nullopt, false));
    if (nodes.exit_code != 0) return nodes.exit_code;
    const std::optional<std::int64_t> id = check_move_target(context, nodes.body, *input.node);
    if (!id) return exit_request_failed;
    id_text = std::to_string(*id);
    const DaemonReply services =
        send_request(context.daemon, service_request("status", service, std::nullopt));
    if (services.exit_code != 0) return services.exit_code;
    if (!check_move_service(context, services.body, service)) return exit_request_failed;
    Change change = change_of(context, stop, {std::nullopt, service, false, false});
    change.next_step = "starting it on node " + id_text;
    const DaemonReply stopped =
        send_change(context, service_request(stop.command, service, std::nullopt), change);
    if (stopped.exit_code != 0) return stopped.exit_code;
    return show_service_reply(context, stop.show, service, stopped.body);
  });
  if (ready != exit_success) return ready;

  const std::string hint = move_recovery_hint(context, service, id_text);
  // What the stop printed must not be lost if a signal ends the start.
  std::fflush(context.out.file);
  bool cut_off = false;
  const int started = run_guarded(context, [&] {
    const CommandInput on_target{id_text, service, false, false};
    Change change = change_of(context, start, on_target);
    change.if_not_sent = hint;
    const DaemonReply reply = send_change(context, service_request(start.command, service, id_text), change);
    cut_off = reply.timed_out;
    if (reply.exit_code != 0) return reply.exit_code;
    return show_service_reply(context, start.show, service, reply.body);
  });
  if (started != exit_success && !cut_off) print(context.err, {own(hint)});
  return started;
}

}  // namespace tarnex
