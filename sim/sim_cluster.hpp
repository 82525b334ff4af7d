#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/cluster_config.hpp"
#include "daemon/message.hpp"

namespace tarnex::sim {

// The simulated cluster: what ruxd-sim knows, kept in memory only. Every
// request is answered from and applied to one of these.

// Node states: "ONLINE", or "BROKEN" after `node break` until the node is
// enabled again.
struct SimNode {
  std::uint32_t id = 0;
  std::string nodename;
  std::string state = "ONLINE";
  bool enabled = true;
};

// Service states: "ONLINE" (placed on run_node), "STOPPED" (run_node -1),
// "BROKEN" (after `service break`; keeps its run_node).
struct SimService {
  std::string name;
  bool enabled = true;
  std::string state = "STOPPED";
  std::int64_t run_node = -1;
  std::vector<std::string> pools;
  // Node ids of the service's distribution preferences, in file order.
  std::vector<std::uint32_t> preferred_nodes;
};

struct SimCluster {
  std::vector<SimNode> nodes;
  std::vector<SimService> services;
};

// Values of the "error" member of error replies.
inline constexpr int kErrorBadRequest = 1;
inline constexpr int kErrorNotFound = 2;
inline constexpr int kErrorRefused = 3;

// Builds the cluster from a validated configuration: every node ONLINE,
// every enabled service started on the first of its preferred nodes that
// can run it, else on the first node that can; disabled services stay
// stopped.
SimCluster build_sim_cluster(const ClusterConfig& config);

// Answers one request and applies it to `cluster`. Never throws for any
// request value: malformed or refused requests get an error reply.
Json handle_request(SimCluster& cluster, const Json& request);

// The wire form of handle_request: parses the request text (strict JSON)
// and returns the compact reply text.
std::string handle_request_text(SimCluster& cluster, const std::string& text);

Json error_reply(int code, const std::string& message);

}  // namespace tarnex::sim
