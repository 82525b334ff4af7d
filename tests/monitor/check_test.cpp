// The plugin in this process, in a sandbox with its own settings file,
// against a scripted daemon in virtual time.

#include "monitor/check.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/capture.hpp"
#include "support/requests.hpp"
#include "support/sandbox.hpp"
#include "support/scripted_transport.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;
using monitor::Clock;

std::string reply(const std::string& records) {
  return R"({"response":[)" + records + "]}";
}

const std::string three_nodes = reply(R"({"id":1,"nodename":"a","state":"ONLINE","enabled":true},)"
                                      R"({"id":2,"nodename":"b","state":"ONLINE","enabled":true},)"
                                      R"({"id":3,"nodename":"c","state":"ONLINE","enabled":true})");
const std::string healthy_services = reply(
    R"({"name":"db","run_node":1,"state":"ONLINE","enabled":true,"pools":[{"name":"p","state":"ONLINE"}]},)"
    R"({"name":"web","run_node":2,"state":"ONLINE","enabled":true},)"
    R"({"name":"old","run_node":-1,"state":"STOPPED","enabled":false})");
const std::string one_failed = reply(R"({"name":"db","run_node":1,"state":"FAILED","enabled":true},)"
                                     R"({"name":"web","run_node":2,"state":"ONLINE","enabled":true})");

struct CheckCase {
  std::string name;
  std::vector<std::string> args;
  std::vector<Reply> replies;
  std::string out;
  int status;
};

struct CheckRun {
  std::string out;
  int status;
  std::vector<std::string> requests;
  std::vector<std::string> endpoints;
};

