#include "output/tables.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tarnex {
namespace {

struct Pool {
  std::string name;
  std::string state;
};

// A node of a node-list reply, with the names of the services placed on it.
struct NodeRow {
  std::int64_t id = -1;
  std::string name;
  std::string state;
  bool enabled = false;
  std::vector<std::string> services;
};

// A service of a service-list reply: the first record of its name gives the
// row, every record of that name gives pools.
struct ServiceRow {
  std::string name;
  std::int64_t run_node = -1;
  std::string state;
  bool enabled = false;
  std::vector<Pool> pools;
};

const Json* response_array(const Json& reply) {
  if (!reply.is_object()) return nullptr;
  const auto response = reply.find("response");
  if (response == reply.end() || !response->is_array()) return nullptr;
  return &*response;
}

// The pools of a record: the elements of an array, the member values of an
// object, a single non-null value.
std::vector<Pool> pools_of(const Json& record) {
  static const JsonPointer pools_pointer{"/pools"};
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer state_pointer{"/state"};
  std::vector<Pool> pools;
  if (!record.contains(pools_pointer)) return pools;
  const Json& listed = record.at(pools_pointer);
  const auto add = [&pools](const Json& pool) {
    pools.push_back({json_get_string(pool, name_pointer, ""), json_get_string(pool, state_pointer, "")});
  };
  if (listed.is_array() || listed.is_object()) {
    for (const Json& pool : listed)
      add(pool);
  } else if (!listed.is_null()) {
    add(listed);
  }
  return pools;
}

// Records with an id, by id; the first record of an id wins.
std::vector<NodeRow> read_nodes(const Json& reply) {
  static const JsonPointer id_pointer{"/id"};
  static const JsonPointer name_pointer{"/nodename"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};
  std::vector<NodeRow> nodes;
  const Json* response = response_array(reply);
  if (response == nullptr) return nodes;
  for (const Json& record : *response) {
    const std::int64_t id = json_get_int(record, id_pointer, -1);
    if (id < 0) continue;
    nodes.push_back({id,
                     json_get_string(record, name_pointer, ""),
                     json_get_string(record, state_pointer, ""),
                     json_get_bool(record, enabled_pointer, false),
                     {}});
  }
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const NodeRow& a, const NodeRow& b) { return a.id < b.id; });
  nodes.erase(std::unique(nodes.begin(), nodes.end(),
                          [](const NodeRow& a, const NodeRow& b) { return a.id == b.id; }),
              nodes.end());
  return nodes;
}

// Services by name as received; records of one name merge into the first.
std::vector<ServiceRow> read_services(const Json& reply) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer run_node_pointer{"/run_node"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};
  std::vector<ServiceRow> records;
  const Json* response = response_array(reply);
  if (response == nullptr) return records;
  for (const Json& record : *response) {
    records.push_back({json_get_string(record, name_pointer, ""), json_get_int(record, run_node_pointer, -1),
                       json_get_string(record, state_pointer, ""),
                       json_get_bool(record, enabled_pointer, false), pools_of(record)});
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const ServiceRow& a, const ServiceRow& b) { return a.name < b.name; });
  std::vector<ServiceRow> services;
  for (ServiceRow& record : records) {
    if (!services.empty() && services.back().name == record.name) {
      std::vector<Pool>& pools = services.back().pools;
      pools.insert(pools.end(), record.pools.begin(), record.pools.end());
    } else {
      services.push_back(std::move(record));
    }
  }
  return services;
}

