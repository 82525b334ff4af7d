#include "sim_cluster.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarnex::sim {

namespace {

constexpr const char* kOnline = "ONLINE";
constexpr const char* kOffline = "OFFLINE";
constexpr const char* kStopped = "STOPPED";
constexpr const char* kStarting = "STARTING";
constexpr const char* kStopping = "STOPPING";
constexpr const char* kFailed = "FAILED";

// One request as the handlers see it.
struct Request {
  const Json& body;
  SimTime now;
  std::uint64_t ticket;
};

using Reply = std::optional<Json>;

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
  return node.enabled && node.state == kOnline;
}

bool in_progress(const SimService& service) {
  return service.state == kStarting || service.state == kStopping;
}

SimNode* find_node(SimCluster& cluster, std::int64_t id) {
  for (auto& node : cluster.nodes) {
    if (static_cast<std::int64_t>(node.id) == id) return &node;
  }
  return nullptr;
}

// "node 2 (bravo)", or "node 2" for a node that is gone.
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

// Where a service goes when no node is asked for: back where it is (a failed
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

// "web is STOPPED", "web is ONLINE on node 2 (bravo)".
std::string service_whereabouts(SimCluster& cluster, const SimService& service) {
  std::string text = service.name + " is " + service.state;
  if (service.run_node >= 0) text += " on " + node_text(cluster, service.run_node);
  return text;
}

std::string operation_label(SimCluster& cluster, const SimOperation& operation) {
  return std::string(operation.start ? "start" : "stop") + " of " + operation.service + " on " +
         node_text(cluster, operation.node);
}

// Ends an operation with its effect, and returns the reply its requester gets.
Json complete_operation(SimCluster& cluster, const SimOperation& operation) {
  SimService& service = *find_service(cluster, operation.service);
  if (operation.start) {
    service.state = kOnline;
    service.run_node = operation.node;
    return message_reply("service " + service.name + " started on " + node_text(cluster, operation.node));
  }
  stop_service(service);
  return message_reply("service " + service.name + " stopped");
}

// What breaking off an operation leaves the service in.
enum class Leave {
  undone,   // as before it began: a start stopped, a stop running where it was
  stopped,  // stopped (its node is leaving)
  failed,   // FAILED where it was going to run or was running
  as_is,    // whatever the caller has made of it
};

// Ends an operation without its effect. The requester is told why; the text
// returned says what was broken off and what the service is left as.
std::string break_off(SimCluster& cluster, const SimOperation& operation, const std::string& why,
                      Leave leave = Leave::undone) {
  SimService& service = *find_service(cluster, operation.service);
  const std::string label = operation_label(cluster, operation);
  if (leave == Leave::stopped || (leave == Leave::undone && operation.start)) {
    stop_service(service);
  } else if (leave == Leave::undone) {
    service.state = operation.state_before;
  } else if (leave == Leave::failed) {
    service.state = kFailed;
  }
  const std::string left = service_whereabouts(cluster, service);
  if (operation.ticket != 0) {
    cluster.outbox.push_back(
        {operation.ticket, error_reply(kErrorBrokenOff, label + " broken off (" + why + "), " + left)});
  }
  return label + " broken off, " + left;
}

// Takes every operation that `matches` out of the list, in the order they began.
template <typename Predicate>
std::vector<SimOperation> take_operations(SimCluster& cluster, Predicate matches) {
  std::vector<SimOperation> taken;
  std::erase_if(cluster.operations, [&](const SimOperation& operation) {
    if (!matches(operation)) return false;
    taken.push_back(operation);
    return true;
  });
  return taken;
}

template <typename Predicate>
std::vector<std::string> break_off_where(SimCluster& cluster, Predicate matches, const std::string& why,
                                         Leave leave = Leave::undone) {
  std::vector<std::string> done;
  for (const auto& operation : take_operations(cluster, matches))
    done.push_back(break_off(cluster, operation, why, leave));
  return done;
}

// Begins a start or stop; with no operation time it ends at once and its
// reply is the answer, else the answer waits for advance().
Reply begin_operation(SimCluster& cluster, SimService& service, SimOperation operation,
                      const Request& request) {
  operation.service = service.name;
  if (cluster.op_time.count() == 0) return complete_operation(cluster, operation);
  operation.state_before = service.state;
  operation.ends = request.now + cluster.op_time;
  operation.ticket = request.ticket;
  service.state = operation.start ? kStarting : kStopping;
  service.run_node = operation.node;
  cluster.operations.push_back(std::move(operation));
  return std::nullopt;
}

Json refuse_while_in_progress(SimCluster& cluster, const SimService& service) {
  const char* doing = service.state == kStarting ? " is starting on " : " is stopping on ";
  return error_reply(kErrorRefused, "service " + service.name + doing + node_text(cluster, service.run_node) +
                                        "; wait for it or break it off");
}

Json node_record(const SimNode& node) {
  return Json{{"id", node.id}, {"nodename", node.nodename}, {"state", node.state}, {"enabled", node.enabled}};
}

