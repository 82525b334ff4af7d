#pragma once

#include <chrono>
#include <string>

namespace tarnex::sim {

// Milliseconds since the daemon started: the clock of everything in the
// simulator that takes time. It is always passed in, so that the tests can
// move it on without waiting.
using SimTime = std::chrono::milliseconds;

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

inline constexpr SimTime kMaxSilence = std::chrono::hours(1);

// Reads one fault. Returns the problem found, or the empty text.
std::string parse_fault(const std::string& text, SimFault& fault);

// "800ms" or "5s", from 0 to kMaxSilence. Returns false for anything else.
bool parse_duration(const std::string& text, SimTime& duration);

}  // namespace tarnex::sim
