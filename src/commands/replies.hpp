#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "commands/catalogue.hpp"

namespace tarnex {

// What the commands make of a reply that passed the failure test, apart from
// the exchange itself, so that it can be driven without a daemon. Each
// writes to the context's streams as its command does and returns the
// command's exit status; JSON library exceptions are left to the command's
// handler.

// Node commands: `request` is the request that was sent (its "id" is the
// lookup key), `body` the reply.
int show_node_reply(const CommandContext& context, Show show, const std::optional<std::string>& node,
                    const Json& request, const Json& body);

// Service commands (not move).
int show_service_reply(const CommandContext& context, Show show, const std::optional<std::string>& service,
                       const Json& body);

// The checks of a service move on the target node in a node status reply:
// its id, or nothing when the node is refused (the reason written to the
// context's error stream).
std::optional<std::int64_t> check_move_target(const CommandContext& context, const Json& nodes,
                                              const std::string& node);

// The checks of a service move on the service in its status reply: the
// first record of that name without an error, enabled. False when refused,
// the reason written to the context's error stream.
bool check_move_service(const CommandContext& context, const Json& services, const std::string& service);

}  // namespace tarnex
