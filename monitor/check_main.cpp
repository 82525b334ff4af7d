#include <unistd.h>
#include <cstdlib>

#include <csignal>
#include <string>
#include <vector>

#include "config/discovery.hpp"
#include "monitor/check.hpp"

namespace {

// The last word on a run that overstays its timeout (a settings file on a
// hung mount, say): the monitoring host still gets UNKNOWN.
void overstayed(int /*signal*/) {
  static const char line[] = "TARNEX UNKNOWN - the check did not end within its timeout\n";
  const ssize_t written = write(STDOUT_FILENO, line, sizeof line - 1);
  static_cast<void>(written);
  _exit(tarnex::monitor::check_unknown);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnex::monitor;
  const std::vector<std::string> args(argv, argv + argc);
  std::signal(SIGALRM, overstayed);
  const auto transport = daemon_transport();
  CheckEnvironment environment{
      stdout, transport.get(), tarnex::program_directory(args.empty() ? "" : args[0], std::getenv("PATH")),
      Clock::now, [](std::chrono::seconds timeout) { alarm(static_cast<unsigned>(timeout.count()) + 1); }};
  return run_check(args, environment);
}
