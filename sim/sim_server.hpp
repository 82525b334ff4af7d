#pragma once

#include <chrono>
#include <csignal>
#include <string>

#include "sim_cluster.hpp"

namespace tarnex::sim {

// Set by the signal handlers of ruxd-sim: the loop ends within a tenth of a
// second of it.
extern volatile std::sig_atomic_t stop_requested;

// Listens at `endpoint` and answers requests for `cluster`, each reply held
// back `delay`, until stop_requested is set. A connection whose peer has not
// sent its whole greeting `greeting_bound` after it opened (counted from the
// end of a silence, while the daemon reads nothing) is closed; zero keeps
// every connection. False with `*error` set when the endpoint cannot be
// bound; `on_listening` runs once it is.
bool serve(SimCluster& cluster, const std::string& endpoint, std::chrono::milliseconds delay,
           std::chrono::milliseconds greeting_bound,
           void (*on_listening)(const std::string& endpoint, const SimCluster& cluster), std::string* error);

}  // namespace tarnex::sim
