// The client as a process against a daemon that is missing, dies or never
// answers, and against files only an unprivileged user cannot read. The one
// wait the client has is for the daemon; a stop signal then ends it at once.
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string missing_endpoint = "Error: mgmt-url is not configured\n";

// The daemon has had `count` requests.
std::function<bool()> requests_seen(const Responder& daemon, std::size_t count) {
  return [&daemon, count] { return daemon.requests().size() >= count; };
}

// Some time has passed since the first call.
std::function<bool()> after(std::chrono::milliseconds wait) {
  return [wait, start = std::optional<std::chrono::steady_clock::time_point>()]() mutable {
    if (!start) start = std::chrono::steady_clock::now();
    return std::chrono::steady_clock::now() - *start >= wait;
  };
}

// Waiting for a daemon that never answers is the one wait the client has
// (with a dot every two seconds, as the tests in process show): a stop signal
// sent once `ready` holds ends it at once, without a core.
void expect_waits_until_signalled(ProcessRun run, int signal, std::function<bool()> ready) {
  run.signal = signal;
  run.signal_when = std::move(ready);
  const RunResult result = run_process(run);
  EXPECT_FALSE(result.timed_out) << result.out;
  EXPECT_EQ(result.signal, signal) << "status " << result.exit_status;
  EXPECT_FALSE(result.core_dumped);
  ASSERT_TRUE(result.ended_after_signal);
  EXPECT_LT(result.ended_after_signal->count(), 1000) << "the signal did not end the client at once";
  EXPECT_EQ(result.out.find_first_not_of('.'), std::string::npos) << result.out;
}

TEST(FaultMatrix, NoDaemonAtTheEndpoint) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    Sandbox box;
    box.use_endpoint("ipc://" + (box.dir / "nobody-listens").string());
    ProcessRun run = box.command({"cluster", "status"});
    expect_waits_until_signalled(run, signal, after(std::chrono::milliseconds(300)));
  }
}

// A daemon that keeps the request and never answers is the same wait.
TEST(FaultMatrix, DaemonDiesAfterReceivingTheRequest) {
  for (const Reply& step : {die(), stay_silent()}) {
    SCOPED_TRACE(step.kind == Reply::Kind::die ? "dies" : "silent");
    Responder daemon({step});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    expect_waits_until_signalled(box.command({"node", "list"}), SIGTERM, requests_seen(daemon, 1));
    EXPECT_EQ(daemon.requests(), std::vector<std::string>{node_status_request});
  }
}

// The stop went through, then the daemon took the start and died: the
// start waits like any request, and the operator who interrupts it learns
// that the start may have taken effect and how to look.
TEST(FaultMatrix, MoveWhoseDaemonDiesBeforeTheStart) {
  const std::string nodes =
      R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
  const std::string db = R"({"response": [{"name": "db", "enabled": true}]})";
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    Responder daemon({{nodes}, {db}, {R"({"response": {"message": "db stopped"}})"}, die()});
    Sandbox box("tv-move");
    box.use_endpoint(daemon.endpoint());
    ProcessRun run = box.command({"service", "move", "--name=db", "--node=bravo"});
    run.signal = signal;
    run.signal_when = requests_seen(daemon, 4);
    const RunResult result = run_process(run);
    EXPECT_FALSE(result.timed_out) << result.out;
    EXPECT_EQ(result.signal, signal);
    EXPECT_FALSE(result.core_dumped);
    EXPECT_EQ(result.out.rfind("db stopped\n", 0), 0U) << result.out;
    EXPECT_EQ(result.out.find_first_not_of('.', 11), std::string::npos) << result.out;
    EXPECT_EQ(result.err,
              "Interrupted: starting service db on node 2 may already have taken effect; check the actual "
              "state: tv-move service status --name=db\n");
    EXPECT_EQ(daemon.requests(),
              (std::vector<std::string>{
                  node_status_request, R"({"call":"service","cmd":"status","serviceName":"db"})",
                  R"({"call":"service","cmd":"stop","serviceName":"db"})",
                  R"({"call":"service","cmd":"start","nodeId":2,"serviceName":"db"})"}));
  }
}

// An interrupt during the node list of a move changes nothing and ends the
// program without a word; one during its stop may have stopped the service,
// and the operator is told so.
TEST(FaultMatrix, MoveInterruptedBeforeTheStopCompletes) {
  const std::string nodes =
      R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
  struct Case {
    std::vector<Reply> script;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{die()}, ""},
      {{{nodes}, {R"({"response": [{"name": "db", "enabled": true}]})"}, die()},
       "Interrupted: stopping service db may already have taken effect; starting it on node 2 was not sent; "
       "check the actual state: tarnex-viravi service status --name=db\n"},
  };
  for (const Case& c : cases) {
    Responder daemon(c.script);
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    ProcessRun run = box.command({"service", "move", "--name=db", "--node=2"});
    run.signal = SIGINT;
    run.signal_when = requests_seen(daemon, c.script.size());
    const RunResult result = run_process(run);
    EXPECT_EQ(result.signal, SIGINT);
    EXPECT_EQ(result.err, c.err);
  }
}

// A configuration the user may not read is refused like a missing one; the
// run ends before any request, with status 1, and never waits.
TEST(FaultMatrix, ConfigurationFileThatCannotBeRead) {
  if (!can_drop_privileges()) GTEST_SKIP() << "cannot run the client as nobody";
  Sandbox box;
  const std::string path = box.config_path.string();
  box.use_endpoint("tcp://127.0.0.1:1");
  ProcessRun run = box.command({"cluster", "exit"});
  box.open_up();
  std::filesystem::permissions(path, std::filesystem::perms::none);
  run.unprivileged = true;
  run.limit = std::chrono::seconds(20);
  const RunResult result = run_process(run);
  ASSERT_NE(result.exit_status, exec_failed_status) << "could not start the client";
  expect_run(result, "", "ruxd:config: cannot open config file: " + path + "\n" + missing_endpoint, 1);
}

// The program's directory may not be searched: that candidate is passed
// over (its settings file is not read), and the search goes on to the
// fallback, the bare name in the current directory.
TEST(FaultMatrix, SettingsFileInADirectoryThatCannotBeSearched) {
  if (!can_drop_privileges()) GTEST_SKIP() << "cannot run the client as nobody";
  Responder daemon({{"{}"}});
  Responder wrong({{R"({"error": 1, "errorMessage": "read the locked settings file"})"}});
  // A name of its own, so that no settings file in the system directories
  // can answer for it.
  Sandbox box("tarnex-fault-locked");
  box.use_endpoint(daemon.endpoint());
  box.write("locked/ruxd.json", daemon_config_with_url(json_quote(wrong.endpoint())));
  box.write("locked/tarnex-fault-locked.config",
            "[RUXD]\nConfig=" + (box.dir / "locked/ruxd.json").string() + "\n");
  box.open_up();
  std::filesystem::permissions(box.dir / "locked",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  ProcessRun run = box.command({"cluster", "exit"});
  run.argv[0] = (box.dir / "locked" / box.name).string();
  run.unprivileged = true;
  const RunResult result = run_process(run);
  ASSERT_NE(result.exit_status, exec_failed_status) << "could not start the client";
  std::filesystem::permissions(box.dir / "locked", std::filesystem::perms::owner_all);
  expect_run(result, "", "", 0);
  EXPECT_EQ(daemon.requests().size(), 1U);
  EXPECT_TRUE(wrong.requests().empty());
}

}  // namespace
}  // namespace tarnex::testing