// The plugin run as `check_tarnex args...` beside a settings file that names
// tcp://127.0.0.1:7, or holds `settings` when given.
CheckRun run_check(const std::vector<std::string>& args, std::vector<Reply> replies,
                   const std::string& settings = {}, FILE* out_file = nullptr) {
  Sandbox box;  // the client's settings file, which the plugin reads
  box.use_endpoint("tcp://127.0.0.1:7");
  if (!settings.empty()) box.write_settings(settings);
  ScriptedTransport transport(std::move(replies));
  std::vector<std::string> argv = {(box.dir / "check_tarnex").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  CheckRun run;
  const CapturedOutput out;
  run.status = monitor::run_check(argv, {out_file != nullptr ? out_file : out.stream(),
                                         &transport,
                                         box.dir,
                                         [&transport] { return Clock::time_point(transport.waited); },
                                         {}});
  run.out = out.text();
  run.requests = transport.requests;
  run.endpoints = transport.endpoints;
  return run;
}

TEST(CheckTarnex, StatusOutputAndPerfdata) {
  const std::string perf_ok =
      " | 'nodes_online'=3;;;0;3 'nodes_enabled'=3;;;0;3 'nodes_not_ready'=0;;;0;3 'services_online'=2;;;0;3 "
      "'services_enabled'=2;;;0;3 'services_not_online'=0;;;0;2 'time'=0.500000s;;;0;\n";
  const std::string perf_failed =
      "'nodes_online'=3;;;0;3 'nodes_enabled'=3;;;0;3 'nodes_not_ready'=0;;;0;3 'services_online'=1;;;0;2 "
      "'services_enabled'=2;;;0;2 ";
  const std::vector<CheckCase> cases = {
      {"healthy",
       {},
       {{three_nodes, 200ms}, {healthy_services, 300ms}},
       "TARNEX OK - 2 enabled services ONLINE, 3 nodes ONLINE" + perf_ok,
       0},
      {"node down and node disabled warn",
       {},
       answers({reply(R"({"id":1,"nodename":"a","state":"ONLINE","enabled":true},)"
                      R"({"id":2,"nodename":"b","state":"OFFLINE","enabled":true},)"
                      R"({"id":3,"nodename":"c","state":"ONLINE","enabled":false})"),
                reply(R"({"name":"web","run_node":1,"state":"ONLINE","enabled":true})")}),
       "TARNEX WARNING - 1 enabled services ONLINE, 2 of 3 nodes not ONLINE or disabled (b, c) | "
       "'nodes_online'=2;;;0;3 'nodes_enabled'=2;;;0;3 'nodes_not_ready'=2;;;0;3 'services_online'=1;;;0;1 "
       "'services_enabled'=1;;;0;1 'services_not_online'=0;;;0;1 'time'=0s;;;0;\n"
       "node b (2): OFFLINE, enabled\nnode c (3): ONLINE, disabled\n",
       1},
      {"failed service is critical",
       {},
       answers({three_nodes, one_failed}),
       "TARNEX CRITICAL - 1 of 2 enabled services not ONLINE (db), 3 nodes ONLINE | " + perf_failed +
           "'services_not_online'=1;;;0;2 'time'=0s;;;0;\nservice db: FAILED on node 1 (a)\n",
       2},
      {"thresholds replace the default rule",
       {"-w", "0", "-c", "2"},
       answers({three_nodes, one_failed}),
       "TARNEX WARNING - 1 of 2 enabled services not ONLINE (db), 3 nodes ONLINE | " + perf_failed +
           "'services_not_online'=1;0;2;0;2 'time'=0s;;;0;\nservice db: FAILED on node 1 (a)\n",
       1},
      {"inside range",
       {"--critical=@1:5"},
       answers({three_nodes, one_failed}),
       "TARNEX CRITICAL - 1 of 2 enabled services not ONLINE (db), 3 nodes ONLINE | " + perf_failed +
           "'services_not_online'=1;;;0;2 'time'=0s;;;0;\nservice db: FAILED on node 1 (a)\n",
       2},
      {"no node online is critical whatever the thresholds",
       {"--nodes-warning", "5", "-c", "5"},
       answers({reply(R"({"id":1,"nodename":"a","state":"OFFLINE","enabled":true})"),
                reply(R"({"name":"web","run_node":-1,"state":"STOPPED","enabled":true})")}),
       "TARNEX CRITICAL - 1 of 1 enabled services not ONLINE (web), 1 of 1 nodes not ONLINE or disabled (a) "
       "| "
       "'nodes_online'=0;;;0;1 'nodes_enabled'=1;;;0;1 'nodes_not_ready'=1;5;;0;1 'services_online'=0;;;0;1 "
       "'services_enabled'=1;;;0;1 'services_not_online'=1;;5;0;1 'time'=0s;;;0;\n"
       "node a (1): OFFLINE, enabled\nservice web: STOPPED, placed on no node\n",
       2},
      {"daemon texts are neutralised and cannot start perfdata",
       {},
       answers({reply(R"({"id":1,"nodename":"a|b\u001b[2J","state":"ONLINE","enabled":false})"),
                reply(R"({"name":"x\ny","run_node":1,"state":"ONLINE","enabled":true})")}),
       "TARNEX WARNING - 1 enabled services ONLINE, 1 of 1 nodes not ONLINE or disabled (a\\x7cb\\x1b[2J) | "
       "'nodes_online'=1;;;0;1 'nodes_enabled'=0;;;0;1 'nodes_not_ready'=1;;;0;1 'services_online'=1;;;0;1 "
       "'services_enabled'=1;;;0;1 'services_not_online'=0;;;0;1 'time'=0s;;;0;\n"
       "node a\\x7cb\\x1b[2J (1): ONLINE, disabled\n",
       1},
      {"silent daemon",
       {"-t", "3"},
       {{three_nodes, 2s}, stay_silent()},
       "TARNEX CRITICAL - no reply from tcp://127.0.0.1:7 within 3 s\n",
       2},
      {"daemon error",
       {},
       answers({R"({"error":4,"errorMessage":"not leader"})", healthy_services}),
       "TARNEX UNKNOWN - the daemon refused the status request: not leader\n",
       3},
      {"no response list",
       {},
       answers({three_nodes, R"({"response":{}})"}),
       "TARNEX UNKNOWN - the daemon's reply holds no response list\n",
       3},
      {"reply not JSON",
       {},
       answers({three_nodes, "{"}),
       "TARNEX UNKNOWN - the daemon's reply cannot be read: [json.exception.parse_error.101] parse error at "
       "line 1, "
       "column 2: syntax error while parsing object key - unexpected end of input; expected string literal\n",
       3},
      {"bad range",
       {"-w", "5:1"},
       {},
       "TARNEX UNKNOWN - '5:1' is not a threshold range\n"
       "Usage: check_tarnex [-E URL] [-t SECONDS[:STATE]] [-w RANGE] [-c RANGE]\n"
       "                    [--nodes-warning RANGE] [--nodes-critical RANGE]\n"
       "       check_tarnex -h | -V\n",
       3},
      {"version",
       {"-V"},
       {},
       "check_tarnex " TARNEX_PACKAGE_VERSION " (tarnex-viravi build " TARNEX_BUILD_STRING ")\n",
       3},
      {"service whose state the daemon cannot tell",
       {},
       answers({three_nodes, reply(R"({"name":"db","error":5,"errorMessage":"no such pool"},)"
                                   R"({"name":"web","run_node":2,"state":"ONLINE","enabled":true})")}),
       "TARNEX CRITICAL - 1 of 2 enabled services not ONLINE (db), 3 nodes ONLINE | " + perf_failed +
           "'services_not_online'=1;;;0;2 'time'=0s;;;0;\nservice db: state unknown, the daemon reports an "
           "error\n",
       2},
      {"daemon error text cannot start perfdata",
       {},
       answers({R"({"error":4,"errorMessage":"down | 'x'=1"})", healthy_services}),
       "TARNEX UNKNOWN - the daemon refused the status request: down \\x7c 'x'=1\n",
       3},
      {"reply text that is not UTF-8",
       {},
       answers({three_nodes, "{\"response\":\"\xff|"}),
       "TARNEX UNKNOWN - the daemon's reply cannot be read: [json.exception.parse_error.101] parse error at "
       "line 1, column 14: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last "
       "read: '\"\\xff'\n",
       3},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    const CheckRun run = run_check(c.args, c.replies);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.status, c.status);
    if (c.status != 3 && c.status != 0) {
      EXPECT_EQ(run.requests, (std::vector<std::string>{node_status_request, pools_status_request}));
    }
  }
}

// A daemon that does not answer in time gets the state -t names (CRITICAL
// unless it names one); any other failure, and the help, stay UNKNOWN.
TEST(CheckTarnex, EndingsAndTheTimeoutState) {
  struct EndingCase {
    std::vector<std::string> args;
    std::vector<Reply> replies;
    std::string first_line;
    int status;
  };
  const std::string silent = " - no reply from tcp://127.0.0.1:7 within 3 s";
  const std::vector<EndingCase> cases = {
      {{"-t", "3:warning"}, {stay_silent()}, "TARNEX WARNING" + silent, 1},
      {{"--timeout=3:OK"}, {{three_nodes, 1s}, stay_silent()}, "TARNEX OK" + silent, 0},
      {{"-t", "3:unknown"}, {stay_silent()}, "TARNEX UNKNOWN" + silent, 3},
      {{"-t", "3:ok"},
       {{three_nodes, 1s}, {"{", 1900ms}},
       "TARNEX UNKNOWN - the daemon's reply cannot be read",
       3},
      {{"-t", "3:maybe"},
       {},
       "TARNEX UNKNOWN - the timeout's state is ok, warning, critical or unknown, not 'maybe'",
       3},
      {{"-t", "3:"},
       {},
       "TARNEX UNKNOWN - the timeout's state is ok, warning, critical or unknown, not ''",
       3},
      {{"-h"}, {}, "check_tarnex " TARNEX_PACKAGE_VERSION, 3},
  };
  for (const EndingCase& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const CheckRun run = run_check(c.args, c.replies);
    EXPECT_EQ(run.out.substr(0, c.first_line.size()), c.first_line);
    EXPECT_EQ(run.status, c.status);
  }
}

// -E names the daemon and no settings file is read; without it, a settings
// file that cannot be used is UNKNOWN and nothing is sent.
TEST(CheckTarnex, EndpointOptionOrTheSettingsFile) {
  const std::string unusable = "[RUXD]\nConfig = /nonexistent/ruxd.json\n";
  const CheckRun given =
      run_check({"-E", "tcp://192.0.2.9:57017"}, answers({three_nodes, healthy_services}), unusable);
  EXPECT_EQ(given.status, 0);
  EXPECT_EQ(given.endpoints, (std::vector<std::string>{"tcp://192.0.2.9:57017", "tcp://192.0.2.9:57017"}));
  const CheckRun searched = run_check({}, answers({three_nodes, healthy_services}), unusable);
  EXPECT_EQ(searched.status, 3);
  EXPECT_TRUE(searched.out.starts_with("TARNEX UNKNOWN - ")) << searched.out;
  EXPECT_TRUE(searched.requests.empty());
  const CheckRun empty = run_check({"--endpoint="}, {});
  EXPECT_TRUE(empty.out.starts_with("TARNEX UNKNOWN - the endpoint is empty\nUsage: ")) << empty.out;
  EXPECT_EQ(empty.status, 3);
}

// A report that standard output does not take leaves the monitoring host
// nothing to read: UNKNOWN, never OK.
TEST(CheckTarnex, UnwritableOutputIsUnknown) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"-V"}}) {
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(run_check(args, answers({three_nodes, healthy_services}), {}, full).status, 3);
    std::fclose(full);
  }
}

