#include <cstdint>
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

std::string move_recovery_hint(const std::string& program_name, const std::string& service,
                               const std::string& id_text) {
  static constexpr char format[] =
      "Service %s was stopped, but the start on node %s did not complete.\n"
      "Check the actual state: %s service status --name=%s\n";
  const int size = std::snprintf(nullptr, 0, format, service.c_str(), id_text.c_str(), program_name.c_str(),
                                 service.c_str());
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, service.c_str(), id_text.c_str(), program_name.c_str(),
                service.c_str());
  text.pop_back();
  return text;
}

void print_service_line(FILE* out, bool terminal, const Json& record) {
  static const JsonPointer name_pointer("/name");
  static const JsonPointer run_node_pointer("/run_node");
  static const JsonPointer state_pointer("/state");
  static const JsonPointer enabled_pointer("/enabled");
  const auto cell = [&](const JsonPointer& pointer, const std::string& fallback) {
    return neutralised(json_get_string(record, pointer, fallback), terminal, TextKind::name);
  };
  const std::string name = cell(name_pointer, "");
  print_service_row(out, static_cast<int>(name.size()), name, cell(run_node_pointer, "-"),
                    cell(state_pointer, ""), json_get_bool(record, enabled_pointer, false));
  print_pool_list(out, record, terminal);
  std::fputc('\n', out);
}

void print_help_list(FILE* out, bool terminal, const Json& entries) {
  static const JsonPointer self("");
  std::fputs("COMMAND\n", out);
  for (const Json& entry : entries)
    print_text_line(out, terminal, json_get_string(entry, self, ""));
}

// Shows the records of a reply to a request naming one service; the first
// element that reports an error ends the walk with status 11.
int print_named_records(const CommandContext& context, const std::string& action, const std::string& service,
                        const Json& records) {
  static const JsonPointer error_message_pointer("/errorMessage");
  static const JsonPointer name_pointer("/name");
  const bool show = action == "info" || action == "status";
  const bool terminal = context.err_is_terminal;
  for (const Json& record : records) {
    if (record.is_object() && record.contains("error")) {
      const std::string message = json_get_string(record, error_message_pointer, "");
      const std::string name = json_get_string(record, name_pointer, service);
      std::fprintf(context.err, "Error: %s: %s\n", neutralised(message, terminal, TextKind::message).c_str(),
                   neutralised(name, terminal, TextKind::name).c_str());
      return exit_request_failed;
    }
    if (show) print_service_line(context.out, context.out_is_terminal, record);
  }
  return exit_success;
}

}  // namespace

int show_service_reply(const CommandContext& context, const std::string& action,
                       const std::optional<std::string>& service, const Json& body) {
  static const JsonPointer message_pointer("/response/message");
  if (!body.is_object()) return exit_success;

  auto response = body.find("response");
  if (response != body.end() && response->is_array()) {
    if (action == "help") {
      print_help_list(context.out, context.out_is_terminal, *response);
      return exit_success;
    }
    if (!service) {
      print_tables(Json(), body, context.out, context.out_is_terminal);
      return exit_success;
    }
    return print_named_records(context, action, *service, *response);
  }
  if (response != body.end() && response->is_object() && body.contains(message_pointer)) {
    // The one strictly read member: a message that is not a string is an error.
    print_text_line(context.out, context.out_is_terminal, response->at("message").get<std::string>());
  }
  return exit_success;
}

namespace {

// A service command without its handler: the request (a change announced
// as such) and what its reply shows.
DaemonReply service_exchange(const CommandContext& context, const std::string& action,
                             const std::optional<std::string>& service,
                             const std::optional<std::string>& node) {
  const Json request = service_request(action, service, node);
  if (service && changes_state(action)) {
    return send_change(context, request, service_change(context.program_name, action, *service, node));
  }
  return send_request(context.daemon, request);
}

int service_command(const CommandContext& context, const std::string& action,
                    const std::optional<std::string>& service, const std::optional<std::string>& node) {
  const DaemonReply reply = service_exchange(context, action, service, node);
  if (reply.exit_code != 0) return reply.exit_code;
  return show_service_reply(context, action, service, reply.body);
}

}  // namespace

