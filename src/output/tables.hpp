#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon/message.hpp"

namespace tarnex {

// Node and service tables of a node-list reply and a service-list reply;
// either may be null (no rows). On a terminal (`terminal`) every cell from
// the daemon is neutralised and the columns are as wide as the shown forms.
void print_tables(const Json& nodes, const Json& services, FILE* out = stdout, bool terminal = false);

// Row layouts shared with the single-record displays, for cells already as
// shown (neutralised). No newline of their own.
const char* status_cell(bool enabled);
void print_node_row(FILE* out, int width, const std::string& name, std::uint64_t id, const std::string& state,
                    bool enabled);
void print_service_row(FILE* out, int width, const std::string& name, const std::string& node_cell,
                       const std::string& state, bool enabled);

// Prints "  [", one "%s%s(%s)" item per pool of `record` (its "pools"
// member: array elements, object member values, or a single non-null value),
// then " ]". A record without "pools" gives "  [ ]". Names and states are
// neutralised on a terminal.
void print_pool_list(FILE* out, const Json& record, bool terminal);

}  // namespace tarnex
