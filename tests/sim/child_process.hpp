#pragma once

#include <sys/types.h>

#include <chrono>
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

}  // namespace tarnex::testing
