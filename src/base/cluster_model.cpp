#include "base/cluster_model.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace tarnex {
namespace {

template <typename State, std::size_t Count>
std::string_view word_of(const std::array<StateWord<State>, Count>& words, State state) {
  for (const StateWord<State>& entry : words) {
    if (entry.state == state) return entry.word;
  }
  return {};
}

template <typename State, std::size_t Count>
State state_of(const std::array<StateWord<State>, Count>& words, std::string_view word) {
  for (const StateWord<State>& entry : words) {
    if (entry.word == word) return entry.state;
  }
  return State::other;
}

const std::array<StateWord<NodeState>, 2>& node_words() {
  static const std::array<StateWord<NodeState>, 2> words{{
      {NodeState::online, "ONLINE"},
      {NodeState::offline, "OFFLINE"},
  }};
  return words;
}

const std::array<StateWord<ServiceState>, 5>& service_words() {
  static const std::array<StateWord<ServiceState>, 5> words{{
      {ServiceState::online, "ONLINE"},
      {ServiceState::stopped, "STOPPED"},
      {ServiceState::starting, "STARTING"},
      {ServiceState::stopping, "STOPPING"},
      {ServiceState::failed, "FAILED"},
  }};
  return words;
}

const std::array<StateWord<PoolState>, 5>& pool_words() {
  static const std::array<StateWord<PoolState>, 5> words{{
      {PoolState::online, "ONLINE"},
      {PoolState::degraded, "DEGRADED"},
      {PoolState::exported, "EXPORTED"},
      {PoolState::exporting, "EXPORTING"},
      {PoolState::importing, "IMPORTING"},
  }};
  return words;
}

// Pools come as the elements of an array, the member values of an object, or
// a single non-null value.
std::vector<Pool> read_pools(const Json& record) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer state_pointer{"/state"};
  std::vector<Pool> pools;
  if (!record.is_object()) return pools;
  const auto listed = record.find("pools");
  if (listed == record.end()) return pools;
  const auto add = [&pools](const Json& pool) {
    pools.push_back({json_get_string(pool, name_pointer, ""), json_get_string(pool, state_pointer, "")});
  };
  if (listed->is_array() || listed->is_object()) {
    for (const Json& pool : *listed)
      add(pool);
  } else if (!listed->is_null()) {
    add(*listed);
  }
  return pools;
}

void merge_nodes(std::vector<Node>& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) { return a.id < b.id; });
  nodes.erase(
      std::unique(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) { return a.id == b.id; }),
      nodes.end());
}

void merge_services(std::vector<Service>& records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const Service& a, const Service& b) { return a.name < b.name; });
  std::vector<Service> services;
  services.reserve(records.size());
  for (Service& record : records) {
    if (!services.empty() && services.back().name == record.name) {
      if (!record.error) services.back().more_states.push_back(std::move(record.state));
      std::vector<Pool>& pools = services.back().pools;
      pools.insert(pools.end(), std::make_move_iterator(record.pools.begin()),
                   std::make_move_iterator(record.pools.end()));
    } else {
      services.push_back(std::move(record));
    }
  }
  records = std::move(services);
}

}  // namespace

std::span<const StateWord<NodeState>> node_state_words() {
  return node_words();
}

std::span<const StateWord<ServiceState>> service_state_words() {
  return service_words();
}

std::span<const StateWord<PoolState>> pool_state_words() {
  return pool_words();
}

std::string_view state_word(NodeState state) {
  return word_of(node_words(), state);
}

std::string_view state_word(ServiceState state) {
  return word_of(service_words(), state);
}

std::string_view state_word(PoolState state) {
  return word_of(pool_words(), state);
}

NodeState node_state(std::string_view word) {
  return state_of(node_words(), word);
}

ServiceState service_state(std::string_view word) {
  return state_of(service_words(), word);
}

PoolState pool_state(std::string_view word) {
  return state_of(pool_words(), word);
}

const Json* response_list(const Json& reply) {
  if (!reply.is_object()) return nullptr;
  const auto response = reply.find("response");
  if (response == reply.end() || !response->is_array()) return nullptr;
  return &*response;
}

int placed_node(std::int64_t run_node) {
  const auto low =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(run_node)));
  return low >= 1 && low <= 1023 ? low : 0;
}

Node read_node(const Json& record) {
  static const JsonPointer id_pointer{"/id"};
  static const JsonPointer name_pointer{"/nodename"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};
  return {json_get_int(record, id_pointer, -1), json_get_string(record, name_pointer, ""),
          json_get_string(record, state_pointer, ""), json_get_bool(record, enabled_pointer, false), &record};
}

Service read_service(const Json& record) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer run_node_pointer{"/run_node"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};
  return {json_get_string(record, name_pointer, ""),
          json_get_int(record, run_node_pointer, -1),
          json_get_string(record, state_pointer, ""),
          json_get_bool(record, enabled_pointer, false),
          read_pools(record),
          record.is_object() && record.contains("error"),
          {},
          &record};
}

std::vector<Node> read_nodes(const Json& reply, const ReadRules& rules) {
  std::vector<Node> nodes;
  const Json* response = response_list(reply);
  if (response == nullptr) return nodes;
  nodes.reserve(response->size());
  for (const Json& record : *response) {
    Node node = read_node(record);
    if (rules.only_numbered && node.id < 0) continue;
    nodes.push_back(std::move(node));
  }
  if (rules.merged) merge_nodes(nodes);
  return nodes;
}

std::vector<Service> read_services(const Json& reply, const ReadRules& rules) {
  std::vector<Service> services;
  const Json* response = response_list(reply);
  if (response == nullptr) return services;
  services.reserve(response->size());
  for (const Json& record : *response)
    services.push_back(read_service(record));
  if (rules.merged) merge_services(services);
  return services;
}

}  // namespace tarnex
