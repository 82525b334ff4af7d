#pragma once

#include <string>

#include "daemon/exchange.hpp"

namespace tarnex {

// While armed, a stop signal (SIGINT, SIGTERM, SIGHUP) that ends the program
// first writes a hint to standard error, then ends it as the signal would:
// `hint`, or `unsent_hint` when `exchange` says that no connection to the
// daemon was made. With `newline_after_dots`, progress dots still out get
// their newline first. A signal that was ignored when the program started
// stays ignored. The texts and the state must outlive the armed hint.
class InterruptHint {
 public:
  InterruptHint(const std::string& hint, const std::string& unsent_hint, const ExchangeState& exchange,
                bool newline_after_dots);
  ~InterruptHint();
  InterruptHint(const InterruptHint&) = delete;
  InterruptHint& operator=(const InterruptHint&) = delete;
};

}  // namespace tarnex
