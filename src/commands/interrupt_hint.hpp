#pragma once

namespace tarnex {

// While armed, a stop signal (SIGINT, SIGTERM, SIGHUP) is caught and made
// readable on fd(), so that an exchange waiting on it ends and the command
// can say what became of its change before it ends the program the way
// the signal would (end_as_signal). A second signal ends the program at
// once. A signal that was ignored when the program started stays ignored.
class InterruptHint {
 public:
  InterruptHint();
  ~InterruptHint();
  InterruptHint(const InterruptHint&) = delete;
  InterruptHint& operator=(const InterruptHint&) = delete;

  // Readable once a stop signal was caught; -1 when none can be caught.
  int fd() const;
  // The stop signal caught while armed; 0 when none was.
  int caught() const;
};

// Ends the program as `signal_number` does when nothing catches it.
[[noreturn]] void end_as_signal(int signal_number);

}  // namespace tarnex
