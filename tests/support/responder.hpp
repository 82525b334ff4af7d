#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

#include "support/reply.hpp"

namespace tarnex::testing {

// A stand-in for the daemon over real ZeroMQ: a REP socket on a free loopback
// port, run by its own thread, that answers the n-th request with the n-th
// scripted reply and records every request byte for byte.
class Responder {
 public:
  explicit Responder(std::vector<Reply> script = {});
  ~Responder();
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  const std::string& endpoint() const { return endpoint_; }
  std::vector<std::string> requests() const;

 private:
  void serve(zmq::socket_t socket);

  std::vector<Reply> script_;
  zmq::context_t context_;
  std::string endpoint_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace tarnex::testing
