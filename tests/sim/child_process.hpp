#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "process.hpp"
#include "support/temp_dir.hpp"

namespace tarnex::testing {

// Children are started, read and ended by the end-to-end process runner.
using e2e::ChildProcess;
using e2e::finish_child;
using e2e::ProcessResult;
using e2e::wait_for_output;

// The program at argv[0], in `cwd` when it is not empty.
inline e2e::ProcessRun plain_run(const std::vector<std::string>& argv, const std::string& cwd) {
  e2e::ProcessRun run;
  run.program = argv.at(0);
  run.argv = argv;
  run.directory = cwd;
  return run;
}

// Starts the program at argv[0] with standard input from /dev/null, in `cwd`
// when it is not empty. Throws when it cannot.
inline void start_child(ChildProcess& child, const std::vector<std::string>& argv,
                        const std::string& cwd = {}) {
  e2e::start_child(child, plain_run(argv, cwd));
}

// Runs a program to its end, killing it after the time-out.
inline ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                                 const std::string& cwd = {}) {
  e2e::ProcessRun run = plain_run(argv, cwd);
  run.limit = timeout;
  return e2e::run_process(run);
}

// A loopback TCP port that was free a moment ago.
int free_tcp_port();

// Starts the daemon command line that `argv_for` builds for a loopback
// endpoint on a free port, and waits until the daemon says it listens there.
// A port taken by someone else in between means another try. Returns the
// endpoint, or the empty text with the daemon's output in `problem`.
std::string start_daemon_on_free_port(
    ChildProcess& daemon, const std::function<std::vector<std::string>(const std::string&)>& argv_for,
    std::string& problem);

}  // namespace tarnex::testing