// Services come in ascending name order, so each node's list is sorted too.
void place_services(std::vector<NodeRow>& nodes, const std::vector<ServiceRow>& services) {
  for (const ServiceRow& service : services) {
    const auto node =
        std::lower_bound(nodes.begin(), nodes.end(), service.run_node,
                         [](const NodeRow& candidate, std::int64_t id) { return candidate.id < id; });
    if (node != nodes.end() && node->id == service.run_node) node->services.push_back(service.name);
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

const char* status_cell(bool enabled) {
  return enabled ? "enabled" : "DISABLED";
}

void print_node_row(const Stream& out, int width, const std::string& name, const std::string& id,
                    const std::string& state, bool enabled) {
  std::fprintf(out.file, "%-*s %4s %9s %9s", width, shown(out, tarnex::name(name)).c_str(), id.c_str(),
               shown(out, tarnex::name(state)).c_str(), status_cell(enabled));
}

void print_service_row(const Stream& out, int width, const ServiceRow& service, const std::string& node) {
  std::fprintf(out.file, "%-*s %4s %9s %9s", width, shown(out, name(service.name)).c_str(),
               shown(out, name(node)).c_str(), shown(out, name(service.state)).c_str(),
               status_cell(service.enabled));
}

// "  [", the items (already as shown) after " " and then ", ", " ]".
void print_list(const Stream& out, const std::vector<std::string>& shown_items) {
  std::fputs("  [", out.file);
  for (std::size_t i = 0; i < shown_items.size(); ++i) {
    std::fputs(i == 0 ? " " : ", ", out.file);
    std::fputs(shown_items[i].c_str(), out.file);
  }
  std::fputs(" ]", out.file);
}

// A cell as shown, up to a NUL byte: table cells are C strings.
std::string cell(const Stream& out, const std::string& text) {
  std::string shown_text = shown(out, name(text));
  shown_text.resize(std::char_traits<char>::length(shown_text.c_str()));
  return shown_text;
}

void print_pools(const Stream& out, const std::vector<Pool>& pools) {
  std::vector<std::string> items;
  items.reserve(pools.size());
  for (const Pool& pool : pools)
    items.push_back(cell(out, pool.name) + "(" + cell(out, pool.state) + ")");
  print_list(out, items);
}

template <typename Row>
int name_width(const Stream& out, const std::vector<Row>& rows) {
  std::size_t width = 0;
  for (const Row& row : rows)
    width = std::max(width, shown(out, name(row.name)).size());
  return static_cast<int>(width);
}

void print_node_section(const Stream& out, const std::vector<NodeRow>& nodes, bool with_services) {
  const int width = name_width(out, nodes);
  if (with_services) std::fputs("NODES:\n", out.file);
  std::fprintf(out.file, "%-*s %4s %9s %9s  %s\n", width, "NAME", "ID", "STATE", "STATUS",
               with_services ? "SERVICES" : "");
  for (const NodeRow& node : nodes) {
    print_node_row(out, width, node.name, std::to_string(node.id), node.state, node.enabled);
    if (with_services) {
      std::vector<std::string> items;
      items.reserve(node.services.size());
      for (const std::string& service : node.services)
        items.push_back(cell(out, service));
      print_list(out, items);
    }
    std::fputc('\n', out.file);
  }
  if (with_services) std::fputc('\n', out.file);
}

void print_service_section(const Stream& out, const std::vector<ServiceRow>& services, bool with_nodes) {
  const int width = name_width(out, services);
  if (with_nodes) std::fputs("SERVICES:\n", out.file);
  std::fprintf(out.file, "%-*s %4s %9s %9s  POOLS\n", width, "NAME", "NODE", "STATE", "STATUS");
  for (const ServiceRow& service : services) {
    print_service_row(out, width, service, node_cell(service.run_node));
    print_pools(out, service.pools);
    std::fputc('\n', out.file);
  }
}

}  // namespace

void print_tables(const Stream& out, const Json& nodes, const Json& services) {
  std::vector<NodeRow> node_rows = read_nodes(nodes);
  const std::vector<ServiceRow> service_rows = read_services(services);
  const bool with_nodes = !node_rows.empty();
  const bool with_services = !service_rows.empty();
  if (with_nodes && with_services) place_services(node_rows, service_rows);
  if (with_nodes) print_node_section(out, node_rows, with_services);
  if (with_services) print_service_section(out, service_rows, with_nodes);
}

void print_node_line(const Stream& out, const Json& record) {
  static const JsonPointer id_pointer("/id");
  static const JsonPointer name_pointer("/nodename");
  static const JsonPointer state_pointer("/state");
  static const JsonPointer enabled_pointer("/enabled");
  // The id as its unsigned decimal form, or "-" when the record has no id
  // that reads as an integer (rather than 2^64-1).
  const std::int64_t id = json_get_int(record, id_pointer, -1);
  const bool no_id = id == -1 && json_get_int(record, id_pointer, 0) == 0;
  const std::string name = json_get_string(record, name_pointer, "");
  print_node_row(out, static_cast<int>(shown(out, tarnex::name(name)).size()), name,
                 no_id ? "-" : std::to_string(static_cast<std::uint64_t>(id)),
                 json_get_string(record, state_pointer, ""), json_get_bool(record, enabled_pointer, false));
  std::fputc('\n', out.file);
}

void print_service_line(const Stream& out, const Json& record) {
  static const JsonPointer name_pointer("/name");
  static const JsonPointer run_node_pointer("/run_node");
  static const JsonPointer state_pointer("/state");
  static const JsonPointer enabled_pointer("/enabled");
  const ServiceRow service{json_get_string(record, name_pointer, ""), -1,
                           json_get_string(record, state_pointer, ""),
                           json_get_bool(record, enabled_pointer, false), pools_of(record)};
  print_service_row(out, static_cast<int>(shown(out, name(service.name)).size()), service,
                    json_get_string(record, run_node_pointer, "-"));
  print_pools(out, service.pools);
  std::fputc('\n', out.file);
}

void print_command_list(const Stream& out, const Json& entries) {
  static const JsonPointer self("");
  std::fputs("COMMAND\n", out.file);
  for (const Json& entry : entries)
    print_line(out, {message(json_get_string(entry, self, ""))});
}

}  // namespace tarnex
