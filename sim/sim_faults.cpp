#include "sim_faults.hpp"

#include <algorithm>
#include <array>
#include <sstream>
#include <string_view>
#include <vector>

#include "sim_cluster.hpp"

namespace tarnex::sim {

namespace {

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

// A node goes down: starts on it are broken off, stops on it are done (the
// service is down either way), and every service it ran moves to the first
// node that can run it by the placement rule, or fails where no node can or
// the service is disabled.
Json node_offline(SimCluster& cluster, SimNode& node) {
  const std::string label = node_label(node);
  if (node.state == NodeState::offline) return message_reply(label + " is already OFFLINE");
  node.state = NodeState::offline;
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
      service.state = ServiceState::failed;
      service.run_node = -1;
      moves.push_back(service.name + " FAILED (" + (service.enabled ? "no node can run it" : "disabled") +
                      ")");
      continue;
    }
    service.state = ServiceState::online;
    service.run_node = target->id;
    moves.push_back(service.name + " failed over to " + node_label(*target));
  }
  return message_reply(join(moves, "; "));
}

Json node_online(SimNode& node) {
  if (node.state == NodeState::online) return message_reply(node_label(node) + " is already ONLINE");
  node.state = NodeState::online;
  return message_reply(node_label(node) + " is ONLINE");
}

Json service_fail(SimCluster& cluster, SimService& service) {
  if (service.state == ServiceState::stopped || service.run_node < 0) {
    return error_reply(error_refused, "service " + service.name + " is not running; nothing to fail");
  }
  const std::string& name = service.name;
  break_off_where(
      cluster, [&name](const SimOperation& operation) { return operation.service == name; },
      "service " + name + " failed", Leave::failed);
  service.state = ServiceState::failed;
  return message_reply("service " + service_whereabouts(cluster, service));
}

Json reset(SimCluster& cluster) {
  const auto ending = take_operations(cluster, [](const SimOperation&) { return true; });
  cluster.nodes = cluster.initial_nodes;
  cluster.services = cluster.initial_services;
  cluster.silent_until = SimTime{0};
  for (const auto& operation : ending)
    break_off(cluster, operation, "reset", Leave::as_is);
  return message_reply("cluster reset: " + std::to_string(cluster.nodes.size()) + " nodes, " +
                       std::to_string(cluster.services.size()) + " services as configured");
}

}  // namespace

std::optional<SimTime> parse_duration(const std::string& text, std::string* error) {
  const std::size_t digits = static_cast<std::size_t>(
      std::find_if(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; }) - text.begin());
  const std::string_view unit = std::string_view(text).substr(digits);
  // Ten digits at most keeps the number inside 64 bits before the range test.
  if (digits > 0 && digits <= 10 && (unit == "ms" || unit == "s")) {
    const SimTime value(std::stoll(text.substr(0, digits)) * (unit == "s" ? 1000 : 1));
    if (value <= max_silence) return value;
  }
  *error = "a silence lasts a whole number of ms or s up to 1 hour (800ms, 5s), not " + text;
  return std::nullopt;
}

std::optional<SimFault> parse_fault(const std::string& text, std::string* error) {
  struct Form {
    std::string_view first;
    std::string_view last;  // the word after the subject
    SimFault::Kind kind;
  };
  static constexpr std::array<Form, 3> forms = {{
      {"node", "offline", SimFault::Kind::node_offline},
      {"node", "online", SimFault::Kind::node_online},
      {"service", "fail", SimFault::Kind::service_fail},
  }};
  const std::vector<std::string> words = words_of(text);
  if (words.size() == 1 && words[0] == "reset") return SimFault{};
  if (words.size() == 3 && words[0] == "daemon" && words[1] == "silent") {
    const auto duration = parse_duration(words[2], error);
    if (!duration) return std::nullopt;
    return SimFault{SimFault::Kind::daemon_silent, {}, *duration};
  }
  if (words.size() == 3) {
    for (const auto& form : forms) {
      if (form.first == words[0] && form.last == words[2]) return SimFault{form.kind, words[1], SimTime{0}};
    }
  }
  *error = "unknown fault \"" + text +
           "\": expected node NODE offline|online, service NAME fail, daemon silent DURATION or reset";
  return std::nullopt;
}

Json apply_fault(SimCluster& cluster, const SimFault& fault, SimTime now) {
  using Kind = SimFault::Kind;
  switch (fault.kind) {
    case Kind::node_offline:
    case Kind::node_online: {
      Json error;
      SimNode* node = resolve_node(cluster, Json(fault.subject), "node", &error);
      if (node == nullptr) return error;
      return fault.kind == Kind::node_offline ? node_offline(cluster, *node) : node_online(*node);
    }
    case Kind::service_fail: {
      SimService* service = find_service(cluster, fault.subject);
      if (service == nullptr) return error_reply(error_not_found, "service not found: " + fault.subject);
      return service_fail(cluster, *service);
    }
    case Kind::daemon_silent:
      cluster.silent_until = now + fault.duration;
      return message_reply("reading no requests for " + std::to_string(fault.duration.count()) + " ms");
    case Kind::reset:
      break;
  }
  return reset(cluster);
}

Json fault_request(const std::string& fault) {
  return Json{{"call", "sim"}, {"cmd", "inject"}, {"fault", fault}};
}

}  // namespace tarnex::sim
