#include "commands/changes.hpp"

#include <cstdio>
#include <string_view>

#include "commands/interrupt_hint.hpp"

namespace tarnex {
namespace {

std::string capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

// The verb of an action as the line says it: "disabling", "breaking off ...".
std::string doing(std::string_view action, const std::string& subject) {
  if (action == "enable") return "enabling " + subject;
  if (action == "disable") return "disabling " + subject;
  if (action == "break") return "breaking off the command in progress on " + subject;
  if (action == "start") return "starting " + subject;
  if (action == "stop") return "stopping " + subject;
  return std::string(action) + " of " + subject;
}

}  // namespace

bool changes_state(const std::string& action) {
  return action != "list" && action != "status" && action != "info" && action != "help";
}

Change node_change(const std::string& program_name, const std::string& action, const std::string& node) {
  const std::string subject = "node " + node;
  return {action == "exit" ? "removing " + subject + " from the cluster" : doing(action, subject),
          program_name + " node status --id=" + node,
          {}};
}

Change service_change(const std::string& program_name, const std::string& action, const std::string& service,
                      const std::optional<std::string>& node) {
  std::string subject = "service " + service;
  if (action == "start" && node) subject += " on node " + *node;
  return {doing(action, subject), program_name + " service status --name=" + service, {}};
}

Change cluster_exit_change(const std::string& program_name) {
  return {"stopping every service and removing every node", program_name + " cluster status", {}};
}

DaemonReply send_change(const CommandContext& context, const Json& request, const Change& change) {
  const std::string not_sent = " was not sent; no connection to the daemon was made\n" + change.if_not_sent;
  const std::string interrupted = "Interrupted: " + change.doing +
                                  " may already have taken effect; check the actual state: " + change.check +
                                  "\n";
  const std::string interrupted_unsent = "Interrupted: " + change.doing + not_sent;
  ExchangeState state;
  DaemonChannel channel = context.daemon;
  channel.state = &state;
  const bool dots_on_terminal = channel.progress == context.err || context.out_is_terminal;
  DaemonReply reply = [&] {
    const InterruptHint hint(interrupted, interrupted_unsent, state,
                             context.err_is_terminal && dots_on_terminal);
    return send_request(channel, request);
  }();
  if (reply.timed_out && !reply.reached) {
    std::fprintf(context.err, "%s%s", capitalised(change.doing).c_str(), not_sent.c_str());
  } else if (reply.timed_out) {
    std::fprintf(context.err, "%s may have taken effect all the same; check the actual state: %s\n",
                 capitalised(change.doing).c_str(), change.check.c_str());
  }
  return reply;
}

}  // namespace tarnex
