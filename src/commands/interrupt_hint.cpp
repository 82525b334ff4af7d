#include "commands/interrupt_hint.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <iterator>

namespace tarnex {
namespace {

std::atomic<const char*> interrupt_hint{nullptr};
std::atomic<std::size_t> interrupt_hint_size{0};
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(stop_signals)];
bool armed[std::size(stop_signals)] = {};

extern "C" void write_interrupt_hint(int signal_number) {
  if (const char* text = interrupt_hint.load()) {
    const ssize_t written = write(STDERR_FILENO, text, interrupt_hint_size.load());
    static_cast<void>(written);
  }
  // The handler was reset on entry and the signal is not blocked: this ends
  // the program the way the signal would have.
  raise(signal_number);
}

}  // namespace

InterruptHint::InterruptHint(const std::string& hint) {
  interrupt_hint_size.store(hint.size());
  interrupt_hint.store(hint.c_str());
  struct sigaction action {};
  action.sa_handler = write_interrupt_hint;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
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
  interrupt_hint.store(nullptr);
}

}  // namespace tarnex
