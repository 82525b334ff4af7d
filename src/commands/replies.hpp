#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "commands/context.hpp"
#include "daemon/message.hpp"

namespace tarnex {

// What the commands make of a reply that passed the failure test, apart from
// the exchange itself, so that it can be driven without a daemon (a context
// without a transport). Each writes to the context's streams as its command
// does and returns the command's exit status; JSON library exceptions are
// left to the command's handler.

// Node commands: `request` is the request that was sent (its "id" is the
// lookup key), `body` the reply.
int show_node_reply(const CommandContext& context, const std::string& action,
                    const std::optional<std::string>& node, const Json& request, const Json& body);

// Service commands (not move).
int show_service_reply(const CommandContext& context, const std::string& action,
                       const std::optional<std::string>& service, const Json& body);

// The checks of a service move on the target node in a node status reply.
// On success `id` is the node's id; otherwise the refusal has been written
// to the context's error stream and the result is the exit status.
int check_move_target(const CommandContext& context, const Json& nodes, const std::string& node,
                      std::int64_t& id);

// The checks of a service move on the service in its status reply: the
// first record of that name without an error, enabled. On refusal the
// reason has been written to the context's error stream.
int check_move_service(const CommandContext& context, const Json& services, const std::string& service);

}  // namespace tarnex
