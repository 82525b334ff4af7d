#include "monitor/exporter_metrics.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <unordered_map>

namespace tarnex::monitor {
namespace {

using StateList = std::vector<std::string_view>;

constexpr Descriptor up{"tarnex_up", "1 when the daemon answered both status requests, else 0.", "gauge"};
constexpr Descriptor scrape_duration{"tarnex_scrape_duration_seconds",
                                     "How long the status requests of this scrape took.", "gauge"};
constexpr Descriptor build_info{"tarnex_build_info", "The exporter's version, as a label; always 1.",
                                "gauge"};
constexpr Descriptor node_state{"tarnex_node_state", "1 for the node's current state, 0 for the others.",
                                "gauge"};
constexpr Descriptor node_enabled{"tarnex_node_enabled", "1 when the node is enabled, else 0.", "gauge"};
constexpr Descriptor service_state{"tarnex_service_state",
                                   "1 for the service's current state, 0 for the others.", "gauge"};
constexpr Descriptor service_enabled{"tarnex_service_enabled", "1 when the service is enabled, else 0.",
                                     "gauge"};
constexpr Descriptor service_placed{
    "tarnex_service_placed", "1 for the node the service is placed on; no series when it is placed nowhere.",
    "gauge"};
constexpr Descriptor pool_state{"tarnex_pool_state", "1 for the pool's current state, 0 for the others.",
                                "gauge"};

constexpr std::array exporter_families{&up, &scrape_duration, &build_info};
constexpr std::array node_families{&node_state, &node_enabled};
constexpr std::array service_families{&service_state, &service_enabled, &service_placed};
constexpr std::array pool_families{&pool_state};

// The wire words of a kind's known states, as the cluster model lists them.
template <typename State>
std::vector<std::string_view> words_of(std::span<const StateWord<State>> table) {
  std::vector<std::string_view> words;
  for (const StateWord<State>& entry : table)
    words.push_back(entry.word);
  return words;
}

const StateList& node_states() {
  static const std::vector<std::string_view> words = words_of(node_state_words());
  return words;
}

const StateList& service_states() {
  static const std::vector<std::string_view> words = words_of(service_state_words());
  return words;
}

const StateList& pool_states() {
  static const std::vector<std::string_view> words = words_of(pool_state_words());
  return words;
}

// A record's state set: a series for each known state of its kind, 1 when
// any of `states` is that one, then a series of 1 for each state in
// `states` the kind does not know. An empty state tells nothing and has no
// series; a record whose state is unknown has only the known ones, all 0.
template <typename Emit>
void state_set(const StateList& known, const std::vector<std::string_view>& states, Emit emit) {
  const auto in = [&](std::string_view state) {
    return std::find(states.begin(), states.end(), state) != states.end();
  };
  for (const std::string_view state : known)
    emit(state, in(state) ? 1.0 : 0.0);
  for (auto state = states.begin(); state != states.end(); ++state) {
    const bool known_state = std::find(known.begin(), known.end(), *state) != known.end();
    if (state->empty() || known_state || std::find(states.begin(), state, *state) != state) continue;
    emit(std::string_view(label_value(*state)), 1.0);
  }
}

void collect_exporter(const Scrape& scrape, Exposition& out) {
  out.family(up);
  out.sample(up, {}, scrape.snapshot != nullptr ? 1 : 0);
  out.family(scrape_duration);
  out.sample(scrape_duration, {}, std::chrono::duration<double>(scrape.duration).count());
  out.family(build_info);
  out.sample(build_info, {{"version", TARNEX_PACKAGE_VERSION}}, 1);
}

void collect_nodes(const Scrape& scrape, Exposition& out) {
  const std::vector<NodeRecord>& nodes = scrape.snapshot->nodes;
  std::vector<std::string> names;
  std::vector<std::string> ids;
  for (const NodeRecord& node : nodes) {
    names.push_back(label_value(node.name));
    ids.push_back(std::to_string(node.id));
  }
  out.family(node_state);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    state_set(node_states(), {nodes[i].state}, [&](std::string_view state, double value) {
      out.sample(node_state, {{"node", names[i]}, {"id", ids[i]}, {"state", state}}, value);
    });
  }
  out.family(node_enabled);
  for (std::size_t i = 0; i < nodes.size(); ++i)
    out.sample(node_enabled, {{"node", names[i]}, {"id", ids[i]}}, nodes[i].enabled ? 1 : 0);
}

// Every state the records of the service's name were in; none when its
// only record holds an error.
std::vector<std::string_view> service_states_of(const ServiceRecord& service) {
  std::vector<std::string_view> states;
  if (!service.error) states.emplace_back(service.state);
  states.insert(states.end(), service.more_states.begin(), service.more_states.end());
  return states;
}

void collect_services(const Scrape& scrape, Exposition& out) {
  const Snapshot& snapshot = *scrape.snapshot;
  std::unordered_map<int, std::string> node_names;
  for (const NodeRecord& node : snapshot.nodes) {
    // Only a node a service can be placed on gives a name to placements.
    if (const int id = placed_node(node.id); id != 0 && id == node.id)
      node_names.emplace(id, label_value(node.name));
  }
  std::vector<std::string> names;
  for (const ServiceRecord& service : snapshot.services)
    names.push_back(label_value(service.name));
  out.family(service_state);
  for (std::size_t i = 0; i < names.size(); ++i) {
    state_set(service_states(), service_states_of(snapshot.services[i]),
              [&](std::string_view state, double value) {
                out.sample(service_state, {{"service", names[i]}, {"state", state}}, value);
              });
  }
  // A service whose record holds an error is neither enabled nor disabled.
  out.family(service_enabled);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const ServiceRecord& service = snapshot.services[i];
    if (!service.error) out.sample(service_enabled, {{"service", names[i]}}, service.enabled ? 1 : 0);
  }
  out.family(service_placed);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int node = placed_node(snapshot.services[i].run_node);
    if (node == 0) continue;
    const auto name = node_names.find(node);
    const std::string id = std::to_string(node);
    out.sample(service_placed,
               {{"service", names[i]}, {"node", name == node_names.end() ? "" : name->second}, {"id", id}},
               1);
  }
}

