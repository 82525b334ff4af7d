#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnex::testing {

// What one run of a program left behind. `exit_status` is the status passed
// to exit(), or -1 when the process did not exit normally (then `signal`
// names the signal that ended it, or `timed_out` says we killed it).
struct RunResult {
  std::string out;
  std::string err;
  int exit_status = -1;
  int signal = 0;
  bool timed_out = false;
  bool core_dumped = false;
  // From the signal a ProcessRun asked for to the end of the process.
  std::optional<std::chrono::milliseconds> ended_after_signal;
};

// How to run a program: stdin from /dev/null, stdout and stderr captured.
struct ProcessRun {
  std::filesystem::path program;
  std::vector<std::string> argv;           // argv[0] included, so a test can choose the name the program sees
  std::filesystem::path directory;         // where it runs; empty for the test's own
  std::chrono::milliseconds limit{30000};  // killed once this has passed (run_process only)
  std::vector<std::string> prefix;         // a tool the program runs under (strace, valgrind), its path first
  std::vector<std::string> environment;    // NAME=value entries that win over the test's own
  bool unprivileged = false;   // as nobody when the tests run as root: file permissions do not stop root
  bool closed_stdout = false;  // started with standard output closed
  bool closed_stderr = false;
  bool out_terminal = false;  // standard output on a pseudo-terminal, read like a pipe
  bool err_terminal = false;
  int signal = 0;            // sent once stdout contains `signal_after`,
  std::string signal_after;  // or once `signal_when` holds, when it is set
  std::function<bool()> signal_when;
};

// The status of a child that could not become nobody or run the program.
inline constexpr int exec_failed_status = 127;

// A child that runs while the test goes on, its output read as it comes.
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

// Starts `run` (its limit and signal are for run_process). Throws
// std::system_error when it cannot.
void start_child(ChildProcess& child, const ProcessRun& run);

// Reads the child's output until `needle` shows in its standard output (true),
// or the child closes its output or the time-out passes (false).
bool wait_for_output(ChildProcess& child, const std::string& needle, std::chrono::milliseconds timeout);

// Reads the child's output until `condition` holds (true), or the child
// closes its output or the time-out passes (false).
bool wait_until(ChildProcess& child, const std::function<bool()>& condition,
                std::chrono::milliseconds timeout);

// Sends `signal` (none when 0), then collects output until the child ends.
// After the time-out the child is killed and the result says timed_out.
RunResult finish_child(ChildProcess& child, int signal, std::chrono::milliseconds timeout);

// Runs a program to its end, with the signal `run` asks for; nothing here
// waits longer than its limit.
RunResult run_process(const ProcessRun& run);

// Runs `program` with `argv` in `directory`, killed once `limit` has passed.
RunResult run_process(const std::filesystem::path& program, const std::vector<std::string>& argv,
                      const std::filesystem::path& directory, std::chrono::milliseconds limit);

// The program at argv[0] with these arguments, in `directory` when it is
// not empty.
ProcessRun plain_run(const std::vector<std::string>& argv, const std::filesystem::path& directory = {});

// start_child and run_process for a plain_run.
void start_child(ChildProcess& child, const std::vector<std::string>& argv,
                 const std::filesystem::path& directory = {});
RunResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                      const std::filesystem::path& directory = {});

// A loopback TCP port that was free a moment ago.
int free_tcp_port();

// Starts the daemon command line that `argv_for` builds for a loopback
// endpoint on a free port, and waits until the daemon says it listens there.
// A port taken by someone else in between means another try. Returns the
// endpoint, or the empty text with the daemon's output in `problem`.
std::string start_daemon_on_free_port(
    ChildProcess& daemon, const std::function<std::vector<std::string>(const std::string&)>& argv_for,
    std::string& problem);

// Whether tests as root can run a program as nobody, or run as non-root
// anyway (then permissions already apply).
bool can_drop_privileges();

// Full path of a program found on PATH, or empty.
std::filesystem::path find_on_path(const std::string& name);

}  // namespace tarnex::testing
