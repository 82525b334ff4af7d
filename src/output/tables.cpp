#include "output/tables.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "daemon/terminal_text.hpp"

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

// Everything is read from the reply in one pass, in reply order; sorting and
// printing then touch only the entries below.

// A node row with the names of the services placed on it, filled in one pass
// over the services so that placing them costs no scan per node.
struct NodeEntry {
  std::int64_t id = -1;
  NodeRow row;
  std::vector<const std::string*> services;
};

struct PoolCell {
  std::string name;
  std::string state;
};

// One service record of the reply, duplicates included. Entries are sorted
// by name, stably: the first entry of a name gives the row, and every entry
// of that name gives its pools.
struct ServiceEntry {
  std::string name;
  ServiceRow row;
  std::vector<PoolCell> pools;
};

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

std::string pool_name(const Json& pool) {
  static const JsonPointer name_pointer{"/name"};
  return json_get_string(pool, name_pointer, empty_text());
}

std::string pool_state(const Json& pool) {
  static const JsonPointer state_pointer{"/state"};
  return json_get_string(pool, state_pointer, empty_text());
}

// A cell as shown: the text itself, or at a terminal its neutralised form,
// kept in `shown`. Tables into pipes copy nothing.
const std::string& cell(const std::string& text, bool terminal, std::string& shown) {
  if (!terminal) return text;
  shown = neutralised(text, terminal, TextKind::name);
  return shown;
}

void print_pool_item(FILE* out, bool& first, const std::string& name, const std::string& state,
                     bool terminal) {
  std::string shown_name;
  std::string shown_state;
  std::fprintf(out, "%s%s(%s)", separator(first), cell(name, terminal, shown_name).c_str(),
               cell(state, terminal, shown_state).c_str());
  first = false;
}

std::vector<NodeEntry> collect_nodes(const Json& reply) {
  static const JsonPointer id_pointer{"/id"};
  static const JsonPointer name_pointer{"/nodename"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};

  std::vector<NodeEntry> nodes;
  const Json* response = response_array(reply);
  if (response == nullptr) return nodes;
  for (const Json& record : *response) {
    const std::int64_t id = json_get_int(record, id_pointer, -1);
    if (id < 0) continue;
    nodes.push_back(NodeEntry{id,
                              NodeRow{json_get_string(record, name_pointer, empty_text()),
                                      json_get_string(record, state_pointer, empty_text()),
                                      json_get_bool(record, enabled_pointer, false)},
                              {}});
  }
  // Stable, so the first record of an id leads its run and survives.
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const NodeEntry& a, const NodeEntry& b) { return a.id < b.id; });
  nodes.erase(std::unique(nodes.begin(), nodes.end(),
                          [](const NodeEntry& a, const NodeEntry& b) { return a.id == b.id; }),
              nodes.end());
  return nodes;
}

std::vector<ServiceEntry> collect_services(const Json& reply) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer run_node_pointer{"/run_node"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};

  std::vector<ServiceEntry> entries;
  const Json* response = response_array(reply);
  if (response == nullptr) return entries;
  entries.reserve(response->size());
  for (const Json& record : *response) {
    ServiceEntry entry{json_get_string(record, name_pointer, empty_text()),
                       ServiceRow{json_get_int(record, run_node_pointer, -1),
                                  json_get_string(record, state_pointer, empty_text()),
                                  json_get_bool(record, enabled_pointer, false)},
                       {}};
    for_each_pool(record, [&](const Json& pool) {
      entry.pools.push_back({pool_name(pool), pool_state(pool)});
    });
    entries.push_back(std::move(entry));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ServiceEntry& a, const ServiceEntry& b) { return a.name < b.name; });
  return entries;
}

// Calls `visit` with the entries of each name in turn, [first, end).
template <typename Visit>
void for_each_service(const std::vector<ServiceEntry>& entries, Visit&& visit) {
  for (auto first = entries.begin(); first != entries.end();) {
    auto end = first + 1;
    while (end != entries.end() && end->name == first->name)
      ++end;
    visit(first, end);
    first = end;
  }
}

