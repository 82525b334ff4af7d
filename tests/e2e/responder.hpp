#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

namespace tarnex::e2e {

// One scripted step: the exact reply bytes, sent after `delay`. Instead of
// answering, a step may die (close the socket, as a killed daemon would, so
// the request is lost) or stay silent from this request on.
struct Reply {
  enum class Kind { answer, die, silent };
  std::string text;
  std::chrono::milliseconds delay{0};
  Kind kind = Kind::answer;
};

inline Reply die() {
  return {{}, {}, Reply::Kind::die};
}
inline Reply stay_silent() {
  return {{}, {}, Reply::Kind::silent};
}

// A script that answers with each text in turn.
std::vector<Reply> answers(const std::vector<std::string>& texts);

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
