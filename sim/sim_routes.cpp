#include "sim_routes.hpp"

#include <array>
#include <exception>
#include <utility>
#include <vector>

namespace tarnex::sim {

namespace {

// One request as the handlers see it.
struct Request {
  const Json& body;
  SimTime now;
  std::uint64_t ticket;
};

using Reply = std::optional<Json>;

// The node a node command applies to, from its required "id" member.
SimNode* required_node(SimCluster& cluster, const Json& request, Json* error) {
  const auto it = request.find("id");
  if (it == request.end()) {
    *error = error_reply(error_bad_request, "node " + request.at("cmd").get<std::string>() + " needs \"id\"");
    return nullptr;
  }
  return resolve_node(cluster, *it, "id", error);
}

// The service a service command applies to, from its "serviceName" member.
SimService* required_service(SimCluster& cluster, const Json& request, Json* error) {
  const auto it = request.find("serviceName");
  if (it == request.end()) {
    *error = error_reply(error_bad_request,
                         "service " + request.at("cmd").get<std::string>() + " needs \"serviceName\"");
    return nullptr;
  }
  if (!it->is_string()) {
    *error = error_reply(error_bad_request, "\"serviceName\" must be a string");
    return nullptr;
  }
  const auto& name = it->get_ref<const std::string&>();
  SimService* service = find_service(cluster, name);
  if (service == nullptr) *error = error_reply(error_not_found, "service not found: " + name);
  return service;
}

bool in_progress(const SimService& service) {
  return service.state == ServiceState::starting || service.state == ServiceState::stopping;
}

Json refuse_while_in_progress(SimCluster& cluster, const SimService& service) {
  const char* doing = service.state == ServiceState::starting ? " is starting on " : " is stopping on ";
  return error_reply(error_refused, "service " + service.name + doing + node_text(cluster, service.run_node) +
                                        "; wait for it or break it off");
}

Json node_record(const SimNode& node) {
  return Json{{"id", node.id},
              {"nodename", node.nodename},
              {"state", state_word(node.state)},
              {"enabled", node.enabled}};
}

Json service_record(const SimService& service, bool with_pools) {
  Json record{{"name", service.name},
              {"enabled", service.enabled},
              {"state", state_word(service.state)},
              {"run_node", service.run_node}};
  if (with_pools) {
    Json pools = Json::array();
    for (const auto& pool : service.pools)
      pools.push_back(Json{{"name", pool}, {"state", state_word(pool_state(service.state))}});
    record["pools"] = std::move(pools);
  }
  return record;
}

Reply node_status(SimCluster& cluster, const Request& request) {
  Json response = Json::array();
  if (const auto it = request.body.find("id"); it != request.body.end()) {
    Json error;
    const SimNode* node = resolve_node(cluster, *it, "id", &error);
    if (node == nullptr) return error;
    response.push_back(node_record(*node));
  } else {
    for (const auto& node : cluster.nodes)
      response.push_back(node_record(node));
  }
  return response_reply(std::move(response));
}

Reply node_enable(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, &error);
  if (node == nullptr) return error;
  node->enabled = true;
  return message_reply(node_label(*node) + " enabled");
}

Reply node_disable(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, &error);
  if (node == nullptr) return error;
  node->enabled = false;
  return message_reply(node_label(*node) + " disabled");
}

// Breaks off every start or stop in progress on the node.
Reply node_break(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, &error);
  if (node == nullptr) return error;
  const std::int64_t id = node->id;
  const auto done = break_off_where(
      cluster, [id](const SimOperation& operation) { return operation.node == id; }, "node break");
  if (done.empty()) return message_reply(node_label(*node) + ": nothing in progress to break off");
  return message_reply(join(done, "; "));
}

// Refused while any service is on the node (running, starting, stopping or
// failed there) unless forced; forced, every such service is stopped, not
// moved, what is in progress on the node is broken off, and the node leaves.
Reply node_exit(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, &error);
  if (node == nullptr) return error;
  bool force = false;
  if (const auto it = request.body.find("force"); it != request.body.end()) {
    if (!it->is_boolean()) return error_reply(error_bad_request, "\"force\" must be a boolean");
    force = it->get<bool>();
  }
  const std::int64_t id = node->id;
  std::vector<std::string> running;
  for (const auto& service : cluster.services) {
    if (service.run_node == id) running.push_back(service.name);
  }
  const std::string label = node_label(*node);
  if (!running.empty() && !force) {
    return error_reply(error_refused,
                       label + " still runs " + join(running, ", ") + "; stop them first or exit with force");
  }
  break_off_where(
      cluster, [id](const SimOperation& operation) { return operation.node == id; }, "node exit",
      Leave::stopped);
  for (auto& service : cluster.services) {
    if (service.run_node == id) stop_service(service);
  }
  std::erase_if(cluster.nodes, [id](const SimNode& each) { return each.id == id; });
  if (running.empty()) return message_reply(label + " left the cluster");
  return message_reply(label + " left the cluster; stopped " + join(running, ", "));
}

