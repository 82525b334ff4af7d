// What only the started plugin shows: stopped by a signal, or with nowhere
// to write its report, it ends UNKNOWN, never OK or killed by the signal.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/responder.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;

TEST(CheckTarnexProcess, SignalsAndLostOutputEndUnknown) {
  struct Case {
    int signal;
    std::string out;
  };
  const std::vector<Case> cases = {
      {SIGTERM, "TARNEX UNKNOWN - the check was stopped by SIGTERM\n"},
      {SIGHUP, "TARNEX UNKNOWN - the check was stopped by SIGHUP\n"},
      {SIGINT, "TARNEX UNKNOWN - the check was stopped by SIGINT\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    Responder daemon({stay_silent()});
    ProcessRun run = plain_run({TARNEX_CHECK_PATH, "-E", daemon.endpoint(), "-t", "60"});
    run.signal = c.signal;
    run.signal_when = [&daemon] { return !daemon.requests().empty(); };
    const RunResult result = run_process(run);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_status, 3);
    EXPECT_EQ(result.out, c.out);
  }

  // A reader gone before the report (written once the daemon's second of
  // silence has passed) and standard output closed from the start.
  Responder daemon({stay_silent()});
  ChildProcess child;
  start_child(child, plain_run({TARNEX_CHECK_PATH, "-E", daemon.endpoint(), "-t", "1"}));
  close(child.out_fd);
  child.out_fd = -1;
  const RunResult broken_pipe = finish_child(child, 0, 60s);
  EXPECT_EQ(broken_pipe.signal, 0);
  EXPECT_EQ(broken_pipe.exit_status, 3);
  ProcessRun closed = plain_run({TARNEX_CHECK_PATH, "-V"});
  closed.closed_stdout = true;
  const RunResult no_stdout = run_process(closed);
  EXPECT_EQ(no_stdout.signal, 0);
  EXPECT_EQ(no_stdout.exit_status, 3);
}

}  // namespace
}  // namespace tarnex::testing
