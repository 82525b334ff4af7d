#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "daemon/transport.hpp"
#include "sim_cluster.hpp"

namespace tarnex::testing {

// The simulated daemon in place of the ZeroMQ transport, in the test's own
// process, for one client at a time. It plays ruxd-sim's loop in virtual
// time: a request sent while the daemon is silent is read when the silence
// ends, a start or stop that takes time holds its reply until it ends, and
// `reply_delay` holds every reply as --delay-ms does. A receive moves `now`
// on to the next of these, never further than its wait, so nothing sleeps.
// A request nobody will ever answer fails the wait once `patience` of
// virtual time has passed, so that a test cannot hang on it.
class SimTransport : public Transport {
 public:
  SimTransport(sim::SimCluster cluster, std::string endpoint);
  std::unique_ptr<Connection> open(bool watch_peer) override;

  sim::SimCluster cluster;
  std::string endpoint;  // the only endpoint a request reaches
  sim::SimTime now{0};   // the daemon's clock
  std::chrono::milliseconds reply_delay{0};
  std::chrono::milliseconds patience{std::chrono::hours(1)};

 private:
  friend class SimConnection;
  std::uint64_t next_ticket_ = 1;
};

}  // namespace tarnex::testing
