#pragma once

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

}  // namespace tarnex