// A pool listed more than once under a service (by its name as the daemon
// sent it) has one state set, 1 for every state any listing is in.
void collect_pools(const Scrape& scrape, Exposition& out) {
  out.family(pool_state);
  for (const ServiceRecord& service : scrape.snapshot->services) {
    if (service.pools.empty()) continue;
    std::map<std::string_view, std::vector<std::string_view>> pools;
    for (const PoolRecord& pool : service.pools)
      pools[pool.name].emplace_back(pool.state);
    const std::string name = label_value(service.name);
    for (const auto& [pool, states] : pools) {
      const std::string pool_name = label_value(pool);
      state_set(pool_states(), states, [&](std::string_view state, double value) {
        out.sample(pool_state, {{"pool", pool_name}, {"service", name}, {"state", state}}, value);
      });
    }
  }
}

// The exposition format's escaping of a label value.
void append_escaped(std::string& page, std::string_view value) {
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      page += '\\';
      page += c;
    } else if (c == '\n') {
      page += "\\n";
    } else {
      page += c;
    }
  }
}

}  // namespace

Exposition::Exposition(std::vector<std::string>& pieces) : pieces_(pieces) {}

std::string& Exposition::page() {
  constexpr std::size_t piece_size = std::size_t{64} * 1024;
  if (pieces_.empty() || pieces_.back().size() >= piece_size) {
    pieces_.emplace_back();
    pieces_.back().reserve(piece_size + 1024);
  }
  return pieces_.back();
}

void Exposition::family(const Descriptor& descriptor) {
  std::string& text = page();
  text.append("# HELP ").append(descriptor.name).append(" ").append(descriptor.help);
  text.append("\n# TYPE ").append(descriptor.name).append(" ").append(descriptor.type).append("\n");
}

void Exposition::sample(const Descriptor& descriptor, std::initializer_list<Label> labels, double value) {
  std::string& text = page();
  text += descriptor.name;
  const char* separator = "{";
  for (const auto& [name, label] : labels) {
    text.append(separator).append(name).append("=\"");
    append_escaped(text, label);
    text += '"';
    separator = ",";
  }
  if (labels.size() != 0) text += '}';
  std::array<char, 32> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  text.append(" ").append(digits.data(), result.ptr).append("\n");
}

std::span<const Collector> collectors() {
  static const std::array<Collector, 4> table{{
      {"exporter", exporter_families, collect_exporter},
      {"nodes", node_families, collect_nodes},
      {"services", service_families, collect_services},
      {"pools", pool_families, collect_pools},
  }};
  return table;
}

std::vector<std::string> exposition_page(const Scrape& scrape) {
  std::vector<std::string> page;
  Exposition out(page);
  for (const Collector& collector : collectors()) {
    if (scrape.snapshot != nullptr || collector.collect == collect_exporter) collector.collect(scrape, out);
  }
  return page;
}

std::string label_value(std::string_view name) {
  std::string doubled;
  doubled.reserve(name.size());
  for (const char c : name) {
    doubled += c;
    if (c == '\\') doubled += c;
  }
  return shown(doubled);
}

}  // namespace tarnex::monitor
