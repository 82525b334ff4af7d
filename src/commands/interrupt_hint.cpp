#include "commands/interrupt_hint.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <iterator>

namespace tarnex {
namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(stop_signals)];
bool armed[std::size(stop_signals)] = {};
std::atomic<int> caught_signal{0};
// The pipe a caught signal writes a byte to; made once, kept open.
int wake_pipe[2] = {-1, -1};

extern "C" void catch_stop_signal(int signal_number) {
  caught_signal.store(signal_number);
  if (wake_pipe[1] >= 0) {
    const char byte = 0;
    const ssize_t written = write(wake_pipe[1], &byte, 1);
    static_cast<void>(written);
  }
}

bool make_wake_pipe() {
  if (wake_pipe[0] >= 0) return true;
  return pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) == 0;
}

}  // namespace

InterruptHint::InterruptHint() {
  caught_signal.store(0);
  if (!make_wake_pipe()) return;
  struct sigaction action {};
  action.sa_handler = catch_stop_signal;
  // A second signal finds the handler reset and ends the program.
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(stop_signals); ++i) {
    armed[i] = sigaction(stop_signals[i], nullptr, &saved_actions[i]) == 0 &&
               saved_actions[i].sa_handler != SIG_IGN && sigaction(stop_signals[i], &action, nullptr) == 0;
  }
}

InterruptHint::~InterruptHint() {
  for (std::size_t i = 0; i < std::size(stop_signals); ++i) {
    if (armed[i]) sigaction(stop_signals[i], &saved_actions[i], nullptr);
    armed[i] = false;
  }
}

int InterruptHint::fd() const {
  return wake_pipe[0];
}

int InterruptHint::caught() const {
  return caught_signal.load();
}

void end_as_signal(int signal_number) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal_number);
  std::_Exit(128 + signal_number);
}

}  // namespace tarnex
