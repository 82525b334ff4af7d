// The client against a daemon that is missing, dies, never answers or
// answers with junk, and against configuration files that are not what a
// person would write.
// Whatever happens, the right message and status, no crash, and no waiting
// except where the client is meant to wait for the daemon (then a stop
// signal ends it at once).
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "process.hpp"
#include "responder.hpp"
#include "sandbox.hpp"

namespace tarnex::faults {
namespace {

using e2e::ProcessResult;
using e2e::ProcessRun;
using e2e::Responder;
using e2e::run_process;
using e2e::Sandbox;

const std::string missing_endpoint = "Error: mgmt-url is not configured\n";
const std::string nested_too_deep = "Exception: reply nested deeper than 512 levels\n";

std::string nested(std::size_t depth, const std::string& inner = "") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

// Waiting for a daemon that never answers is the one wait the client has:
// dots every two seconds until a stop signal ends it, at once, without a core.
void expect_waits_until_signalled(ProcessRun run, int signal, const std::string& out_before_dots = "") {
  run.signal = signal;
  run.signal_after = out_before_dots + ".";
  const ProcessResult result = run_process(run);
  EXPECT_FALSE(result.timed_out) << result.out;
  EXPECT_EQ(result.signal, signal) << "status " << result.exit_status;
  EXPECT_FALSE(result.core_dumped);
  ASSERT_TRUE(result.ended_after_signal);
  EXPECT_LT(result.ended_after_signal->count(), 1000) << "the signal did not end the client at once";
  EXPECT_EQ(result.out.substr(0, out_before_dots.size()), out_before_dots);
  EXPECT_EQ(result.out.find_first_not_of('.', out_before_dots.size()), std::string::npos) << result.out;
}

TEST(FaultMatrix, NoDaemonAtTheEndpoint) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    Sandbox box;
    box.use_endpoint("ipc://" + (box.dir / "nobody-listens").string());
    ProcessRun run = box.command({"cluster", "status"});
    expect_waits_until_signalled(run, signal);
  }
}

// A daemon that keeps the request and never answers is the same wait.
TEST(FaultMatrix, DaemonDiesAfterReceivingTheRequest) {
  for (const e2e::Reply& step : {e2e::die(), e2e::stay_silent()}) {
    SCOPED_TRACE(step.kind == e2e::Reply::Kind::die ? "dies" : "silent");
    Responder daemon({step});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    expect_waits_until_signalled(box.command({"node", "list"}), SIGTERM);
    EXPECT_EQ(daemon.requests(), std::vector<std::string>{R"({"call":"node","cmd":"status"})"});
  }
}

// Replies that are not one well-formed JSON value end the command as an
// exception with the JSON library's own text.
TEST(FaultMatrix, MalformedReplies) {
  using namespace std::string_literals;
  const std::vector<std::string> replies = {
      "",
      R"({"response": []} garbage)",
      R"({"response": []}})",
      "{\"response\": {\"message\": \"caf\xe9\"}}",
      "{\"response\": {\"message\": \"\xff\xfe\"}}",
      "{\"\xc0\xaf\": 1}",
      "{\"response\": {\"message\": \"a\0b\"}}"s,
      "{\"response\":\0 {}}"s,
      "\0"s,
  };
  for (const std::string& reply : replies) {
    SCOPED_TRACE(nlohmann::json(reply).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace));
    Responder daemon({{reply}});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    e2e::expect_run(box.run({"node", "disable", "--id=2"}), "",
                    "Exception: " + e2e::json_parse_error(reply) + "\n", 11);
  }
}

