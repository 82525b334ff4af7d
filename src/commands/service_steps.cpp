#include "commands/service_steps.hpp"

#include <cstdio>
#include <utility>

#include "commands/catalogue.hpp"
#include "commands/changes.hpp"
#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/support.hpp"

namespace tarnex {

std::optional<Node> check_target_node(const CommandContext& context, const Json& nodes,
                                      const std::string& node) {
  const Json* record = lookup_node(nodes, node);
  if (record == nullptr) {
    report_node_not_found(context.err, node);
    return std::nullopt;
  }
  Node target = read_node(*record);
  if (target.id < 0) {
    print_line(context.err, {"Error: cannot resolve node id: ", typed(node)});
    return std::nullopt;
  }
  // Every other command sends the reference and the daemon reads digits as
  // an id: a start elsewhere must not take it for a name then.
  if (node_id_clash(nodes, *record, node) != nullptr) {
    print_line(context.err, {"Error: node reference is ambiguous: ", typed(node), " is the name of node ",
                             own(std::to_string(target.id)), " and the id of node ", typed(node)});
    return std::nullopt;
  }
  if (!target.enabled) {
    print_line(context.err, {"Error: cannot run service on disabled node: ", typed(node)});
    return std::nullopt;
  }
  if (node_state(target.state) != NodeState::online) {
    print_line(context.err, {"Error: cannot run service on node ", typed(node), ": state is ",
                             target.state.empty() ? Text("unknown") : name(target.state)});
    return std::nullopt;
  }
  return target;
}

std::optional<Service> check_service(const CommandContext& context, const Json& services,
                                     const std::string& service, std::string_view action) {
  std::optional<Service> found;
  if (const Json* response = response_list(services); response != nullptr) {
    for (const Json& record : *response) {
      // Only an object names a service, even the one with the empty name.
      if (!record.is_object()) continue;
      Service candidate = read_service(record);
      if (!candidate.error && candidate.name == service) {
        found = std::move(candidate);
        break;
      }
    }
  }
  if (!found) {
    print_line(context.err, {"Error: service can not be found: ", typed(service)});
    return std::nullopt;
  }
  if (!found->enabled) {
    print_line(context.err, {"Error: cannot ", own(action), " disabled service: ", typed(service)});
    return std::nullopt;
  }
  return found;
}

int stop_service(const CommandContext& context, const std::string& service, const std::string& next_step) {
  static const CommandRow& stop = *find_command("service", "stop");
  return run_guarded(context, [&] {
    Change change = change_of(context, stop, {std::nullopt, service, false, false});
    change.next_step = next_step;
    const DaemonReply reply =
        send_change(context, service_request(stop.command, service, std::nullopt), change);
    if (reply.exit_code != 0) return reply.exit_code;
    return show_service_reply(context, stop.show, service, reply.body);
  });
}

StartOutcome start_service_on(const CommandContext& context, const std::string& service,
                              const std::string& node_id, const std::string& if_not_sent) {
  static const CommandRow& start = *find_command("service", "start");
  std::fflush(context.out.file);
  StartOutcome outcome;
  outcome.status = run_guarded(context, [&] {
    Change change = change_of(context, start, {node_id, service, false, false});
    change.if_not_sent = if_not_sent;
    const DaemonReply reply = send_change(context, service_request(start.command, service, node_id), change);
    outcome.cut_off = reply.timed_out;
    if (reply.exit_code != 0) return reply.exit_code;
    return show_service_reply(context, start.show, service, reply.body);
  });
  return outcome;
}

std::string recovery_hint(const CommandContext& context, const std::string& service,
                          const std::string& node_id) {
  return "Service " + shown(context.err, typed(service)) + " was stopped, but the start on node " + node_id +
         " did not complete.\nCheck the actual state: " + command_word(context.err, context.program_name) +
         " service status --name=" + command_word(context.err, service) + "\n";
}

}  // namespace tarnex