Reply service_status(SimCluster& cluster, const Request& request) {
  bool with_pools = false;
  if (const auto it = request.body.find("adv"); it != request.body.end()) {
    if (*it != "pools") return error_reply(error_bad_request, "unknown \"adv\" selector: " + it->dump());
    with_pools = true;
  }
  Json response = Json::array();
  if (request.body.contains("serviceName")) {
    Json error;
    const SimService* service = required_service(cluster, request.body, &error);
    if (service == nullptr) return error;
    response.push_back(service_record(*service, with_pools));
  } else {
    for (const auto& service : cluster.services)
      response.push_back(service_record(service, with_pools));
  }
  return response_reply(std::move(response));
}

Reply service_help(SimCluster& /*cluster*/, const Request& /*request*/) {
  static const std::array<const char*, 7> lines = {
      "status   show every service, or the one named by serviceName (adv=pools adds pools)",
      "start    start serviceName, on nodeId when given",
      "stop     stop serviceName",
      "enable   enable serviceName",
      "disable  disable serviceName (a disabled service is not started)",
      "break    break off the start or stop of serviceName in progress",
      "help     this list",
  };
  Json response = Json::array();
  for (const char* line : lines)
    response.push_back(line);
  return response_reply(std::move(response));
}

Reply service_start(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, &error);
  if (service == nullptr) return error;
  if (in_progress(*service)) return refuse_while_in_progress(cluster, *service);
  if (!service->enabled) {
    return error_reply(error_refused, "service " + service->name + " is disabled; enable it first");
  }
  SimNode* target = nullptr;
  if (const auto it = request.body.find("nodeId"); it != request.body.end()) {
    target = resolve_node(cluster, *it, "nodeId", &error);
    if (target == nullptr) return error;
    if (!target->enabled) return error_reply(error_refused, node_label(*target) + " is disabled");
    if (target->state != NodeState::online) {
      return error_reply(error_refused, node_label(*target) + " is not ONLINE (state " +
                                            std::string(state_word(target->state)) + ")");
    }
  }
  if (service->state == ServiceState::online) {
    if (target == nullptr || target->id == service->run_node) {
      return message_reply("service " + service->name + " is already running on node " +
                           std::to_string(service->run_node));
    }
    return error_reply(error_refused, "service " + service->name + " is running on node " +
                                          std::to_string(service->run_node) + "; stop it first");
  }
  if (target == nullptr) target = placement_for(cluster, *service);
  if (target == nullptr) {
    return error_reply(error_refused, "no node can run service " + service->name +
                                          ": every node is disabled, not ONLINE or gone");
  }
  SimOperation start;
  start.start = true;
  start.node = target->id;
  return begin_operation(cluster, *service, std::move(start), request.now, request.ticket);
}

Reply service_stop(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, &error);
  if (service == nullptr) return error;
  if (in_progress(*service)) return refuse_while_in_progress(cluster, *service);
  if (service->state == ServiceState::stopped) {
    return message_reply("service " + service->name + " is already stopped");
  }
  if (service->run_node < 0) {
    // Failed with its node: there is nothing left to stop.
    stop_service(*service);
    return message_reply("service " + service->name + " stopped");
  }
  SimOperation stop;
  stop.start = false;
  stop.node = service->run_node;
  return begin_operation(cluster, *service, std::move(stop), request.now, request.ticket);
}

Reply service_enable(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, &error);
  if (service == nullptr) return error;
  service->enabled = true;
  return message_reply("service " + service->name + " enabled");
}

Reply service_disable(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, &error);
  if (service == nullptr) return error;
  service->enabled = false;
  return message_reply("service " + service->name + " disabled");
}

