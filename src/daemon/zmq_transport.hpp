#pragma once

#include "daemon/transport.hpp"

namespace tarnex {

// Requests over ZeroMQ: one REQ socket per request, on one context for the
// whole process, closed without lingering.
class ZmqTransport : public Transport {
 public:
  std::unique_ptr<Connection> open() override;
};

}  // namespace tarnex
