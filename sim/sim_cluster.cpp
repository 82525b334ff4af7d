#include "sim_cluster.hpp"

#include <array>
#include <exception>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarnex::sim {

namespace {

constexpr const char* kOnline = "ONLINE";
constexpr const char* kStopped = "STOPPED";
constexpr const char* kBroken = "BROKEN";

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

std::string join_names(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

bool can_run_services(const SimNode& node) {
  return node.enabled && node.state == kOnline;
}

SimNode* find_node(SimCluster& cluster, std::int64_t id) {
  for (auto& node : cluster.nodes) {
    if (static_cast<std::int64_t>(node.id) == id) return &node;
  }
  return nullptr;
}

SimService* find_service(SimCluster& cluster, const std::string& name) {
  for (auto& service : cluster.services) {
    if (service.name == name) return &service;
  }
  return nullptr;
}

// A node reference ("id", "nodeId"): an integer names a node by id, a string
// by its name or else by the decimal text of its id, as the client sends
// whatever the operator typed. On failure returns nullptr and sets `error`.
SimNode* resolve_node(SimCluster& cluster, const Json& ref, const char* member, Json& error) {
  if (ref.is_number_unsigned() || ref.is_number_integer()) {
    const bool negative = ref.is_number_integer() && !ref.is_number_unsigned() && ref.get<std::int64_t>() < 0;
    if (!negative && ref.get<std::uint64_t>() <= UINT32_MAX) {
      if (SimNode* node = find_node(cluster, static_cast<std::int64_t>(ref.get<std::uint64_t>())))
        return node;
    }
    error = error_reply(kErrorNotFound, "node not found: " + ref.dump());
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
    error = error_reply(kErrorNotFound, "node not found: " + text);
    return nullptr;
  }
  error = error_reply(kErrorBadRequest, std::string("\"") + member + "\" must be a node id or a node name");
  return nullptr;
}

// The node a node command applies to, from its required "id" member.
SimNode* required_node(SimCluster& cluster, const Json& request, Json& error) {
  const auto it = request.find("id");
  if (it == request.end()) {
    error = error_reply(kErrorBadRequest, "node " + request.at("cmd").get<std::string>() + " needs \"id\"");
    return nullptr;
  }
  return resolve_node(cluster, *it, "id", error);
}

// The service a service command applies to, from its "serviceName" member.
SimService* required_service(SimCluster& cluster, const Json& request, Json& error) {
  const auto it = request.find("serviceName");
  if (it == request.end()) {
    error = error_reply(kErrorBadRequest,
                        "service " + request.at("cmd").get<std::string>() + " needs \"serviceName\"");
    return nullptr;
  }
  if (!it->is_string()) {
    error = error_reply(kErrorBadRequest, "\"serviceName\" must be a string");
    return nullptr;
  }
  const auto& name = it->get_ref<const std::string&>();
  SimService* service = find_service(cluster, name);
  if (service == nullptr) error = error_reply(kErrorNotFound, "service not found: " + name);
  return service;
}

// Where a service goes when no node is asked for: back where it is (a broken
// service restarts in place), else the first preferred node able to run it,
// else the first node able to.
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
  service.state = kStopped;
  service.run_node = -1;
}

Json node_record(const SimNode& node) {
  return Json{{"id", node.id}, {"nodename", node.nodename}, {"state", node.state}, {"enabled", node.enabled}};
}

const char* pool_state(const SimService& service) {
  if (service.state == kOnline) return "ONLINE";
  if (service.state == kBroken) return "DEGRADED";
  return "EXPORTED";
}

Json service_record(const SimService& service, bool with_pools) {
  Json record{{"name", service.name},
              {"enabled", service.enabled},
              {"state", service.state},
              {"run_node", service.run_node}};
  if (with_pools) {
    Json pools = Json::array();
    for (const auto& pool : service.pools)
      pools.push_back(Json{{"name", pool}, {"state", pool_state(service)}});
    record["pools"] = std::move(pools);
  }
  return record;
}

Json node_status(SimCluster& cluster, const Json& request) {
  Json response = Json::array();
  if (const auto it = request.find("id"); it != request.end()) {
    Json error;
    const SimNode* node = resolve_node(cluster, *it, "id", error);
    if (node == nullptr) return error;
    response.push_back(node_record(*node));
  } else {
    for (const auto& node : cluster.nodes)
      response.push_back(node_record(node));
  }
  return response_reply(std::move(response));
}

// Enabling also readmits a broken node: it is the operator's way back.
Json node_enable(SimCluster& cluster, const Json& request) {
  Json error;
  SimNode* node = required_node(cluster, request, error);
  if (node == nullptr) return error;
  node->enabled = true;
  node->state = kOnline;
  return message_reply(node_label(*node) + " enabled");
}

Json node_disable(SimCluster& cluster, const Json& request) {
  Json error;
  SimNode* node = required_node(cluster, request, error);
  if (node == nullptr) return error;
  node->enabled = false;
  return message_reply(node_label(*node) + " disabled");
}

Json node_break(SimCluster& cluster, const Json& request) {
  Json error;
  SimNode* node = required_node(cluster, request, error);
  if (node == nullptr) return error;
  node->state = kBroken;
  return message_reply(node_label(*node) + " marked " + kBroken);
}

Json node_exit(SimCluster& cluster, const Json& request) {
  Json error;
  SimNode* node = required_node(cluster, request, error);
  if (node == nullptr) return error;
  bool force = false;
  if (const auto it = request.find("force"); it != request.end()) {
    if (!it->is_boolean()) return error_reply(kErrorBadRequest, "\"force\" must be a boolean");
    force = it->get<bool>();
  }
  std::vector<std::string> running;
  for (const auto& service : cluster.services) {
    if (service.run_node == node->id) running.push_back(service.name);
  }
  const std::string label = node_label(*node);
  if (!running.empty() && !force) {
    return error_reply(kErrorRefused,
                       label + " still runs " + join_names(running) + "; stop them first or exit with force");
  }
  for (auto& service : cluster.services) {
    if (service.run_node == node->id) stop_service(service);
  }
  const auto id = node->id;
  std::erase_if(cluster.nodes, [id](const SimNode& each) { return each.id == id; });
  if (running.empty()) return message_reply(label + " left the cluster");
  return message_reply(label + " left the cluster; stopped " + join_names(running));
}

Json service_status(SimCluster& cluster, const Json& request) {
  bool with_pools = false;
  if (const auto it = request.find("adv"); it != request.end()) {
    if (*it != "pools") return error_reply(kErrorBadRequest, "unknown \"adv\" selector: " + it->dump());
    with_pools = true;
  }
  Json response = Json::array();
  if (request.contains("serviceName")) {
    Json error;
    const SimService* service = required_service(cluster, request, error);
    if (service == nullptr) return error;
    response.push_back(service_record(*service, with_pools));
  } else {
    for (const auto& service : cluster.services)
      response.push_back(service_record(service, with_pools));
  }
  return response_reply(std::move(response));
}

Json service_help(SimCluster& /*cluster*/, const Json& /*request*/) {
  static const std::array<const char*, 7> lines = {
      "status   show every service, or the one named by serviceName (adv=pools adds pools)",
      "start    start serviceName, on nodeId when given",
      "stop     stop serviceName",
      "enable   enable serviceName",
      "disable  disable serviceName (a disabled service is not started)",
      "break    mark the running serviceName BROKEN",
      "help     this list",
  };
  Json response = Json::array();
  for (const char* line : lines)
    response.push_back(line);
  return response_reply(std::move(response));
}

Json service_start(SimCluster& cluster, const Json& request) {
  Json error;
  SimService* service = required_service(cluster, request, error);
  if (service == nullptr) return error;
  if (!service->enabled) {
    return error_reply(kErrorRefused, "service " + service->name + " is disabled; enable it first");
  }
  SimNode* target = nullptr;
  if (const auto it = request.find("nodeId"); it != request.end()) {
    target = resolve_node(cluster, *it, "nodeId", error);
    if (target == nullptr) return error;
    if (!target->enabled) return error_reply(kErrorRefused, node_label(*target) + " is disabled");
    if (target->state != kOnline) {
      return error_reply(kErrorRefused, node_label(*target) + " is not ONLINE (state " + target->state + ")");
    }
  }
  if (service->state == kOnline) {
    if (target == nullptr || target->id == service->run_node) {
      return message_reply("service " + service->name + " is already running on node " +
                           std::to_string(service->run_node));
    }
    return error_reply(kErrorRefused, "service " + service->name + " is running on node " +
                                          std::to_string(service->run_node) + "; stop it first");
  }
  if (target == nullptr) target = placement_for(cluster, *service);
  if (target == nullptr) {
    return error_reply(kErrorRefused, "no node can run service " + service->name +
                                          ": every node is disabled, not ONLINE or gone");
  }
  service->state = kOnline;
  service->run_node = target->id;
  return message_reply("service " + service->name + " started on " + node_label(*target));
}

Json service_stop(SimCluster& cluster, const Json& request) {
  Json error;
  SimService* service = required_service(cluster, request, error);
  if (service == nullptr) return error;
  if (service->state == kStopped) return message_reply("service " + service->name + " is already stopped");
  stop_service(*service);
  return message_reply("service " + service->name + " stopped");
}

Json service_enable(SimCluster& cluster, const Json& request) {
  Json error;
  SimService* service = required_service(cluster, request, error);
  if (service == nullptr) return error;
  service->enabled = true;
  return message_reply("service " + service->name + " enabled");
}

Json service_disable(SimCluster& cluster, const Json& request) {
  Json error;
  SimService* service = required_service(cluster, request, error);
  if (service == nullptr) return error;
  service->enabled = false;
  return message_reply("service " + service->name + " disabled");
}

Json service_break(SimCluster& cluster, const Json& request) {
  Json error;
  SimService* service = required_service(cluster, request, error);
  if (service == nullptr) return error;
  if (service->state == kStopped)
    return message_reply("service " + service->name + " is stopped; nothing to break");
  service->state = kBroken;
  return message_reply("service " + service->name + " marked " + kBroken);
}

Json cluster_exit(SimCluster& cluster, const Json& /*request*/) {
  std::size_t stopped = 0;
  for (auto& service : cluster.services) {
    if (service.state == kStopped) continue;
    stop_service(service);
    ++stopped;
  }
  const std::size_t removed = cluster.nodes.size();
  cluster.nodes.clear();
  return message_reply("cluster exit: stopped " + std::to_string(stopped) + " services, removed " +
                       std::to_string(removed) + " nodes");
}

using Handler = Json (*)(SimCluster&, const Json&);

struct Route {
  std::string_view call;
  std::string_view cmd;
  Handler handler;
};

}  // namespace