// Services come in ascending name order, so each node's list is sorted too.
void place_services(std::vector<NodeEntry>& nodes, const std::vector<ServiceEntry>& services) {
  for_each_service(services, [&nodes](auto service, auto /*end*/) {
    const auto node =
        std::lower_bound(nodes.begin(), nodes.end(), service->row.run_node,
                         [](const NodeEntry& candidate, std::int64_t id) { return candidate.id < id; });
    if (node != nodes.end() && node->id == service->row.run_node) node->services.push_back(&service->name);
  });
}

// Only ids 1..1023 name a node, judged on the low 32 bits taken as signed;
// anything else shows as not placed.
std::string node_cell(std::int64_t run_node) {
  const auto low =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(run_node)));
  if (low >= 1 && low <= 1023) return std::to_string(low);
  return "-";
}

// The widths of the name columns count the names as shown.
void print_node_section(FILE* out, const std::vector<NodeEntry>& nodes, bool with_services, bool terminal) {
  std::vector<std::string> shown;  // at a terminal, the names as shown
  std::size_t width = 0;
  for (const NodeEntry& node : nodes) {
    const std::string& name =
        terminal ? shown.emplace_back(neutralised(node.row.name, terminal, TextKind::name)) : node.row.name;
    width = std::max(width, name.size());
  }
  if (with_services) std::fputs("NODES:\n", out);
  std::fprintf(out, "%-*s %4s %9s %9s  %s\n", static_cast<int>(width), "NAME", "ID", "STATE", "STATUS",
               with_services ? "SERVICES" : "");
  std::string shown_cell;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const NodeEntry& node = nodes[i];
    print_node_row(out, static_cast<int>(width), terminal ? shown[i] : node.row.name,
                   static_cast<std::uint64_t>(node.id), cell(node.row.state, terminal, shown_cell),
                   node.row.enabled);
    if (with_services) {
      std::fputs("  [", out);
      bool first = true;
      for (const std::string* service : node.services) {
        std::fprintf(out, "%s%s", separator(first), cell(*service, terminal, shown_cell).c_str());
        first = false;
      }
      std::fputs(" ]", out);
    }
    std::fputc('\n', out);
  }
  if (with_services) std::fputc('\n', out);
}

// Rows are grouped and ordered by the names as received; only what is shown
// of them is neutralised.
void print_service_section(FILE* out, const std::vector<ServiceEntry>& services, bool with_nodes,
                           bool terminal) {
  std::vector<std::string> shown;  // at a terminal, the names as shown
  std::size_t width = 0;
  for_each_service(services, [&](auto service, auto /*end*/) {
    const std::string& name =
        terminal ? shown.emplace_back(neutralised(service->name, terminal, TextKind::name)) : service->name;
    width = std::max(width, name.size());
  });
  if (with_nodes) std::fputs("SERVICES:\n", out);
  std::fprintf(out, "%-*s %4s %9s %9s  POOLS\n", static_cast<int>(width), "NAME", "NODE", "STATE", "STATUS");
  auto shown_name = shown.begin();
  std::string shown_state;
  for_each_service(services, [&](auto service, auto end) {
    print_service_row(out, static_cast<int>(width), terminal ? *shown_name++ : service->name,
                      node_cell(service->row.run_node), cell(service->row.state, terminal, shown_state),
                      service->row.enabled);
    std::fputs("  [", out);
    bool first = true;
    for (auto entry = service; entry != end; ++entry) {
      for (const PoolCell& pool : entry->pools)
        print_pool_item(out, first, pool.name, pool.state, terminal);
    }
    std::fputs(" ]\n", out);
  });
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

void print_pool_list(FILE* out, const Json& record, bool terminal) {
  std::fputs("  [", out);
  bool first = true;
  for_each_pool(record, [&](const Json& pool) {
    print_pool_item(out, first, pool_name(pool), pool_state(pool), terminal);
  });
  std::fputs(" ]", out);
}

void print_tables(const Json& nodes, const Json& services, FILE* out, bool terminal) {
  std::vector<NodeEntry> node_rows = collect_nodes(nodes);
  const std::vector<ServiceEntry> service_table = collect_services(services);
  const bool with_nodes = !node_rows.empty();
  const bool with_services = !service_table.empty();
  if (with_nodes && with_services) place_services(node_rows, service_table);
  if (with_nodes) print_node_section(out, node_rows, with_services, terminal);
  if (with_services) print_service_section(out, service_table, with_nodes, terminal);
}

}  // namespace tarnex