// Nesting beyond the limit is refused before anything walks the value; up to
// the limit every output path copes, the JSON document included (it copies
// node members unchanged and serialises them).
TEST(FaultMatrix, DeeplyNestedReplies) {
  const std::string million = R"({"response": [{"id": 1, "nodename": )" + nested(1000000) + "}]}";
  const std::vector<std::vector<std::string>> commands = {
      {"cluster", "status", "--output=json"},
      {"cluster", "status"},
      {"node", "list"},
      {"node", "status", "--id=1"},
      {"service", "stop", "-s", "db"},
      {"service", "move", "-s", "db", "-n", "1"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0] + " " + command[1]);
    Responder daemon({{million}, {million}});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    e2e::expect_run(box.run(command), "", nested_too_deep, 11);
  }

  // The deepest reply accepted: object, "response", record and 509 arrays.
  const std::string deepest =
      R"({"response": [{"id": 1, "nodename": "alpha", "state": )" + nested(509, "7") + "}]}";
  Responder daemon({{deepest}, {R"({"response": []})"}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  const ProcessResult result = box.run({"cluster", "status", "-o", "json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const nlohmann::json document = nlohmann::json::parse(result.out);
  EXPECT_EQ(document["cluster"]["nodes"][0]["state"], nlohmann::json::parse(nested(509, "7")));

  Responder one_more(
      {{R"({"response": [{"id": 1, "nodename": "alpha", "state": )" + nested(510, "7") + "}]}"}});
  Sandbox other;
  other.use_endpoint(one_more.endpoint());
  e2e::expect_run(other.run({"node", "list"}), "", nested_too_deep, 11);
}

TEST(FaultMatrix, SixtyFourMebibyteReply) {
  const std::string message(64U << 20, 'm');
  Responder daemon({{R"({"response": {"message": ")" + message + R"("}})"}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  ProcessRun run = box.command({"node", "disable", "--id=2"});
  run.limit = std::chrono::seconds(200);  // a debug build with sanitizers is slow
  const ProcessResult result = run_process(run);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.size(), message.size() + 1);
  EXPECT_EQ(result.out, message + "\n");
}

// The stop went through, then the daemon died: the start waits like any
// request, and the operator who interrupts it must still learn that the
// service was left stopped.
TEST(FaultMatrix, MoveWhoseDaemonDiesBeforeTheStart) {
  const std::string nodes =
      R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    Responder daemon({{nodes}, {R"({"response": {"message": "db stopped"}})"}, e2e::die()});
    Sandbox box("tv-move");
    box.use_endpoint(daemon.endpoint());
    ProcessRun run = box.command({"service", "move", "--name=db", "--node=bravo"});
    run.signal = signal;
    run.signal_after = "db stopped\n.";
    const ProcessResult result = run_process(run);
    EXPECT_FALSE(result.timed_out) << result.out;
    EXPECT_EQ(result.signal, signal);
    EXPECT_FALSE(result.core_dumped);
    EXPECT_EQ(result.out.rfind("db stopped\n.", 0), 0U) << result.out;
    EXPECT_EQ(result.err,
              "Service db was stopped, but the start on node 2 did not complete.\n"
              "Check the actual state: tv-move service status --name=db\n");
    EXPECT_EQ(daemon.requests(), (std::vector<std::string>{
                                     R"({"call":"node","cmd":"status"})",
                                     R"({"call":"service","cmd":"stop","serviceName":"db"})",
                                     R"({"call":"service","cmd":"start","nodeId":2,"serviceName":"db"})"}));
  }
}

// An interrupt during the node list or the stop of a move is no partial move:
// the signal simply ends the program.
TEST(FaultMatrix, MoveInterruptedBeforeTheStopCompletes) {
  const std::string nodes =
      R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
  Responder daemon({{nodes}, e2e::die()});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  ProcessRun run = box.command({"service", "move", "--name=db", "--node=2"});
  run.signal = SIGINT;
  run.signal_after = ".";
  const ProcessResult result = run_process(run);
  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_EQ(result.err, "");
}

struct ConfigCase {
  std::string what;
  std::string expected_err;  // the path of the configuration replaces @
  bool prefix_only = false;
};

std::string with_path(std::string text, const std::string& path) {
  const std::string::size_type at = text.find('@');
  if (at != std::string::npos) text.replace(at, 1, path);
  return text;
}

// Each file is refused with the loader's message; the run ends before any
// request, with status 1, and never waits.
TEST(FaultMatrix, ConfigurationFilesThatCannotBeUsed) {
  if (!e2e::can_drop_privileges()) GTEST_SKIP() << "cannot run the client as nobody";
  const std::string cannot_open = "ruxd:config: cannot open config file: @\n" + missing_endpoint;
  const std::vector<ConfigCase> cases = {
      {"unreadable", cannot_open},
      {"directory", cannot_open},
      {"fifo", cannot_open},
      {"empty", "ruxd:config: [json.exception.parse_error.101] parse error at line 1, column 1: ", true},
      {"deeply nested", "ruxd:config: config file nested deeper than 512 levels\n" + missing_endpoint},
      {"64 MiB of opening brackets",
       "ruxd:config: config file nested deeper than 512 levels\n" + missing_endpoint},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    const std::string path = box.config_path.string();
    if (c.what == "unreadable") {
      box.use_endpoint("tcp://127.0.0.1:1");
    } else if (c.what == "directory") {
      std::filesystem::create_directory(path);
    } else if (c.what == "fifo") {
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    } else if (c.what == "empty") {
      box.write("ruxd.json", "");
    } else if (c.what == "deeply nested") {
      box.write("ruxd.json",
                R"({"cluster": {"mgmt-url": "tcp://127.0.0.1:1"}, "x": )" + nested(1000000) + "}");
    } else {
      box.write("ruxd.json", std::string(64U << 20, '['));
    }
    box.open_up();
    if (c.what == "unreadable") std::filesystem::permissions(path, std::filesystem::perms::none);
    ProcessRun run = box.command({"cluster", "exit"});
    run.unprivileged = true;
    run.limit = std::chrono::seconds(20);
    const ProcessResult result = run_process(run);
    ASSERT_NE(result.exit_status, e2e::exec_failed_status) << "could not start the client";
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.out, "");
    const std::string expected = with_path(c.expected_err, path);
    if (c.prefix_only) {
      EXPECT_EQ(result.err.rfind(expected, 0), 0U) << result.err;
      EXPECT_EQ(result.err.substr(result.err.size() - missing_endpoint.size()), missing_endpoint);
    } else {
      EXPECT_EQ(result.err, expected);
    }
    EXPECT_EQ(result.exit_status, 1);
  }
}

// A large configuration is still just a configuration.
TEST(FaultMatrix, SixtyFourMebibyteConfiguration) {
  Responder daemon({{"{}"}});
  Sandbox box;
  box.write("ruxd.json", R"({"padding": ")" + std::string(64U << 20, 'p') + R"(", "cluster": {"mgmt-url": )" +
                             e2e::json_quote(daemon.endpoint()) + "}}" + std::string(1000, ' '));
  ProcessRun run = box.command({"cluster", "exit"});
  run.limit = std::chrono::seconds(200);
  const ProcessResult result = run_process(run);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{R"({"call":"cluster","cmd":"exit"})"});
}

// The program's directory may not be searched: that candidate is passed
// over (its settings file is not read), and the search goes on to the
// fallback, the bare name in the current directory.
TEST(FaultMatrix, SettingsFileInADirectoryThatCannotBeSearched) {
  if (!e2e::can_drop_privileges()) GTEST_SKIP() << "cannot run the client as nobody";
  Responder daemon({{"{}"}});
  Responder wrong({{R"({"error": 1, "errorMessage": "read the locked settings file"})"}});
  // A name of its own, so that no settings file in the system directories
  // can answer for it.
  Sandbox box("tarnex-fault-locked");
  box.use_endpoint(daemon.endpoint());
  box.write("locked/ruxd.json", e2e::daemon_config_with_url(e2e::json_quote(wrong.endpoint())));
  box.write("locked/tarnex-fault-locked.config",
            "[RUXD]\nConfig=" + (box.dir / "locked/ruxd.json").string() + "\n");
  box.open_up();
  std::filesystem::permissions(box.dir / "locked",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  ProcessRun run = box.command({"cluster", "exit"});
  run.argv[0] = (box.dir / "locked" / box.name).string();
  run.unprivileged = true;
  const ProcessResult result = run_process(run);
  ASSERT_NE(result.exit_status, e2e::exec_failed_status) << "could not start the client";
  std::filesystem::permissions(box.dir / "locked", std::filesystem::perms::owner_all);
  e2e::expect_run(result, "", "", 0);
  EXPECT_EQ(daemon.requests().size(), 1U);
  EXPECT_TRUE(wrong.requests().empty());
}

}  // namespace
}  // namespace tarnex::faults
