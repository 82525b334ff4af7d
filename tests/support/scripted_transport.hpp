#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "daemon/transport.hpp"

namespace tarnex::testing {

// One scripted step of a daemon stand-in.
struct Step {
  enum class Kind {
    answer,        // `text` after `delay`
    silent,        // never answers
    refuse_send,   // the transport accepts nothing
    fail_connect,  // connecting throws with `text`
  };
  std::string text;
  std::chrono::milliseconds delay{0};
  Kind kind = Kind::answer;
};

// The daemon in place of the ZeroMQ transport, in the test's own process:
// the n-th request gets the n-th step, and requests beyond the script get an
// error reply that names the fault, so a test never hangs on a surprise.
// Time is virtual: a step's delay is used up by the waits the exchange makes,
// so nothing here sleeps.
class ScriptedTransport : public Transport {
 public:
  explicit ScriptedTransport(std::vector<Step> script = {});
  std::unique_ptr<Connection> open() override;

  std::vector<std::string> requests;   // every request text, in order
  std::vector<std::string> endpoints;  // where each went
  std::chrono::milliseconds waited{0};
  // A silent step fails the wait once this much virtual time has passed.
  std::chrono::milliseconds patience{std::chrono::hours(1)};

 private:
  friend class ScriptedConnection;
  std::vector<Step> script_;
  std::size_t attempts_ = 0;
};

inline constexpr const char* unscripted_reply =
    R"({"error":99,"errorMessage":"test: request beyond the script"})";

}  // namespace tarnex::testing
