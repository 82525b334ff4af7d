#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "daemon/message.hpp"

namespace tarnex::sim {

// Milliseconds since the daemon started: the clock of everything in the
// simulator that takes time. It is always passed in, so that the tests can
// move it on without waiting.
using SimTime = std::chrono::milliseconds;

struct SimCluster;

// What an operator can do to the simulated cluster besides the client's
// requests, to rehearse failures. Written as text, one fault a line:
//   node NODE offline        the node goes down; its services fail over
//   node NODE online         the node is back (its services stay where they are)
//   service NAME fail        the service fails where it runs
//   daemon silent DURATION   the daemon reads no request for that long
//   reset                    everything back to the state it started with
// NODE is a node id or name; DURATION is a whole number of ms or s (800ms, 5s).
struct SimFault {
  enum class Kind { node_offline, node_online, service_fail, daemon_silent, reset };
  Kind kind = Kind::reset;
  std::string subject;  // the node reference or the service name
  SimTime duration{0};  // how long daemon_silent lasts
};

inline constexpr SimTime max_silence = std::chrono::hours(1);

// Reads one fault; nullopt with `*error` set for anything else.
std::optional<SimFault> parse_fault(const std::string& text, std::string* error);

// "800ms" or "5s", from 0 to max_silence; nullopt with `*error` set for
// anything else.
std::optional<SimTime> parse_duration(const std::string& text, std::string* error);

// Applies a fault at `now`; the reply says what it did, or why it did not.
Json apply_fault(SimCluster& cluster, const SimFault& fault, SimTime now);

// The control request of the simulator itself, which the client never sends.
Json fault_request(const std::string& fault);

}  // namespace tarnex::sim