TEST(CheckTarnex, RangesAlertAsTheGuidelinesSay) {
  struct RangeCase {
    std::string text;
    std::vector<double> alert;
    std::vector<double> quiet;
  };
  const std::vector<RangeCase> cases = {
      {"10", {-1, 11}, {0, 10}},    {"10:", {9}, {10, 1e9}},       {"~:10", {11}, {-5, 10}},
      {"10:20", {9, 21}, {10, 20}}, {"@10:20", {10, 20}, {9, 21}}, {"1.5", {1.6}, {1.5}},
  };
  for (const RangeCase& c : cases) {
    const auto range = monitor::parse_range(c.text);
    ASSERT_TRUE(range) << c.text;
    for (const double value : c.alert)
      EXPECT_TRUE(monitor::alerts(*range, value)) << c.text << " " << value;
    for (const double value : c.quiet)
      EXPECT_FALSE(monitor::alerts(*range, value)) << c.text << " " << value;
  }
  for (const std::string bad : {"", "@", "20:10", "1e3", "abc", "nan", ":", "~", "5:x", "0x10"})
    EXPECT_FALSE(monitor::parse_range(bad)) << bad;
}

// However long the daemon's names, the first line stays within 4 KiB with
// its perfdata whole.
TEST(CheckTarnex, FirstLineIsCutInTheSummaryOnly) {
  std::string services;
  for (int i = 0; i < 200; ++i) {
    services += std::string(i == 0 ? "" : ",") + R"({"name":")" + std::string(60, 'n') + "\u00e9" +
                std::to_string(i) + R"(","run_node":1,"state":"FAILED","enabled":true})";
  }
  const CheckRun run = run_check({}, answers({three_nodes, reply(services)}));
  const std::string first = run.out.substr(0, run.out.find('\n'));
  EXPECT_LE(first.size(), monitor::max_first_line);
  EXPECT_NE(first.find("... | 'nodes_online'=3;;;0;3 "), std::string::npos);
  EXPECT_TRUE(first.ends_with(" 'services_not_online'=200;;;0;200 'time'=0s;;;0;"));
  EXPECT_EQ(run.status, 2);
}

}  // namespace
}  // namespace tarnex::testing