const char* pool_state(const SimService& service) {
  static const std::array<std::pair<std::string_view, const char*>, 4> states = {{
      {kOnline, "ONLINE"},
      {kStarting, "IMPORTING"},
      {kStopping, "EXPORTING"},
      {kFailed, "DEGRADED"},
  }};
  for (const auto& [state, pool] : states) {
    if (service.state == state) return pool;
  }
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

Reply node_status(SimCluster& cluster, const Request& request) {
  Json response = Json::array();
  if (const auto it = request.body.find("id"); it != request.body.end()) {
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

Reply node_enable(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, error);
  if (node == nullptr) return error;
  node->enabled = true;
  return message_reply(node_label(*node) + " enabled");
}

Reply node_disable(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, error);
  if (node == nullptr) return error;
  node->enabled = false;
  return message_reply(node_label(*node) + " disabled");
}

// Breaks off every start or stop in progress on the node.
Reply node_break(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, error);
  if (node == nullptr) return error;
  const std::int64_t id = node->id;
  const auto done = break_off_where(
      cluster, [id](const SimOperation& operation) { return operation.node == id; }, "node break");
  if (done.empty()) return message_reply(node_label(*node) + ": nothing in progress to break off");
  return message_reply(join(done, "; "));
}

Reply node_exit(SimCluster& cluster, const Request& request) {
  Json error;
  SimNode* node = required_node(cluster, request.body, error);
  if (node == nullptr) return error;
  bool force = false;
  if (const auto it = request.body.find("force"); it != request.body.end()) {
    if (!it->is_boolean()) return error_reply(kErrorBadRequest, "\"force\" must be a boolean");
    force = it->get<bool>();
  }
  const std::int64_t id = node->id;
  std::vector<std::string> running;
  for (const auto& service : cluster.services) {
    if (service.run_node == id) running.push_back(service.name);
  }
  const std::string label = node_label(*node);
  if (!running.empty() && !force) {
    return error_reply(kErrorRefused,
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
    if (*it != "pools") return error_reply(kErrorBadRequest, "unknown \"adv\" selector: " + it->dump());
    with_pools = true;
  }
  Json response = Json::array();
  if (request.body.contains("serviceName")) {
    Json error;
    const SimService* service = required_service(cluster, request.body, error);
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
  SimService* service = required_service(cluster, request.body, error);
  if (service == nullptr) return error;
  if (in_progress(*service)) return refuse_while_in_progress(cluster, *service);
  if (!service->enabled) {
    return error_reply(kErrorRefused, "service " + service->name + " is disabled; enable it first");
  }
  SimNode* target = nullptr;
  if (const auto it = request.body.find("nodeId"); it != request.body.end()) {
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
  SimOperation start;
  start.start = true;
  start.node = target->id;
  return begin_operation(cluster, *service, std::move(start), request);
}

Reply service_stop(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, error);
  if (service == nullptr) return error;
  if (in_progress(*service)) return refuse_while_in_progress(cluster, *service);
  if (service->state == kStopped) return message_reply("service " + service->name + " is already stopped");
  if (service->run_node < 0) {
    // Failed with its node: there is nothing left to stop.
    stop_service(*service);
    return message_reply("service " + service->name + " stopped");
  }
  SimOperation stop;
  stop.start = false;
  stop.node = service->run_node;
  return begin_operation(cluster, *service, std::move(stop), request);
}

Reply service_enable(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, error);
  if (service == nullptr) return error;
  service->enabled = true;
  return message_reply("service " + service->name + " enabled");
}

Reply service_disable(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, error);
  if (service == nullptr) return error;
  service->enabled = false;
  return message_reply("service " + service->name + " disabled");
}

Reply service_break(SimCluster& cluster, const Request& request) {
  Json error;
  SimService* service = required_service(cluster, request.body, error);
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
    if (service.state != kStopped) ++stopped;
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
    return error_reply(kErrorBadRequest, "sim inject needs a \"fault\" string");
  }
  SimFault fault;
  if (const auto problem = parse_fault(it->get_ref<const std::string&>(), fault); !problem.empty()) {
    return error_reply(kErrorBadRequest, problem);
  }
  return apply_fault(cluster, fault, request.now);
}

// A node goes down: starts on it are broken off, stops on it are done (the
// service is down either way), and every service it ran moves to the first
// node that can run it by the placement rule, or fails where no node can or
// the service is disabled.
Json node_offline(SimCluster& cluster, SimNode& node) {
  const std::string label = node_label(node);
  if (node.state == kOffline) return message_reply(label + " is already OFFLINE");
  node.state = kOffline;
  const std::int64_t id = node.id;
  for (const auto& operation :
       take_operations(cluster, [id](const SimOperation& operation) { return operation.node == id; })) {
    if (operation.start) {
      break_off(cluster, operation, label + " went OFFLINE");
    } else {
      Json reply = complete_operation(cluster, operation);
      if (operation.ticket != 0) cluster.outbox.push_back({operation.ticket, std::move(reply)});
    }
  }
  std::vector<std::string> moves = {label + " is OFFLINE"};
  for (auto& service : cluster.services) {
    if (service.run_node != id) continue;
    SimNode* target = service.enabled ? placement_for(cluster, service) : nullptr;
    if (target == nullptr) {
      service.state = kFailed;
      service.run_node = -1;
      moves.push_back(service.name + " FAILED (" + (service.enabled ? "no node can run it" : "disabled") +
                      ")");
      continue;
    }
    service.state = kOnline;
    service.run_node = target->id;
    moves.push_back(service.name + " failed over to " + node_label(*target));
  }
  return message_reply(join(moves, "; "));
}

