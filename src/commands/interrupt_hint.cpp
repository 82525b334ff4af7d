#include "commands/interrupt_hint.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <iterator>

namespace tarnex {
namespace {

// What the handler writes; filled before the handler is installed.
struct ArmedHint {
  const std::string* hint = nullptr;
  const std::string* unsent_hint = nullptr;
  const ExchangeState* exchange = nullptr;
  bool newline_after_dots = false;
};
ArmedHint armed_hint;
std::atomic<const ArmedHint*> interrupt_hint{nullptr};

void write_text(const char* text, std::size_t size) {
  const ssize_t written = write(STDERR_FILENO, text, size);
  static_cast<void>(written);
}
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(stop_signals)];
bool armed[std::size(stop_signals)] = {};

extern "C" void write_interrupt_hint(int signal_number) {
  if (const ArmedHint* armed = interrupt_hint.load()) {
    if (armed->newline_after_dots && armed->exchange->mid_line.load()) write_text("\n", 1);
    const std::string* text = armed->exchange->reached.load() ? armed->hint : armed->unsent_hint;
    write_text(text->data(), text->size());
  }
  // The handler was reset on entry and the signal is not blocked: this ends
  // the program the way the signal would have.
  raise(signal_number);
}

}  // namespace

InterruptHint::InterruptHint(const std::string& hint, const std::string& unsent_hint,
                             const ExchangeState& exchange, bool newline_after_dots) {
  armed_hint = {&hint, &unsent_hint, &exchange, newline_after_dots};
  interrupt_hint.store(&armed_hint);
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
