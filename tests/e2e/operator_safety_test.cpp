// Bounded waits, a word at the terminal about them, output that could not
// be written, and option reading that the environment does not change.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/requests.hpp"
#include "support/sandbox.hpp"
#include "support/scripted_transport.hpp"
#include "usage_texts.hpp"

namespace tarnex::testing {
namespace {

const std::string disable_2 = R"({"call":"node","cmd":"disable","id":2})";
const std::string status_db = R"({"call":"service","cmd":"status","serviceName":"db"})";
const std::string stop_db = R"({"call":"service","cmd":"stop","serviceName":"db"})";
const std::string start_db = R"({"call":"service","cmd":"start","nodeId":2,"serviceName":"db"})";
const std::string bravo =
    R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
const std::string db_enabled = R"({"response": [{"name": "db", "enabled": true}]})";

std::string no_reply(int seconds) {
  return "Error: no reply from " + test_endpoint + " within " + std::to_string(seconds) + " s\n";
}

// Each request waits at most the timeout; the dots already shown get their
// newline, and a change that may have gone through says so.
TEST(Timeout, EachRequestWaitsAtMostThatLong) {
  const std::string may_have = "may have taken effect all the same; check the actual state: tarnex-viravi ";
  run_exchange_cases({
      {{"node", "list", "--timeout=5"}, {stay_silent()}, {node_status_request}, "..\n", no_reply(5), 11},
      {{"--timeout=2", "node", "list"}, {stay_silent()}, {node_status_request}, "", no_reply(2), 11},
      {{"node", "list", "--timeout=5"},
       {{R"({"response": []})", std::chrono::milliseconds(3000)}},
       {node_status_request},
       ".\n",
       "",
       0},
      {{"cluster", "status", "--timeout=1"},
       {stay_silent(), stay_silent()},
       {node_status_request, pools_status_request},
       "",
       no_reply(1) + no_reply(1),
       11},
      {{"cluster", "status", "-o", "json", "--timeout=3"},
       {stay_silent(), stay_silent()},
       {node_status_request, pools_status_request},
       "null\n",
       ".\n" + no_reply(3) + ".\n" + no_reply(3),
       11},
      {{"node", "disable", "--id=2", "--timeout=3"},
       {stay_silent()},
       {disable_2},
       ".\n",
       no_reply(3) + "Disabling node 2 " + may_have + "node status --id=2\n",
       11},
      {{"cluster", "exit", "--timeout=1"},
       {stay_silent()},
       {cluster_exit_request},
       "",
       no_reply(1) + "Stopping every service and removing every node " + may_have + "cluster status\n",
       11},
      // A move's stop or start that got no reply may have taken effect.
      {{"service", "move", "--name=db", "--node=bravo", "--timeout=1"},
       {{bravo}, {db_enabled}, stay_silent()},
       {node_status_request, status_db, stop_db},
       "",
       no_reply(1) + "Stopping service db " + may_have + "service status --name=db\n",
       11},
      {{"service", "move", "--name=db", "--node=bravo", "--timeout=1"},
       {{bravo}, {db_enabled}, {R"({"response": {"message": "db stopped"}})"}, stay_silent()},
       {node_status_request, status_db, stop_db, start_db},
       "db stopped\n",
       no_reply(1) + "Starting service db on node 2 " + may_have + "service status --name=db\n",
       11},
      // A change that never reached the daemon was not sent; a move's start
      // then still says the service is stopped.
      {{"node", "disable", "--id=2", "--timeout=1"},
       {never_connected()},
       {disable_2},
       "",
       no_reply(1) + "Disabling node 2 was not sent; no connection to the daemon was made\n",
       11},
      {{"service", "move", "--name=db", "--node=bravo", "--timeout=1"},
       {{bravo}, {db_enabled}, {R"({"response": {"message": "db stopped"}})"}, never_connected()},
       {node_status_request, status_db, stop_db, start_db},
       "db stopped\n",
       no_reply(1) + "Starting service db on node 2 was not sent; no connection to the daemon was made\n"
                     "Service db was stopped, but the start on node 2 did not complete.\n"
                     "Check the actual state: tarnex-viravi service status --name=db\n",
       11},
  });
}

// Without a timeout the client waits for ever: here until the scripted
// daemon's own patience ends the wait.
TEST(Timeout, ZeroOrNoneWaitsForEver) {
  for (const char* option : {"--timeout=0", "--output=table"}) {
    ScriptedTransport daemon({stay_silent()});
    daemon.patience = std::chrono::minutes(10);
    Sandbox box;
    box.use_endpoint(test_endpoint);
    RunOptions options;
    options.transport = &daemon;
    const RunResult result = box.run({"node", "list", option}, options);
    EXPECT_EQ(result.err, "Error: ZMQ: test: the daemon never answered\n") << option;
    EXPECT_EQ(result.out, std::string(300, '.')) << option;
  }
}

// A value that is not a whole number of seconds is a bad option; the
// settings file's Timeout is the default the option overrides.
TEST(Timeout, ValuesAndTheSettingsFile) {
  Sandbox box;
  box.use_endpoint(test_endpoint);
  for (const char* value : {"abc", "-1", "1.5", "", " 5", "5s", "4294967296", "99999999999"}) {
    SCOPED_TRACE(value);
    const RunResult result = box.run({"node", "list", std::string("--timeout=") + value});
    EXPECT_EQ(result.out, node_usage());
    EXPECT_NE(result.err.find("--timeout"), std::string::npos) << result.err;
    EXPECT_EQ(result.exit_status, 1);
  }
  expect_run(box.run({"node", "list", "--timeout"}), node_usage(),
             box.program.string() + ": option '--timeout' requires an argument\n", 1);

  const auto waited = [&](const std::string& settings, const std::vector<std::string>& args) {
    box.write_settings("[RUXD]\nConfig=" + box.config_path.string() + "\n" + settings);
    ScriptedTransport daemon({stay_silent()});
    RunOptions options;
    options.transport = &daemon;
    const RunResult result = box.run(args, options);
    return result.err;
  };
  EXPECT_EQ(waited("Timeout = 4\n", {"node", "list"}), no_reply(4));
  EXPECT_EQ(waited("timeout=4 ; site default\n", {"node", "list", "--timeout=1"}), no_reply(1));
  EXPECT_EQ(waited("Timeout = 4\n", {"node", "list", "--timeout=0", "--timeout=2"}), no_reply(2));
  const std::string settings = (box.dir / "tarnex-viravi.config").string();
  box.write_settings("[RUXD]\nConfig=" + box.config_path.string() + "\nTimeout = soon\n");
  expect_run(box.run({"node", "list"}), "",
             "Error: " + settings + ": Timeout is not a whole number of seconds: soon\n", 1);
}

RunResult run_at_terminal(ScriptedTransport& daemon, const std::vector<std::string>& args, bool terminal) {
  Sandbox box;
  box.use_endpoint(test_endpoint);
  RunOptions options;
  options.transport = &daemon;
  options.err_is_terminal = terminal;
  return box.run(args, options);
}

// At a terminal, the first silent interval brings one line on where the
// client waits and what the transport knows; into a pipe, nothing.
TEST(TerminalNotice, SaysWhereItWaitsOnce) {
  struct Case {
    PeerState peer;
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {PeerState::refused,
       {"node", "list", "--timeout=5"},
       "nothing is accepting connections there. Giving up after 5 s."},
      {PeerState::connected,
       {"node", "list", "--timeout=5"},
       "connected, no answer yet. Giving up after 5 s."},
      {PeerState::unknown, {"node", "list", "--timeout=5"}, "not connected yet. Giving up after 5 s."},
      {PeerState::refused,
       {"node", "list", "--timeout=60"},
       "nothing is accepting connections there. Giving up after 60 s."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    ScriptedTransport daemon({stay_silent()});
    daemon.peer = c.peer;
    daemon.patience = std::chrono::seconds(5);
    const RunResult result = run_at_terminal(daemon, c.args, true);
    const std::string notice = "Waiting for the daemon at " + test_endpoint + ": " + c.says + "\n";
    EXPECT_EQ(result.err.substr(0, notice.size()), notice);
    EXPECT_EQ(result.err.find("Waiting", 1), std::string::npos) << "said more than once";
    EXPECT_EQ(daemon.watched, std::vector<bool>{true});
  }
  ScriptedTransport forever({stay_silent()});
  forever.patience = std::chrono::seconds(3);
  EXPECT_EQ(run_at_terminal(forever, {"node", "list"}, true).err,
            "Waiting for the daemon at " + test_endpoint +
                ": connected, no answer yet. Ctrl-C stops; --timeout=SECONDS limits the wait.\n"
                "Error: ZMQ: test: the daemon never answered\n");

  ScriptedTransport piped({stay_silent()});
  EXPECT_EQ(run_at_terminal(piped, {"node", "list", "--timeout=5"}, false).err, no_reply(5));
  EXPECT_EQ(piped.watched, std::vector<bool>{false});
  ScriptedTransport quick({{R"({"response": []})", std::chrono::milliseconds(1500)}});
  EXPECT_EQ(run_at_terminal(quick, {"node", "list"}, true).err, "") << "an answer within 2 s needs no word";
}

// Output that could not be written fails the run; a command that failed
// keeps its own status.
TEST(WriteFailures, AreReportedAndFailTheRun) {
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  const std::string cannot = "Error: cannot write standard output: No space left on device\n";
  struct Case {
    std::vector<std::string> args;
    std::vector<Reply> replies;
    std::string err;
    int status;
  };
  const std::vector<Case> cases = {
      {{"-v"}, {}, cannot, 1},
      {{"--help"}, {}, cannot, 1},
      {{"cluster", "status", "-o", "json"}, answers({bravo, R"({"response": []})"}), cannot, 1},
      {{"node", "disable", "--id=2"},
       answers({R"({"response": {"message": "node 2 disabled"}})"}),
       cannot,
       1},
      {{"bogus"}, {}, cannot, 12},
      {{"cluster", "status"},
       answers({bravo, R"({"error": 1, "errorMessage": "down"})"}),
       "Error: down\n" + cannot,
       11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ScriptedTransport daemon(c.replies);
    Sandbox box;
    box.use_endpoint(test_endpoint);
    RunOptions options;
    options.transport = &daemon;
    options.out = full;
    const RunResult result = box.run(c.args, options);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_status, c.status);
    std::clearerr(full);
  }
  std::fclose(full);
}

// Options stand anywhere, whatever POSIXLY_CORRECT says.
TEST(CommandLine, PosixlyCorrectDoesNotChangeHowOptionsAreRead) {
  const std::vector<ExchangeCase> cases = {
      {{"cluster", "status", "-o", "json"},
       answers({bravo, R"({"response": []})"}),
       {node_status_request, pools_status_request},
       "{\n  \"cluster\": {\n    \"nodes\": [\n      {\n        \"enabled\": true,\n        \"id\": 2,\n"
       "        \"name\": \"bravo\",\n        \"state\": \"ONLINE\"\n      }\n    ]\n  }\n}\n",
       "",
       0},
      {{"service", "move", "--name=db", "--node=2"},
       answers({bravo, db_enabled, R"({"response": {}})", R"({"response": {}})"}),
       {node_status_request, status_db, stop_db, start_db},
       "",
       "",
       0},
      {{"node", "--", "status", "-n"},
       answers({bravo}),
       {node_status_request},
       "NAME    ID     STATE    STATUS  \nbravo    2    ONLINE   enabled\n",
       "",
       0},
  };
  for (const char* posixly_correct : {static_cast<const char*>(nullptr), "1"}) {
    SCOPED_TRACE(posixly_correct == nullptr ? "unset" : "set");
    if (posixly_correct != nullptr) setenv("POSIXLY_CORRECT", posixly_correct, 1);
    run_exchange_cases(cases);
    unsetenv("POSIXLY_CORRECT");
  }
}

}  // namespace
}  // namespace tarnex::testing
