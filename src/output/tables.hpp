#pragma once

#include "base/json.hpp"
#include "base/stream.hpp"

namespace tarnex {

// Node and service tables of a node-list reply and a service-list reply;
// either may be null (no rows). Columns are as wide as the names as shown.
void print_tables(const Stream& out, const Json& nodes, const Json& services);

// The one-line view of a single node record of a node status reply.
void print_node_line(const Stream& out, const Json& record);

// The one-line view of a single service record, with its pools.
void print_service_line(const Stream& out, const Json& record);

// The daemon's list of commands, under a "COMMAND" heading.
void print_command_list(const Stream& out, const Json& entries);

}  // namespace tarnex