Reply service_break(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, &error);
  if (service == nullptr) return error;
  const std::string& name = service->name;
  const auto done = break_off_where(
      cluster, [&name](const SimOperation& operation) { return operation.service == name; }, "service break");
  if (done.empty()) return message_reply("service " + name + ": nothing in progress to break off");
  return message_reply(join(done, "; "));
}

Reply cluster_exit(SimCluster& cluster, const Request& /*request*/) {
  std::size_t stopped = 0;
  for (const auto& service : cluster.services) {
    if (service.state != ServiceState::stopped) ++stopped;
  }
  break_off_where(
      cluster, [](const SimOperation&) { return true; }, "cluster exit", Leave::stopped);
  for (auto& service : cluster.services)
    stop_service(service);
  const std::size_t removed = cluster.nodes.size();
  cluster.nodes.clear();
  return message_reply("cluster exit: stopped " + std::to_string(stopped) + " services, removed " +
                       std::to_string(removed) + " nodes");
}

// The simulator's own control request: {"call": "sim", "cmd": "inject",
// "fault": "node 2 offline"}.
Reply sim_inject(SimCluster& cluster, const Request& request) {
  const auto it = request.body.find("fault");
  if (it == request.body.end() || !it->is_string()) {
    return error_reply(error_bad_request, "sim inject needs a \"fault\" string");
  }
  std::string problem;
  const auto fault = parse_fault(it->get_ref<const std::string&>(), &problem);
  if (!fault) return error_reply(error_bad_request, problem);
  return apply_fault(cluster, *fault, request.now);
}

using Handler = Reply (*)(SimCluster&, const Request&);

struct Route {
  std::string_view call;
  std::string_view cmd;
  Handler handler;
};

}  // namespace

std::optional<Json> handle_request(SimCluster& cluster, const Json& request, SimTime now,
                                   std::uint64_t ticket) {
  // clang-format off
  static constexpr std::array<Route, 14> routes = {{
      {"node",    "status",  node_status},
      {"node",    "enable",  node_enable},
      {"node",    "disable", node_disable},
      {"node",    "break",   node_break},
      {"node",    "exit",    node_exit},
      {"service", "status",  service_status},
      {"service", "help",    service_help},
      {"service", "start",   service_start},
      {"service", "stop",    service_stop},
      {"service", "enable",  service_enable},
      {"service", "disable", service_disable},
      {"service", "break",   service_break},
      {"cluster", "exit",    cluster_exit},
      {"sim",     "inject",  sim_inject},
  }};
  // clang-format on
  if (!request.is_object()) return error_reply(error_bad_request, "request must be a JSON object");
  const auto call = request.find("call");
  const auto cmd = request.find("cmd");
  if (call == request.end() || !call->is_string()) {
    return error_reply(error_bad_request, "request needs a \"call\" string");
  }
  if (cmd == request.end() || !cmd->is_string()) {
    return error_reply(error_bad_request, "request needs a \"cmd\" string");
  }
  const auto& call_text = call->get_ref<const std::string&>();
  const auto& cmd_text = cmd->get_ref<const std::string&>();
  bool known_call = false;
  for (const auto& route : routes) {
    if (route.call != call_text) continue;
    known_call = true;
    if (route.cmd == cmd_text) return route.handler(cluster, Request{request, now, ticket});
  }
  if (!known_call) return error_reply(error_bad_request, "unknown call: " + call_text);
  return error_reply(error_bad_request, "unknown command for " + call_text + ": " + cmd_text);
}

std::optional<std::string> handle_request_text(SimCluster& cluster, std::string_view text, SimTime now,
                                               std::uint64_t ticket) {
  if (text.size() > max_parsed_request_bytes) {
    return reply_text(
        error_reply(error_bad_request,
                    "request refused: longer than " + std::to_string(max_parsed_request_bytes) + " bytes"));
  }
  Json request;
  try {
    request = parse_strict(std::string(text), "request");
  } catch (const Json::parse_error& e) {
    return reply_text(error_reply(error_bad_request, std::string("request is not valid JSON: ") + e.what()));
  } catch (const std::runtime_error& e) {
    // Nested too deep: refused before it is parsed.
    return reply_text(error_reply(error_bad_request, std::string("request refused: ") + e.what()));
  }
  std::optional<Json> reply = handle_request(cluster, request, now, ticket);
  if (!reply) return std::nullopt;
  return reply_text(*reply);
}

std::string reply_text(const Json& reply) {
  return reply.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tarnex::sim
