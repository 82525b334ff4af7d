#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "daemon/transport.hpp"
#include "support/reply.hpp"

namespace tarnex::testing {

// The daemon in place of the ZeroMQ transport, in the test's own process:
// the n-th request gets the n-th scripted reply. Time is virtual: a reply's
// delay is used up by the waits the exchange makes, so nothing here sleeps.
// A daemon that died or stays silent never answers; so that a test cannot
// hang on one, a wait fails once `patience` of virtual time has passed.
class ScriptedTransport : public Transport {
 public:
  explicit ScriptedTransport(std::vector<Reply> script = {});
  std::unique_ptr<Connection> open(bool watch_peer) override;

  std::vector<std::string> requests;   // every request text, in order
  std::vector<std::string> endpoints;  // where each went
  std::chrono::milliseconds waited{0};
  std::chrono::milliseconds patience{std::chrono::hours(1)};
  PeerState peer = PeerState::connected;  // what a watched connection reports
  std::vector<bool> watched;              // whether each connection was opened to watch

 private:
  friend class ScriptedConnection;
  std::vector<Reply> script_;
  std::size_t attempts_ = 0;
};

}  // namespace tarnex::testing
