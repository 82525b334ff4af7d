#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

namespace tarnex::faults {

// What the daemon does with one request: answer with these exact bytes, or
// die (close its socket at once, as a killed process would), or stay silent.
struct Step {
  enum class Kind { answer, die, silent };
  Kind kind = Kind::answer;
  std::string reply;
};

inline Step answer(std::string text) {
  return {Step::Kind::answer, std::move(text)};
}
inline Step die() {
  return {Step::Kind::die, {}};
}

// A daemon on a free loopback port that follows a script, one step per
// request, and records every request. Requests beyond the script get silence.
class FaultyDaemon {
 public:
  explicit FaultyDaemon(std::vector<Step> script);
  ~FaultyDaemon();
  FaultyDaemon(const FaultyDaemon&) = delete;
  FaultyDaemon& operator=(const FaultyDaemon&) = delete;

  const std::string& endpoint() const { return endpoint_; }
  std::vector<std::string> requests() const;

 private:
  void serve(zmq::socket_t socket);

  std::vector<Step> script_;
  zmq::context_t context_;
  std::string endpoint_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace tarnex::faults
