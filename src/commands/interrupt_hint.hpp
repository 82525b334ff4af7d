#pragma once

#include <string>

namespace tarnex {

// While armed, a stop signal (SIGINT, SIGTERM, SIGHUP) that ends the program
// first writes `hint` to standard error, then ends it as the signal would.
// A signal that was ignored when the program started stays ignored. The
// text must stay alive until the hint is disarmed.
class InterruptHint {
 public:
  explicit InterruptHint(const std::string& hint);
  ~InterruptHint();
  InterruptHint(const InterruptHint&) = delete;
  InterruptHint& operator=(const InterruptHint&) = delete;
};

}  // namespace tarnex
