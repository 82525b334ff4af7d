#include "sim_cluster.hpp"

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <utility>

namespace tarnex::sim {

PoolState pool_state(ServiceState state) {
  switch (state) {
    case ServiceState::starting:
      return PoolState::importing;
    case ServiceState::online:
      return PoolState::online;
    case ServiceState::stopping:
      return PoolState::exporting;
    case ServiceState::failed:
      return PoolState::degraded;
    case ServiceState::stopped:
    case ServiceState::other:
      break;
  }
  return PoolState::exported;
}

Json error_reply(int code, const std::string& message) {
  Json reply = Json::object();
  reply["error"] = code;
  reply["errorMessage"] = message;
  return reply;
}

Json response_reply(Json response) {
  Json reply = Json::object();
  reply["response"] = std::move(response);
  return reply;
}

Json message_reply(const std::string& message) {
  Json response = Json::object();
  response["message"] = message;
  return response_reply(std::move(response));
}

std::string node_label(const SimNode& node) {
  return "node " + std::to_string(node.id) + " (" + node.nodename + ")";
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const auto& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

bool can_run_services(const SimNode& node) {
  return node.enabled && node.state == NodeState::online;
}

SimNode* find_node(SimCluster& cluster, std::int64_t id) {
  for (auto& node : cluster.nodes) {
    if (static_cast<std::int64_t>(node.id) == id) return &node;
  }
  return nullptr;
}

std::string node_text(SimCluster& cluster, std::int64_t id) {
  const SimNode* node = find_node(cluster, id);
  return node != nullptr ? node_label(*node) : "node " + std::to_string(id);
}

SimService* find_service(SimCluster& cluster, const std::string& name) {
  for (auto& service : cluster.services) {
    if (service.name == name) return &service;
  }
  return nullptr;
}

SimNode* resolve_node(SimCluster& cluster, const Json& ref, const char* member, Json* error) {
  if (ref.is_number_unsigned() || ref.is_number_integer()) {
    const bool negative = ref.is_number_integer() && !ref.is_number_unsigned() && ref.get<std::int64_t>() < 0;
    if (!negative && ref.get<std::uint64_t>() <= UINT32_MAX) {
      if (SimNode* node = find_node(cluster, static_cast<std::int64_t>(ref.get<std::uint64_t>())))
        return node;
    }
    *error = error_reply(error_not_found, "node not found: " + ref.dump());
    return nullptr;
  }
  if (ref.is_string()) {
    const auto& text = ref.get_ref<const std::string&>();
    for (auto& node : cluster.nodes) {
      if (node.nodename == text) return &node;
    }
    for (auto& node : cluster.nodes) {
      if (std::to_string(node.id) == text) return &node;
    }
    *error = error_reply(error_not_found, "node not found: " + text);
    return nullptr;
  }
  *error = error_reply(error_bad_request, std::string("\"") + member + "\" must be a node id or a node name");
  return nullptr;
}

SimNode* placement_for(SimCluster& cluster, const SimService& service) {
  if (SimNode* current = find_node(cluster, service.run_node);
      current != nullptr && can_run_services(*current)) {
    return current;
  }
  for (const auto id : service.preferred_nodes) {
    SimNode* node = find_node(cluster, id);
    if (node != nullptr && can_run_services(*node)) return node;
  }
  for (auto& node : cluster.nodes) {
    if (can_run_services(node)) return &node;
  }
  return nullptr;
}

void stop_service(SimService& service) {
  service.state = ServiceState::stopped;
  service.run_node = -1;
}

std::string service_whereabouts(SimCluster& cluster, const SimService& service) {
  std::string text = service.name + " is " + std::string(state_word(service.state));
  if (service.run_node >= 0) text += " on " + node_text(cluster, service.run_node);
  return text;
}

Json complete_operation(SimCluster& cluster, const SimOperation& operation) {
  SimService& service = *find_service(cluster, operation.service);
  if (operation.start) {
    service.state = ServiceState::online;
    service.run_node = operation.node;
    return message_reply("service " + service.name + " started on " + node_text(cluster, operation.node));
  }
  stop_service(service);
  return message_reply("service " + service.name + " stopped");
}

std::string break_off(SimCluster& cluster, const SimOperation& operation, const std::string& why,
                      Leave leave) {
  SimService& service = *find_service(cluster, operation.service);
  const std::string label = std::string(operation.start ? "start" : "stop") + " of " + operation.service +
                            " on " + node_text(cluster, operation.node);
  if (leave == Leave::stopped || (leave == Leave::undone && operation.start)) {
    stop_service(service);
  } else if (leave == Leave::undone) {
    service.state = operation.state_before;
  } else if (leave == Leave::failed) {
    service.state = ServiceState::failed;
  }
  const std::string left = service_whereabouts(cluster, service);
  if (operation.ticket != 0) {
    cluster.outbox.push_back(
        {operation.ticket, error_reply(error_broken_off, label + " broken off (" + why + "), " + left)});
  }
  return label + " broken off, " + left;
}

std::optional<Json> begin_operation(SimCluster& cluster, SimService& service, SimOperation operation,
                                    SimTime now, std::uint64_t ticket) {
  operation.service = service.name;
  if (cluster.op_time.count() == 0) return complete_operation(cluster, operation);
  operation.state_before = service.state;
  operation.ends = now + cluster.op_time;
  operation.ticket = ticket;
  service.state = operation.start ? ServiceState::starting : ServiceState::stopping;
  service.run_node = operation.node;
  cluster.operations.push_back(std::move(operation));
  return std::nullopt;
}

SimCluster build_sim_cluster(const ClusterConfig& config, SimTime op_time) {
  SimCluster cluster;
  cluster.op_time = op_time;
  for (const auto& node : config.nodes) {
    cluster.nodes.push_back(SimNode{node.id, node.nodename, NodeState::online, node.enabled});
  }
  // Preferences grouped by service once, in file order, so that a large
  // configuration does not match every service against every preference.
  std::unordered_map<std::string_view, std::vector<std::uint32_t>> preferred;
  for (const auto& preference : config.distribution_preferences) {
    preferred[preference.service].push_back(preference.node);
  }
  for (const auto& entry : config.services) {
    SimService service;
    service.name = entry.name;
    service.enabled = entry.enabled;
    service.pools = entry.pools;
    if (auto found = preferred.find(entry.name); found != preferred.end())
      service.preferred_nodes = found->second;
    cluster.services.push_back(std::move(service));
  }
  for (auto& service : cluster.services) {
    if (!service.enabled) continue;
    if (const SimNode* node = placement_for(cluster, service)) {
      service.state = ServiceState::online;
      service.run_node = node->id;
    }
  }
  cluster.initial_nodes = cluster.nodes;
  cluster.initial_services = cluster.services;
  return cluster;
}

std::vector<SimReply> advance(SimCluster& cluster, SimTime now) {
  for (;;) {
    const auto due =
        std::min_element(cluster.operations.begin(), cluster.operations.end(),
                         [](const SimOperation& a, const SimOperation& b) { return a.ends < b.ends; });
    if (due == cluster.operations.end() || due->ends > now) break;
    const SimOperation operation = *due;
    cluster.operations.erase(due);
    Json reply = complete_operation(cluster, operation);
    if (operation.ticket != 0) cluster.outbox.push_back({operation.ticket, std::move(reply)});
  }
  return std::exchange(cluster.outbox, {});
}

std::optional<SimTime> next_operation_end(const SimCluster& cluster) {
  std::optional<SimTime> next;
  for (const auto& operation : cluster.operations) {
    if (!next || operation.ends < *next) next = operation.ends;
  }
  return next;
}

}  // namespace tarnex::sim
