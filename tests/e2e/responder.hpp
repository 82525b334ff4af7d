#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

namespace tarnex::e2e {

// One scripted answer: the exact reply bytes, sent after `delay`.
struct Reply {
  std::string text;
  std::chrono::milliseconds delay{0};
};

// A stand-in for the daemon: a REP socket on a free loopback port, run by its
// own thread, that answers the n-th request with the n-th scripted reply and
// records every request byte for byte. Requests beyond the script get an
// error reply that names the fault, so a test never hangs on a surprise.
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

inline constexpr const char* unscripted_reply =
    R"({"error":99,"errorMessage":"e2e: request beyond the script"})";

}  // namespace tarnex::e2e
