// What only a started program shows of its endings: a change interrupted
// while it waits leaves a word, missing standard descriptors and a closed
// pipe end it the conventional way, and at a terminal it says where it waits.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;

const std::string bravo =
    R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";

// A stop signal while a change waits for its reply: the change may have
// gone through, and the operator is told so and how to look; a read-only
// command just ends. Each case is arranged, not timed: the daemon holds the
// request it took (a connection was made), or nothing listens at all and the
// signal comes after the first dot (the change was never sent).
TEST(Interrupted, ChangesLeaveAWordListingsEndSilently) {
  const std::string check = " may already have taken effect; check the actual state: tarnex-viravi ";
  struct Case {
    std::vector<std::string> args;
    std::vector<Reply> script;  // the last request is left waiting
    int signal;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"node", "disable", "--id=2"},
       {stay_silent()},
       SIGINT,
       "Interrupted: disabling node 2" + check + "node status --id=2\n"},
      {{"node", "exit", "--id=alpha", "-f"},
       {stay_silent()},
       SIGTERM,
       "Interrupted: removing node alpha from the cluster" + check + "node status --id=alpha\n"},
      {{"service", "start", "--name=db", "--node=2"},
       {stay_silent()},
       SIGHUP,
       "Interrupted: starting service db on node 2" + check + "service status --name=db\n"},
      {{"cluster", "exit"},
       {stay_silent()},
       SIGINT,
       "Interrupted: stopping every service and removing every node" + check + "cluster status\n"},
      {{"service", "move", "--name=db", "--node=bravo"},
       {{bravo}, {R"({"response": [{"name": "db", "enabled": true}]})"}, stay_silent()},
       SIGTERM,
       "Interrupted: stopping service db may already have taken effect; starting it on node 2 was not sent; "
       "check the actual state: tarnex-viravi service status --name=db\n"},
      {{"service", "status", "--name=db"}, {stay_silent()}, SIGINT, ""},
      {{"cluster", "status"}, {{bravo}, stay_silent()}, SIGTERM, ""},
      {{"node", "enable", "--id=2"},
       {},
       SIGINT,
       "Interrupted: enabling node 2 was not sent; no connection to the daemon was made\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Responder daemon(c.script);
    Sandbox box;
    ProcessRun run;
    if (c.script.empty()) {
      box.use_endpoint("ipc://" + (box.dir / "nobody-listens").string());
      run = box.command(c.args);
      run.signal_after = ".";
    } else {
      box.use_endpoint(daemon.endpoint());
      run = box.command(c.args);
      run.signal_when = [&daemon, count = c.script.size()] { return daemon.requests().size() >= count; };
    }
    run.signal = c.signal;
    const RunResult result = run_process(run);
    EXPECT_EQ(result.signal, c.signal) << "status " << result.exit_status << ": " << result.err;
    EXPECT_EQ(result.err, c.err);
  }
}

// Started with standard output or error closed, the program must not let a
// library's descriptor take its number (its writes would land there, and
// the library abort); output it cannot write makes it fail, loudly when it
// still can.
TEST(StandardDescriptors, ClosedOnesNeitherAbortNorPassForSuccess) {
  struct Case {
    bool stdout_closed;
    bool stderr_closed;
    std::vector<std::string> args;
    std::string reply;
    std::string err;
    int status;
  };
  const std::vector<Case> cases = {
      {true,
       false,
       {"service", "stop", "--name=db"},
       R"({"response": {"message": "stopped"}})",
       "Error: cannot write standard output: Bad file descriptor\n",
       1},
      {false, true, {"cluster", "exit"}, R"({"error": 1, "errorMessage": "refused"})", "", 11},
      {true, true, {"node", "list"}, bravo, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Responder daemon({{c.reply}});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    ProcessRun run = box.command(c.args);
    run.closed_stdout = c.stdout_closed;
    run.closed_stderr = c.stderr_closed;
    const RunResult result = run_process(run);
    EXPECT_EQ(result.signal, 0) << "ended by a signal";
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.err, c.err);
  }
}

// A reader that goes away (`| head -1`) ends a listing as SIGPIPE does,
// without a message: that is no fault of the run. A change goes on with
// every request it was asked to make (a move is not cut between its stop
// and its start), then says that its output was lost.
TEST(StandardDescriptors, ABrokenPipeEndsAListingButNotAChange) {
  const std::string db = R"({"response": [{"name": "db", "enabled": true}]})";
  struct Case {
    std::vector<std::string> args;
    std::vector<Reply> replies;
    int signal;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"node", "list"}, {{bravo, 300ms}}, SIGPIPE, -1, ""},
      {{"service", "move", "--name=db", "--node=bravo"},
       {{bravo, 300ms},
        {db},
        {R"({"response": {"message": "db stopped"}})"},
        {R"({"response": {"message": "ok"}})"}},
       0,
       1,
       "Error: cannot write standard output: Broken pipe\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Responder daemon(c.replies);
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    ChildProcess child;
    start_child(child, box.command(c.args));
    close(child.out_fd);
    child.out_fd = -1;
    const RunResult result = finish_child(child, 0, 20s);
    EXPECT_EQ(result.signal, c.signal);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(daemon.requests().size(), c.replies.size());
  }
}

// With standard error on a terminal the program says, after two silent
// seconds, that nothing accepts connections at the endpoint. A change
// interrupted then was never sent, and says so on a line of its own after
// the dots.
TEST(TerminalNotice, ShownOnARealTerminal) {
  Sandbox box;
  const std::string endpoint = "ipc://" + (box.dir / "nobody-listens").string();
  box.use_endpoint(endpoint);
  const std::string notice =
      "Waiting for the daemon at " + endpoint +
      ": nothing is accepting connections there. Ctrl-C stops; --timeout=SECONDS limits the wait.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"node", "list"}, notice},
      {{"node", "disable", "--id=2"},
       notice + "\nInterrupted: disabling node 2 was not sent; no connection to the daemon was made\n"},
  };
  std::vector<ChildProcess> children(cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ProcessRun run = box.command(cases[i].first);
    run.out_terminal = i > 0;
    run.err_terminal = true;
    start_child(children[i], run);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first[1]);
    ChildProcess& child = children[i];
    EXPECT_TRUE(wait_until(
        child, [&] { return child.err.size() >= notice.size() && child.out.find('.') != std::string::npos; },
        20s));
    const RunResult result = finish_child(child, SIGINT, 20s);
    EXPECT_EQ(result.signal, SIGINT);
    EXPECT_EQ(result.err, cases[i].second);
  }
}

}  // namespace
}  // namespace tarnex::testing