Json service_fail(SimCluster& cluster, SimService& service) {
  if (service.state == kStopped || service.run_node < 0) {
    return error_reply(kErrorRefused, "service " + service.name + " is not running; nothing to fail");
  }
  const std::string& name = service.name;
  break_off_where(
      cluster, [&name](const SimOperation& operation) { return operation.service == name; },
      "service " + name + " failed", Leave::failed);
  service.state = kFailed;
  return message_reply("service " + service_whereabouts(cluster, service));
}

using Handler = Reply (*)(SimCluster&, const Request&);

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

Json fault_request(const std::string& fault) {
  return Json{{"call", "sim"}, {"cmd", "inject"}, {"fault", fault}};
}

SimCluster build_sim_cluster(const ClusterConfig& config, SimTime op_time) {
  SimCluster cluster;
  cluster.op_time = op_time;
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
  cluster.initial_nodes = cluster.nodes;
  cluster.initial_services = cluster.services;
  return cluster;
}

Json apply_fault(SimCluster& cluster, const SimFault& fault, SimTime now) {
  using Kind = SimFault::Kind;
  Json error;
  switch (fault.kind) {
    case Kind::node_offline:
    case Kind::node_online: {
      SimNode* node = resolve_node(cluster, Json(fault.subject), "node", error);
      if (node == nullptr) return error;
      if (fault.kind == Kind::node_offline) return node_offline(cluster, *node);
      if (node->state == kOnline) return message_reply(node_label(*node) + " is already ONLINE");
      node->state = kOnline;
      return message_reply(node_label(*node) + " is ONLINE");
    }
    case Kind::service_fail: {
      SimService* service = find_service(cluster, fault.subject);
      if (service == nullptr) return error_reply(kErrorNotFound, "service not found: " + fault.subject);
      return service_fail(cluster, *service);
    }
    case Kind::daemon_silent:
      cluster.silent_until = now + fault.duration;
      return message_reply("reading no requests for " + std::to_string(fault.duration.count()) + " ms");
    case Kind::reset:
      break;
  }
  const auto ending = take_operations(cluster, [](const SimOperation&) { return true; });
  cluster.nodes = cluster.initial_nodes;
  cluster.services = cluster.initial_services;
  cluster.silent_until = SimTime{0};
  for (const auto& operation : ending)
    break_off(cluster, operation, "reset", Leave::as_is);
  return message_reply("cluster reset: " + std::to_string(cluster.nodes.size()) + " nodes, " +
                       std::to_string(cluster.services.size()) + " services as configured");
}

std::optional<Json> handle_request(SimCluster& cluster, const Json& request, SimTime now,
                                   std::uint64_t ticket) {
  static constexpr std::array<Route, 14> routes = {{
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
      {"sim", "inject", sim_inject},
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
      if (route.cmd == cmd_text) return route.handler(cluster, Request{request, now, ticket});
    }
    if (!known_call) return error_reply(kErrorBadRequest, "unknown call: " + call_text);
    return error_reply(kErrorBadRequest, "unknown command for " + call_text + ": " + cmd_text);
  } catch (const std::exception& e) {
    // Nothing above should throw but for want of memory; the peer still gets its reply.
    return error_reply(kErrorBadRequest, std::string("cannot handle request: ") + e.what());
  }
}

std::optional<std::string> handle_request_text(SimCluster& cluster, std::string_view text, SimTime now,
                                               std::uint64_t ticket) {
  try {
    std::optional<Json> reply;
    try {
      if (text.size() > kMaxParsedRequestBytes) {
        return error_reply(kErrorBadRequest, "request refused: longer than " +
                                                 std::to_string(kMaxParsedRequestBytes) + " bytes")
            .dump();
      }
      reply = handle_request(cluster, parse_strict(std::string(text), "request"), now, ticket);
    } catch (const Json::parse_error& e) {
      reply = error_reply(kErrorBadRequest, std::string("request is not valid JSON: ") + e.what());
    } catch (const std::bad_alloc&) {
      reply = error_reply(kErrorBadRequest, "request refused: out of memory");
    } catch (const std::exception& e) {
      reply = error_reply(kErrorBadRequest, std::string("request refused: ") + e.what());
    }
    if (!reply) return std::nullopt;
    return reply->dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (...) {
    // Even the error reply could not be built: a fixed text needs no memory
    // beyond its own.
    return std::string(R"({"error":1,"errorMessage":"request refused: out of memory"})");
  }
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
