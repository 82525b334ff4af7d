#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"

namespace tarnex {

// The cluster as the daemon's status replies describe it, read once for
// every consumer: the tables, the JSON document, the node lookup, the move's
// checks, the monitoring programs and the simulated daemon's replies.

// The states the daemon is known to send. A record keeps the daemon's own
// text; these name the ones a program acts on, and `other` is every state
// the table below does not know.
enum class NodeState { online, offline, other };
enum class ServiceState { stopped, starting, online, stopping, failed, other };
enum class PoolState { exported, importing, online, exporting, degraded, other };

template <typename State>
struct StateWord {
  State state;
  std::string_view word;  // as on the wire
};

// The known states of each kind with their wire words: adding a state the
// daemon may send is adding a row here.
std::span<const StateWord<NodeState>> node_state_words();
std::span<const StateWord<ServiceState>> service_state_words();
std::span<const StateWord<PoolState>> pool_state_words();

// The wire word of a known state; empty for `other`.
std::string_view state_word(NodeState state);
std::string_view state_word(ServiceState state);
std::string_view state_word(PoolState state);

// A wire word read back: its state, or `other` for a word not in the table
// (compared byte for byte: "online" is not ONLINE).
NodeState node_state(std::string_view word);
ServiceState service_state(std::string_view word);
PoolState pool_state(std::string_view word);

struct Pool {
  std::string name;
  std::string state;
};

struct Node {
  std::int64_t id = -1;  // as sent; -1 when the record has none that reads as a number
  std::string name;
  std::string state;
  bool enabled = false;
  const Json* source = nullptr;  // the record in the reply it was read from
};

struct Service {
  std::string name;
  std::int64_t run_node = -1;  // as sent; -1 when there is none
  std::string state;
  bool enabled = false;
  std::vector<Pool> pools;
  // The record holds an "error" member: the daemon could not tell this
  // service's state, so `state` and `enabled` say nothing about it.
  bool error = false;
  // Read merged: the states of the later records of its name that hold no
  // error, for whoever reports every state a name is in.
  std::vector<std::string> more_states;
  const Json* source = nullptr;  // the first record it was read from
};

// The "response" array of a reply; nullptr when the reply has none.
const Json* response_list(const Json& reply);

// The node a run_node value names: ids 1..1023, judged on the low 32 bits
// taken as signed as the daemon stores them; 0 when it names none.
int placed_node(std::int64_t run_node);

// How a consumer reads a list. By default every record is kept in the order
// received, as the JSON document and the lookup need them.
struct ReadRules {
  // Ascending by id (nodes) or name (services); one node per id, the first
  // record winning; one service per name, the first record giving the row
  // and every record of the name adding its pools and its state. The tables
  // and the monitoring programs read so.
  bool merged = false;
  // Nodes without an id that reads as a number are left out.
  bool only_numbered = false;
};

std::vector<Node> read_nodes(const Json& reply, const ReadRules& rules);
std::vector<Service> read_services(const Json& reply, const ReadRules& rules);

// One record, read tolerantly.
Node read_node(const Json& record);
Service read_service(const Json& record);

}  // namespace tarnex
