#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/cluster_model.hpp"
#include "commands/context.hpp"

namespace tarnex {

// The steps an action on one service is built from. Each writes its own
// refusal or failure to the context's streams and turns an exception into
// the handler's "Exception: ..." line, so that an action is their sequence:
// the move checks the target node and the service, stops the service, starts
// it on the target and, when that start did not complete, gives the
// recovery hint.

// The node a service is to run on, named by id or name in a node status
// reply: found, not one node's name and another's id, with an id, enabled
// and online. Its record, or nothing when refused.
std::optional<Node> check_target_node(const CommandContext& context, const Json& nodes,
                                      const std::string& node);

// The service in its status reply: the first record of that name without an
// error, enabled. `action` is what a disabled service refuses ("move").
// Its record, or nothing when refused.
std::optional<Service> check_service(const CommandContext& context, const Json& services,
                                     const std::string& service, std::string_view action);

// Stops the service as `service stop` does, its reply shown. `next_step` is
// named when a stop signal cuts the stop off after it was sent ("starting it
// on node 2"). The exit status.
int stop_service(const CommandContext& context, const std::string& service, const std::string& next_step);

struct StartOutcome {
  int status = 0;
  bool cut_off = false;  // no reply in time: the start may still take effect
};

// Starts the service on the node with id `node_id` as `service start` does,
// its reply shown, after flushing what was shown before (a stop signal may
// end the program during the start). `if_not_sent` is said after the line
// that the start was never sent.
StartOutcome start_service_on(const CommandContext& context, const std::string& service,
                              const std::string& node_id, const std::string& if_not_sent);

// What the operator is told of a service that was stopped and whose start on
// node `node_id` did not complete: that, and how to see its actual state.
std::string recovery_hint(const CommandContext& context, const std::string& service,
                          const std::string& node_id);

}  // namespace tarnex
