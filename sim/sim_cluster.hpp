#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/cluster_config.hpp"
#include "daemon/message.hpp"
#include "sim_faults.hpp"

namespace tarnex::sim {

// The simulated cluster: what ruxd-sim knows, kept in memory only. Every
// request is answered from and applied to one of these.

// Node states: "ONLINE", or "OFFLINE" while a fault holds the node down.
struct SimNode {
  std::uint32_t id = 0;
  std::string nodename;
  std::string state = "ONLINE";
  bool enabled = true;
};

// Service states: "ONLINE" (placed on run_node), "STOPPED" (run_node -1),
// "STARTING" on run_node and "STOPPING" from run_node while a start or stop
// takes its time, "FAILED" after a fault (on run_node, or -1 when its node
// went down and no other node took it over).
struct SimService {
  std::string name;
  bool enabled = true;
  std::string state = "STOPPED";
  std::int64_t run_node = -1;
  std::vector<std::string> pools;
  // Node ids of the service's distribution preferences, in file order.
  std::vector<std::uint32_t> preferred_nodes;
};

// A service start or stop in progress. Whoever sent the request waits, under
// `ticket`, for the reply that comes when it ends or is broken off.
struct SimOperation {
  std::string service;
  bool start = true;         // else a stop
  std::int64_t node = -1;    // where the service starts, or runs while it stops
  std::string state_before;  // what a stop broken off leaves the service in
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
inline constexpr int kErrorBadRequest = 1;
inline constexpr int kErrorNotFound = 2;
inline constexpr int kErrorRefused = 3;
inline constexpr int kErrorBrokenOff = 4;

// The largest request text that is parsed. The client's requests are a few
// hundred bytes; parsing builds values many times the size of the text, and
// the JSON library needs as much again to free a large array, which it cannot
// survive being refused, so larger requests are refused unread.
inline constexpr std::size_t kMaxParsedRequestBytes = 64 << 10;

// Builds the cluster from a validated configuration: every node ONLINE,
// every enabled service started on the first of its preferred nodes that
// can run it, else on the first node that can; disabled services stay
// stopped.
SimCluster build_sim_cluster(const ClusterConfig& config, SimTime op_time = SimTime{0});

// Answers one request at `now` and applies it to `cluster`. A start or stop
// that takes time gets no reply yet (nullopt): it comes from advance(), under
// `ticket`, once the operation ends. Never throws for any request value:
// malformed or refused requests get an error reply.
std::optional<Json> handle_request(SimCluster& cluster, const Json& request, SimTime now = SimTime{0},
                                   std::uint64_t ticket = 0);

// The wire form of handle_request: parses the request text exactly as
// strictly as the client parses replies, and returns the compact reply text.
// Whatever goes wrong, running out of memory included, becomes an error reply.
std::optional<std::string> handle_request_text(SimCluster& cluster, std::string_view text,
                                               SimTime now = SimTime{0}, std::uint64_t ticket = 0);

// Ends the operations due by `now` and hands out every reply held until then.
std::vector<SimReply> advance(SimCluster& cluster, SimTime now);

// When the next operation ends, if one is in progress.
std::optional<SimTime> next_operation_end(const SimCluster& cluster);

// Applies a fault at `now`; the reply says what it did.
Json apply_fault(SimCluster& cluster, const SimFault& fault, SimTime now);

// The control request of the simulator itself, which the client never sends.
Json fault_request(const std::string& fault);

Json error_reply(int code, const std::string& message);

}  // namespace tarnex::sim
