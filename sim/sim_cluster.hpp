#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cluster_model.hpp"
#include "config/cluster_config.hpp"
#include "daemon/message.hpp"
#include "sim_faults.hpp"

namespace tarnex::sim {

// The simulated cluster: what ruxd-sim knows, kept in memory only. Every
// request is answered from and applied to one of these.

// The states are the cluster model's (base/cluster_model.hpp); the
// simulator never holds `other`. A node is online, or offline while a fault
// holds it down. A service is online (placed on run_node), stopped (run_node
// -1), starting on run_node and stopping from run_node while a start or stop
// takes its time, or failed after a fault (on run_node, or -1 when its node
// went down and no other node took it over).

// What a service's pools are in, which follows from the service's state.
PoolState pool_state(ServiceState state);

struct SimNode {
  std::uint32_t id = 0;
  std::string nodename;
  NodeState state = NodeState::online;
  bool enabled = true;
};

struct SimService {
  std::string name;
  bool enabled = true;
  ServiceState state = ServiceState::stopped;
  std::int64_t run_node = -1;
  std::vector<std::string> pools;
  // Node ids of the service's distribution preferences, in file order.
  std::vector<std::uint32_t> preferred_nodes;
};

// A service start or stop in progress. Whoever sent the request waits, under
// `ticket`, for the reply that comes when it ends or is broken off.
struct SimOperation {
  std::string service;
  bool start = true;                                 // else a stop
  std::int64_t node = -1;                            // where the service starts, or runs while it stops
  ServiceState state_before = ServiceState::online;  // what a stop broken off leaves the service in
  SimTime ends{0};
  std::uint64_t ticket = 0;  // 0: nobody waits
};

// A reply that was held back, for the request handed in with `ticket`.
struct SimReply {
  std::uint64_t ticket = 0;
  Json reply;
};

struct SimCluster {
  std::vector<SimNode> nodes;
  std::vector<SimService> services;
  SimTime op_time{0};  // how long a service start or stop takes; 0: no time at all
  std::vector<SimOperation> operations;
  std::vector<SimReply> outbox;  // held replies that are due, for advance()
  SimTime silent_until{0};       // the daemon reads no request before then
  // The state it was built with, for the "reset" fault.
  std::vector<SimNode> initial_nodes;
  std::vector<SimService> initial_services;
};

// Values of the "error" member of error replies.
inline constexpr int error_bad_request = 1;
inline constexpr int error_not_found = 2;
inline constexpr int error_refused = 3;
inline constexpr int error_broken_off = 4;

Json error_reply(int code, const std::string& message);
Json message_reply(const std::string& message);
Json response_reply(Json response);

// Builds the cluster from a validated configuration: every node online,
// every enabled service started on the first of its preferred nodes that
// can run it, else on the first node that can; disabled services stay
// stopped.
SimCluster build_sim_cluster(const ClusterConfig& config, SimTime op_time = SimTime{0});

// Ends the operations due by `now` and hands out every reply held until then.
std::vector<SimReply> advance(SimCluster& cluster, SimTime now);

// When the next operation ends, if one is in progress.
std::optional<SimTime> next_operation_end(const SimCluster& cluster);

// What the request handlers and the faults share.

SimNode* find_node(SimCluster& cluster, std::int64_t id);
SimService* find_service(SimCluster& cluster, const std::string& name);

// A node reference: an integer names a node by id, a string by its name or
// else by the decimal text of its id, as the client sends whatever the
// operator typed. `member` names the reference in the error reply that
// `*error` gets when no node matches.
SimNode* resolve_node(SimCluster& cluster, const Json& ref, const char* member, Json* error);

// "node 2 (bravo)", or "node 2" for a node that is gone.
std::string node_label(const SimNode& node);
std::string node_text(SimCluster& cluster, std::int64_t id);
// "web is STOPPED", "web is ONLINE on node 2 (bravo)".
std::string service_whereabouts(SimCluster& cluster, const SimService& service);
std::string join(const std::vector<std::string>& parts, const char* separator);

bool can_run_services(const SimNode& node);

// Where a service goes when no node is asked for: back where it is (a failed
// service restarts in place), else the first preferred node able to run it,
// else the first node able to.
SimNode* placement_for(SimCluster& cluster, const SimService& service);

void stop_service(SimService& service);

// Ends an operation with its effect, and returns the reply its requester gets.
Json complete_operation(SimCluster& cluster, const SimOperation& operation);

// Begins a start or stop of `service` at `now` for the request handed in with
// `ticket`. With no operation time it ends at once and its reply is the
// answer; otherwise the answer waits for advance() (nullopt).
std::optional<Json> begin_operation(SimCluster& cluster, SimService& service, SimOperation operation,
                                    SimTime now, std::uint64_t ticket);

// What breaking off an operation leaves the service in.
enum class Leave {
  undone,   // as before it began: a start stopped, a stop running where it was
  stopped,  // stopped (its node is leaving)
  failed,   // failed where it was going to run or was running
  as_is,    // whatever the caller has made of it
};

// Ends an operation without its effect. The requester is told `why`; the text
// returned says what was broken off and what the service is left as.
std::string break_off(SimCluster& cluster, const SimOperation& operation, const std::string& why,
                      Leave leave = Leave::undone);

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

// Breaks off every operation that `matches`; one text for each, as break_off.
template <typename Predicate>
std::vector<std::string> break_off_where(SimCluster& cluster, Predicate matches, const std::string& why,
                                         Leave leave = Leave::undone) {
  std::vector<std::string> done;
  for (const auto& operation : take_operations(cluster, matches))
    done.push_back(break_off(cluster, operation, why, leave));
  return done;
}

}  // namespace tarnex::sim
