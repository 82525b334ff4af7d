#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon/message.hpp"

namespace tarnex {

// Node and service tables of a node-list reply and a service-list reply;
// either may be null (no rows).
void print_tables(const Json& nodes, const Json& services, FILE* out = stdout);

// Row layouts shared with the single-record displays. No newline of their own.
const char* status_cell(bool enabled);
void print_node_row(FILE* out, int width, const std::string& name, std::uint64_t id, const std::string& state,
                    bool enabled);
void print_service_row(FILE* out, int width, const std::string& name, const std::string& node_cell,
                       const std::string& state, bool enabled);

// Prints "  [", one "%s%s(%s)" item per pool of `record` (its "pools"
// member: array elements, object member values, or a single non-null value),
// then " ]". A record without "pools" gives "  [ ]".
void print_pool_list(FILE* out, const Json& record);

}  // namespace tarnex
