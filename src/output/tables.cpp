#include "output/tables.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/cluster_model.hpp"

namespace tarnex {
namespace {

// A node of the table, with the names of the services placed on it.
struct NodeRow {
  Node node;
  std::vector<std::string> services;
};

// Services come in ascending name order, so each node's list is sorted too.
void place_services(std::vector<NodeRow>& nodes, const std::vector<Service>& services) {
  for (const Service& service : services) {
    const auto node =
        std::lower_bound(nodes.begin(), nodes.end(), service.run_node,
                         [](const NodeRow& candidate, std::int64_t id) { return candidate.node.id < id; });
    if (node != nodes.end() && node->node.id == service.run_node) node->services.push_back(service.name);
  }
}

// A node that places nothing shows as not placed.
std::string node_cell(std::int64_t run_node) {
  const int node = placed_node(run_node);
  return node == 0 ? "-" : std::to_string(node);
}

const char* status_cell(bool enabled) {
  return enabled ? "enabled" : "DISABLED";
}

void print_node_row(const Stream& out, int width, const std::string& name, const std::string& id,
                    const std::string& state, bool enabled) {
  std::fprintf(out.file, "%-*s %4s %9s %9s", width, shown(out, tarnex::name(name)).c_str(), id.c_str(),
               shown(out, tarnex::name(state)).c_str(), status_cell(enabled));
}

void print_service_row(const Stream& out, int width, const Service& service, const std::string& node) {
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

const Node& record_of(const NodeRow& row) {
  return row.node;
}

const Service& record_of(const Service& row) {
  return row;
}

template <typename Row>
int name_width(const Stream& out, const std::vector<Row>& rows) {
  std::size_t width = 0;
  for (const Row& row : rows)
    width = std::max(width, shown(out, name(record_of(row).name)).size());
  return static_cast<int>(width);
}

void print_node_section(const Stream& out, const std::vector<NodeRow>& nodes, bool with_services) {
  const int width = name_width(out, nodes);
  if (with_services) std::fputs("NODES:\n", out.file);
  std::fprintf(out.file, "%-*s %4s %9s %9s  %s\n", width, "NAME", "ID", "STATE", "STATUS",
               with_services ? "SERVICES" : "");
  for (const NodeRow& row : nodes) {
    const Node& node = row.node;
    print_node_row(out, width, node.name, std::to_string(node.id), node.state, node.enabled);
    if (with_services) {
      std::vector<std::string> items;
      items.reserve(row.services.size());
      for (const std::string& service : row.services)
        items.push_back(cell(out, service));
      print_list(out, items);
    }
    std::fputc('\n', out.file);
  }
  if (with_services) std::fputc('\n', out.file);
}

void print_service_section(const Stream& out, const std::vector<Service>& services, bool with_nodes) {
  const int width = name_width(out, services);
  if (with_nodes) std::fputs("SERVICES:\n", out.file);
  std::fprintf(out.file, "%-*s %4s %9s %9s  POOLS\n", width, "NAME", "NODE", "STATE", "STATUS");
  for (const Service& service : services) {
    print_service_row(out, width, service, node_cell(service.run_node));
    print_pools(out, service.pools);
    std::fputc('\n', out.file);
  }
}

}  // namespace

void print_tables(const Stream& out, const Json& nodes, const Json& services) {
  static const ReadRules table_rules{.merged = true, .only_numbered = true};
  std::vector<NodeRow> node_rows;
  for (Node& node : read_nodes(nodes, table_rules))
    node_rows.push_back({std::move(node), {}});
  const std::vector<Service> service_rows = read_services(services, table_rules);
  const bool with_nodes = !node_rows.empty();
  const bool with_services = !service_rows.empty();
  if (with_nodes && with_services) place_services(node_rows, service_rows);
  if (with_nodes) print_node_section(out, node_rows, with_services);
  if (with_services) print_service_section(out, service_rows, with_nodes);
}

void print_node_line(const Stream& out, const Json& record) {
  static const JsonPointer id_pointer("/id");
  // The id as its unsigned decimal form, or "-" when the record has no id
  // that reads as an integer (rather than 2^64-1).
  const Node node = read_node(record);
  const bool no_id = node.id == -1 && json_get_int(record, id_pointer, 0) == 0;
  print_node_row(out, static_cast<int>(shown(out, tarnex::name(node.name)).size()), node.name,
                 no_id ? "-" : std::to_string(static_cast<std::uint64_t>(node.id)), node.state, node.enabled);
  std::fputc('\n', out.file);
}

void print_service_line(const Stream& out, const Json& record) {
  static const JsonPointer run_node_pointer("/run_node");
  const Service service = read_service(record);
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
