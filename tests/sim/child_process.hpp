#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarnex::testing {

// How a child process ended, and everything it wrote.
struct ProcessResult {
  int exit_status = -1;  // -1 when a signal ended it
  int signal = 0;        // the signal that ended it, else 0
  bool timed_out = false;
  std::string out;
  std::string err;
};

// A running child with its standard output and error read through pipes.
// Whatever happens in a test, the destructor kills and reaps a child that is
// still running, so no test leaves a process behind.
struct ChildProcess {
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
  std::string out;
  std::string err;
};

// Starts the program at argv[0] with standard input from /dev/null, in `cwd`
// when it is not empty. Throws std::runtime_error when it cannot.
void start_child(ChildProcess& child, const std::vector<std::string>& argv, const std::string& cwd = {});

// Reads the child's output until `needle` shows in its standard output (true),
// or the child closes its output or the time-out passes (false).
bool wait_for_output(ChildProcess& child, const std::string& needle, std::chrono::milliseconds timeout);

// Sends `signal` (none when 0), then collects output until the child ends.
// After the time-out the child is killed and the result says timed_out.
ProcessResult finish_child(ChildProcess& child, int signal, std::chrono::milliseconds timeout);

// Runs a program to its end, killing it after the time-out.
ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::string& cwd = {});

// A loopback TCP port that was free a moment ago.
int free_tcp_port();

// Starts the daemon command line that `argv_for` builds for a loopback
// endpoint on a free port, and waits until the daemon says it listens there.
// A port taken by someone else in between means another try. Returns the
// endpoint, or the empty text with the daemon's output in `problem`.
std::string start_daemon_on_free_port(
    ChildProcess& daemon, const std::function<std::vector<std::string>(const std::string&)>& argv_for,
    std::string& problem);

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the scope.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `text` to the file `name` in the directory; returns its path.
  std::string file(const std::string& name, const std::string& text) const;

  std::string path;
};

}  // namespace tarnex::testing
