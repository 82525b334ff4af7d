#include "output/tables.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

namespace tarnex {

namespace {

struct NodeRow {
  std::string name;
  std::string state;
  bool enabled = false;
};

struct ServiceRow {
  std::int64_t run_node = -1;
  std::string state;
  bool enabled = false;
};

struct PoolRow {
  std::string name;
  std::string state;
};

// A node with the names of the services placed on it, filled in one pass
// over the services so that placing them costs no per-node scan.
struct NodeEntry {
  NodeRow row;
  std::vector<std::string_view> services;
};

// A service row with its pools in the order read. A duplicate record adds
// its pools here although its row is dropped.
struct ServiceEntry {
  ServiceRow row;
  std::vector<PoolRow> pools;
};

using NodeRows = std::map<std::int64_t, NodeEntry>;
using ServiceRows = std::map<std::string, ServiceEntry, std::less<>>;

const std::string& empty_text() {
  static const std::string empty;
  return empty;
}

const Json* response_array(const Json& reply) {
  if (!reply.is_object()) return nullptr;
  const auto response = reply.find("response");
  if (response == reply.end() || !response->is_array()) return nullptr;
  return &*response;
}

const char* separator(bool first) {
  return first ? " " : ", ";
}

// Calls `visit` for each pool of a service record: the elements of an array,
// the member values of an object, a single non-null value once.
template <typename Visit>
void for_each_pool(const Json& record, Visit&& visit) {
  static const JsonPointer pools_pointer{"/pools"};
  if (!record.contains(pools_pointer)) return;
  const Json& pools = record.at(pools_pointer);
  if (pools.is_array() || pools.is_object()) {
    for (const Json& pool : pools)
      visit(pool);
  } else if (!pools.is_null()) {
    visit(pools);
  }
}

PoolRow read_pool(const Json& pool) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer state_pointer{"/state"};
  return PoolRow{json_get_string(pool, name_pointer, empty_text()),
                 json_get_string(pool, state_pointer, empty_text())};
}

void print_pool_item(FILE* out, bool first, const std::string& name, const std::string& state) {
  std::fprintf(out, "%s%s(%s)", separator(first), name.c_str(), state.c_str());
}

NodeRows collect_nodes(const Json& reply) {
  static const JsonPointer id_pointer{"/id"};
  static const JsonPointer name_pointer{"/nodename"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};

  NodeRows rows;
  const Json* response = response_array(reply);
  if (response == nullptr) return rows;
  for (const Json& record : *response) {
    const std::int64_t id = json_get_int(record, id_pointer, -1);
    if (id < 0 || rows.count(id) != 0) continue;
    rows.emplace(id, NodeEntry{NodeRow{json_get_string(record, name_pointer, empty_text()),
                                       json_get_string(record, state_pointer, empty_text()),
                                       json_get_bool(record, enabled_pointer, false)},
                               {}});
  }
  return rows;
}

ServiceRows collect_services(const Json& reply) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer run_node_pointer{"/run_node"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};

  ServiceRows rows;
  const Json* response = response_array(reply);
  if (response == nullptr) return rows;
  for (const Json& record : *response) {
    std::string name = json_get_string(record, name_pointer, empty_text());
    auto entry = rows.find(name);
    if (entry == rows.end()) {
      ServiceRow row{json_get_int(record, run_node_pointer, -1),
                     json_get_string(record, state_pointer, empty_text()),
                     json_get_bool(record, enabled_pointer, false)};
      entry = rows.emplace(std::move(name), ServiceEntry{std::move(row), {}}).first;
    }
    for_each_pool(record, [&entry](const Json& pool) { entry->second.pools.push_back(read_pool(pool)); });
  }
  return rows;
}

// Services come in ascending name order, so each node's list is sorted too.
void place_services(NodeRows& nodes, const ServiceRows& services) {
  for (const auto& [name, entry] : services) {
    const auto node = nodes.find(entry.row.run_node);
    if (node != nodes.end()) node->second.services.emplace_back(name);
  }
}

// Only ids 1..1023 name a node, judged on the low 32 bits taken as signed;
// anything else shows as not placed.
std::string node_cell(std::int64_t run_node) {
  const auto low =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(run_node)));
  if (low >= 1 && low <= 1023) return std::to_string(low);
  return "-";
}

void print_node_section(FILE* out, const NodeRows& nodes, bool with_services) {
  std::size_t width = 0;
  for (const auto& [id, entry] : nodes)
    width = std::max(width, entry.row.name.size());
  if (with_services) std::fputs("NODES:\n", out);
  std::fprintf(out, "%-*s %4s %9s %9s  %s\n", static_cast<int>(width), "NAME", "ID", "STATE", "STATUS",
               with_services ? "SERVICES" : "");
  for (const auto& [id, entry] : nodes) {
    print_node_row(out, static_cast<int>(width), entry.row.name, static_cast<std::uint64_t>(id),
                   entry.row.state, entry.row.enabled);
    if (with_services) {
      std::fputs("  [", out);
      bool first = true;
      for (const std::string_view service : entry.services) {
        std::fprintf(out, "%s%.*s", separator(first), static_cast<int>(service.size()), service.data());
        first = false;
      }
      std::fputs(" ]", out);
    }
    std::fputc('\n', out);
  }
  if (with_services) std::fputc('\n', out);
}

void print_service_section(FILE* out, const ServiceRows& services, bool with_nodes) {
  std::size_t width = 0;
  for (const auto& [name, entry] : services)
    width = std::max(width, name.size());
  if (with_nodes) std::fputs("SERVICES:\n", out);
  std::fprintf(out, "%-*s %4s %9s %9s  POOLS\n", static_cast<int>(width), "NAME", "NODE", "STATE", "STATUS");
  for (const auto& [name, entry] : services) {
    print_service_row(out, static_cast<int>(width), name, node_cell(entry.row.run_node), entry.row.state,
                      entry.row.enabled);
    std::fputs("  [", out);
    bool first = true;
    for (const PoolRow& pool : entry.pools) {
      print_pool_item(out, first, pool.name, pool.state);
      first = false;
    }
    std::fputs(" ]\n", out);
  }
}

}  // namespace

const char* status_cell(bool enabled) {
  return enabled ? "enabled" : "DISABLED";
}

void print_node_row(FILE* out, int width, const std::string& name, std::uint64_t id, const std::string& state,
                    bool enabled) {
  std::fprintf(out, "%-*s %4zu %9s %9s", width, name.c_str(), static_cast<std::size_t>(id), state.c_str(),
               status_cell(enabled));
}

void print_service_row(FILE* out, int width, const std::string& name, const std::string& node_cell,
                       const std::string& state, bool enabled) {
  std::fprintf(out, "%-*s %4s %9s %9s", width, name.c_str(), node_cell.c_str(), state.c_str(),
               status_cell(enabled));
}

void print_pool_list(FILE* out, const Json& record) {
  std::fputs("  [", out);
  bool first = true;
  for_each_pool(record, [&](const Json& pool) {
    const PoolRow row = read_pool(pool);
    print_pool_item(out, first, row.name, row.state);
    first = false;
  });
  std::fputs(" ]", out);
}

void print_tables(const Json& nodes, const Json& services, FILE* out) {
  NodeRows node_rows = collect_nodes(nodes);
  const ServiceRows service_rows = collect_services(services);
  const bool with_nodes = !node_rows.empty();
  const bool with_services = !service_rows.empty();
  if (with_nodes && with_services) place_services(node_rows, service_rows);
  if (with_nodes) print_node_section(out, node_rows, with_services);
  if (with_services) print_service_section(out, service_rows, with_nodes);
}

}  // namespace tarnex
