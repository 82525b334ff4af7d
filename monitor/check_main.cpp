#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/discovery.hpp"
#include "monitor/check.hpp"

namespace {

void write_text(const char* text) {
  std::size_t size = 0;
  while (text[size] != '\0')
    ++size;
  const ssize_t written = write(STDOUT_FILENO, text, size);
  static_cast<void>(written);
}

// The last word on a run that overstays its timeout (a settings file on a
// hung mount, say): the monitoring host still gets UNKNOWN.
void overstayed(int /*signal*/) {
  write_text("TARNEX UNKNOWN - the check did not end within its timeout\n");
  _exit(tarnex::monitor::check_unknown);
}

// A run stopped from outside has no verdict: UNKNOWN, never OK or a status
// the monitoring host would read as a crash. A broken pipe has no reader to
// tell.
void stopped(int signal) {
  const char* name = signal == SIGTERM ? "TERM" : signal == SIGHUP ? "HUP" : "INT";
  if (signal != SIGPIPE) {
    write_text("TARNEX UNKNOWN - the check was stopped by SIG");
    write_text(name);
    write_text("\n");
  }
  _exit(tarnex::monitor::check_unknown);
}

void handle_stop_signals() {
  struct sigaction action {};
  action.sa_handler = stopped;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGPIPE})
    sigaddset(&action.sa_mask, signal);
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGPIPE})
    sigaction(signal, &action, nullptr);
}

// A standard descriptor the plugin was started without is opened on
// /dev/null before any library opens one, so that no descriptor of
// ZeroMQ's can take its number. Standard output is opened for reading
// only: the report then cannot be written, and the run ends UNKNOWN.
void open_missing_standard_descriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnex::monitor;
  handle_stop_signals();
  open_missing_standard_descriptors();
  const std::vector<std::string> args(argv, argv + argc);
  std::signal(SIGALRM, overstayed);
  const auto transport = daemon_transport();
  CheckEnvironment environment{
      stdout, transport.get(), tarnex::program_directory(args.empty() ? "" : args[0], std::getenv("PATH")),
      Clock::now, [](std::chrono::seconds timeout) { alarm(static_cast<unsigned>(timeout.count()) + 1); }};
  return run_check(args, environment);
}
