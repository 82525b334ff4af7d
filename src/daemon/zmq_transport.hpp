#pragma once

#include "daemon/transport.hpp"

namespace tarnex {

// Requests over ZeroMQ: one REQ socket per request, on one context for the
// whole process, closed without lingering. The daemon's end is watched
// through ZeroMQ's socket monitor.
class ZmqTransport : public Transport {
 public:
  std::unique_ptr<Connection> open(bool watch_peer) override;
};

}  // namespace tarnex