int run_service_command(const CommandContext& context, const std::string& action,
                        const std::optional<std::string>& service, const std::optional<std::string>& node) {
  return run_guarded(context, [&] { return service_command(context, action, service, node); });
}

int check_move_target(const CommandContext& context, const Json& nodes, const std::string& node,
                      std::int64_t& id) {
  static const JsonPointer id_pointer("/id");
  static const JsonPointer enabled_pointer("/enabled");
  static const JsonPointer state_pointer("/state");

  FILE* err = context.err;
  const Json* record = lookup_node(nodes, node);
  if (record == nullptr) return report_node_not_found(err, node);
  id = json_get_int(*record, id_pointer, -1);
  if (id < 0) {
    std::fprintf(err, "Error: cannot resolve node id: %s\n", node.c_str());
    return exit_request_failed;
  }
  if (!json_get_bool(*record, enabled_pointer, false)) {
    std::fprintf(err, "Error: cannot run service on disabled node: %s\n", node.c_str());
    return exit_request_failed;
  }
  const std::string state = json_get_string(*record, state_pointer, "");
  if (state != "ONLINE") {
    const std::string shown = neutralised(state, context.err_is_terminal, TextKind::name);
    std::fprintf(err, "Error: cannot run service on node %s: state is %s\n", node.c_str(),
                 state.empty() ? "unknown" : shown.c_str());
    return exit_request_failed;
  }
  return exit_success;
}

int check_move_service(const CommandContext& context, const Json& services, const std::string& service) {
  static const JsonPointer name_pointer("/name");
  static const JsonPointer enabled_pointer("/enabled");
  const Json* record = nullptr;
  if (services.is_object()) {
    const auto response = services.find("response");
    if (response != services.end() && response->is_array()) {
      for (const Json& candidate : *response) {
        if (candidate.is_object() && !candidate.contains("error") &&
            json_get_string(candidate, name_pointer, "") == service) {
          record = &candidate;
          break;
        }
      }
    }
  }
  const std::string shown = neutralised(service, context.err_is_terminal, TextKind::name);
  if (record == nullptr) {
    std::fprintf(context.err, "Error: service can not be found: %s\n", shown.c_str());
    return exit_request_failed;
  }
  if (!json_get_bool(*record, enabled_pointer, false)) {
    std::fprintf(context.err, "Error: cannot move disabled service: %s\n", shown.c_str());
    return exit_request_failed;
  }
  return exit_success;
}

// The checks, on the target node and then on the service, come before
// anything that changes the cluster. A start that failed leaves the service
// stopped, and the operator is told so; a start cut off by the timeout or a
// signal may still take effect, and is told as such.
int move_service(const CommandContext& context, const std::string& service, const std::string& node) {
  std::string id_text;
  const int ready = run_guarded(context, [&] {
    const DaemonReply nodes = send_request(context.daemon, node_request("status", std::nullopt, false));
    if (nodes.exit_code != 0) return nodes.exit_code;
    std::int64_t id = -1;
    if (const int refused = check_move_target(context, nodes.body, node, id); refused != exit_success) {
      return refused;
    }
    id_text = std::to_string(id);
    const DaemonReply services =
        send_request(context.daemon, service_request("status", service, std::nullopt));
    if (services.exit_code != 0) return services.exit_code;
    if (const int refused = check_move_service(context, services.body, service); refused != exit_success) {
      return refused;
    }
    return service_command(context, "stop", service, std::nullopt);
  });
  if (ready != exit_success) return ready;

  const std::string hint = move_recovery_hint(context.program_name, service, id_text);
  // What the stop printed must not be lost if a signal ends the start.
  std::fflush(context.out);
  bool cut_off = false;
  const int started = run_guarded(context, [&] {
    Change change = service_change(context.program_name, "start", service, id_text);
    change.if_not_sent = hint;
    const DaemonReply reply = send_change(context, service_request("start", service, id_text), change);
    cut_off = reply.timed_out;
    if (reply.exit_code != 0) return reply.exit_code;
    return show_service_reply(context, "start", service, reply.body);
  });
  if (started != exit_success && !cut_off) std::fputs(hint.c_str(), context.err);
  return started;
}

}  // namespace tarnex