Json error_reply(int code, const std::string& message) {
  Json reply = Json::object();
  reply["error"] = code;
  reply["errorMessage"] = message;
  return reply;
}

SimCluster build_sim_cluster(const ClusterConfig& config) {
  SimCluster cluster;
  for (const auto& node : config.nodes) {
    cluster.nodes.push_back(SimNode{node.id, node.nodename, kOnline, node.enabled});
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
      service.state = kOnline;
      service.run_node = node->id;
    }
  }
  return cluster;
}

Json handle_request(SimCluster& cluster, const Json& request) {
  static constexpr std::array<Route, 13> routes = {{
      {"node", "status", node_status},
      {"node", "enable", node_enable},
      {"node", "disable", node_disable},
      {"node", "break", node_break},
      {"node", "exit", node_exit},
      {"service", "status", service_status},
      {"service", "help", service_help},
      {"service", "start", service_start},
      {"service", "stop", service_stop},
      {"service", "enable", service_enable},
      {"service", "disable", service_disable},
      {"service", "break", service_break},
      {"cluster", "exit", cluster_exit},
  }};
  try {
    if (!request.is_object()) return error_reply(kErrorBadRequest, "request must be a JSON object");
    const auto call = request.find("call");
    const auto cmd = request.find("cmd");
    if (call == request.end() || !call->is_string()) {
      return error_reply(kErrorBadRequest, "request needs a \"call\" string");
    }
    if (cmd == request.end() || !cmd->is_string()) {
      return error_reply(kErrorBadRequest, "request needs a \"cmd\" string");
    }
    const auto& call_text = call->get_ref<const std::string&>();
    const auto& cmd_text = cmd->get_ref<const std::string&>();
    bool known_call = false;
    for (const auto& route : routes) {
      if (route.call != call_text) continue;
      known_call = true;
      if (route.cmd == cmd_text) return route.handler(cluster, request);
    }
    if (!known_call) return error_reply(kErrorBadRequest, "unknown call: " + call_text);
    return error_reply(kErrorBadRequest, "unknown command for " + call_text + ": " + cmd_text);
  } catch (const std::exception& e) {
    // Nothing above should throw; if it does the peer still gets its reply.
    return error_reply(kErrorBadRequest, std::string("cannot handle request: ") + e.what());
  }
}

std::string handle_request_text(SimCluster& cluster, const std::string& text) {
  Json reply;
  try {
    const Json request = Json::parse(text);
    reply = handle_request(cluster, request);
  } catch (const Json::exception& e) {
    reply = error_reply(kErrorBadRequest, std::string("request is not valid JSON: ") + e.what());
  }
  return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tarnex::sim
