// Operator scenarios: the client program against ruxd-sim, both run as
// processes. Each test has its own daemon on its own port, a copy of the
// client with a settings file beside it, and time limits on everything.

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr const char* kClientPath = TARNEX_CLIENT_PATH;
constexpr const char* kSimPath = RUXD_SIM_PATH;

// alpha (1) and bravo (2) enabled, charlie (3) disabled. db prefers alpha,
// web bravo, mail the disabled charlie (so it falls back to alpha); cache
// has no preference; archive is disabled and stays stopped.
std::string cluster_config(const std::string& endpoint) {
  Json config = Json::parse(R"({
    "cluster": {"type": "ha-storage", "redundancy_n_plus": 1},
    "nodes": [
      {"id": 1, "nodename": "alpha", "internal_addr": "10.0.0.1", "ruxd_port": 57010},
      {"id": 2, "nodename": "bravo", "internal_addr": "10.0.0.2", "ruxd_port": 57010},
      {"id": 3, "nodename": "charlie", "internal_addr": "10.0.0.3", "ruxd_port": 57010, "enabled": false}
    ],
    "services": [
      {"name": "db", "pools": ["db-pool"]},
      {"name": "web", "pools": ["www", "logs"]},
      {"name": "cache"},
      {"name": "archive", "enabled": false, "pools": ["arch"]},
      {"name": "mail"}
    ],
    "service_groups": [{"name": "frontend", "services": ["web", "cache"]}],
    "distribution_preferences": [
      {"service": "db", "node": 1},
      {"service": "web", "node": 2},
      {"service": "mail", "node": 3}
    ],
    "pools": {"db-pool": ["da0"], "www": ["da1"], "logs": ["da2"], "arch": ["da3"]}
  })");
  config["cluster"]["mgmt-url"] = endpoint;
  return config.dump(2);
}

const char* const kStatusTables =
    "NODES:\n"
    "NAME      ID     STATE    STATUS  SERVICES\n"
    "alpha      1    ONLINE   enabled  [ cache, db, mail ]\n"
    "bravo      2    ONLINE   enabled  [ web ]\n"
    "charlie    3    ONLINE  DISABLED  [ ]\n"
    "\n"
    "SERVICES:\n"
    "NAME    NODE     STATE    STATUS  POOLS\n"
    "archive    -   STOPPED  DISABLED  [ arch(EXPORTED) ]\n"
    "cache      1    ONLINE   enabled  [ ]\n"
    "db         1    ONLINE   enabled  [ db-pool(ONLINE) ]\n"
    "mail       1    ONLINE   enabled  [ ]\n"
    "web        2    ONLINE   enabled  [ www(ONLINE), logs(ONLINE) ]\n";

// What a run of the client is expected to give.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kClientPath)) {
      GTEST_SKIP() << "the client program is not built: " << kClientPath;
    }
    client_path_ = (dir_.path / "tarnex-viravi").string();
    std::filesystem::copy_file(kClientPath, client_path_);
    config_path_ = (dir_.path / "cluster.json").string();
    // The settings file beside the program is the first place it looks.
    dir_.write("tarnex-viravi.config", "[RUXD]\nConfig = " + config_path_ + "\n");
  }

  void TearDown() override {
    if (daemon_.pid <= 0) return;
    const RunResult stopped = finish_child(daemon_, SIGTERM, 10s);
    EXPECT_FALSE(stopped.timed_out);
    EXPECT_EQ(stopped.exit_status, 0) << stopped.err;
  }

  // Writes the configuration for a free endpoint and starts ruxd-sim on it;
  // the client reads the same file, so both agree on the endpoint. Starts
  // and stops take no time unless `extra` says otherwise.
  void start_daemon(const std::vector<std::string>& extra = {}) {
    std::string problem;
    const std::string endpoint = start_daemon_on_free_port(
        daemon_,
        [&](const std::string& endpoint) {
          dir_.write("cluster.json", cluster_config(endpoint));
          std::vector<std::string> argv = {kSimPath, "--config", config_path_, "--op-ms", "0"};
          argv.insert(argv.end(), extra.begin(), extra.end());
          return argv;
        },
        problem);
    ASSERT_FALSE(endpoint.empty()) << "ruxd-sim did not start: " << problem;
  }

  RunResult client(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {client_path_};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = run_process(argv, 30s, dir_.path.string());
    EXPECT_FALSE(result.timed_out) << "client timed out: " << result.out << result.err;
    return result;
  }

  // Runs the client and checks its whole outcome.
  void expect_run(const std::vector<std::string>& args, const Outcome& expected) {
    std::string line = "tarnex-viravi";
    for (const auto& arg : args)
      line += " " + arg;
    SCOPED_TRACE(line);
    const RunResult result = client(args);
    EXPECT_EQ(result.exit_status, expected.status);
    EXPECT_EQ(result.out, expected.out);
    EXPECT_EQ(result.err, expected.err);
  }

  // Sends a fault to the daemon the way an operator does, with ruxd-sim itself.
  void inject(const std::string& fault, const std::string& answer) {
    SCOPED_TRACE(fault);
    const RunResult result = run_process({kSimPath, "--config", config_path_, "--inject", fault}, 30s);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, answer + "\n");
  }

  Json status_document() {
    const RunResult result = client({"cluster", "status", "--output=json"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return Json::parse(result.out);
  }

  TempDir dir_;
  ChildProcess daemon_;
  std::string client_path_;
  std::string config_path_;
};

TEST_F(Scenario, ClusterStatusShowsNodesWithTheirServicesAndServicesWithTheirPools) {
  start_daemon();
  expect_run({"cluster", "status"}, {0, kStatusTables, ""});
  expect_run({}, {0, kStatusTables, ""});
}

TEST_F(Scenario, ClusterStatusAsJsonIsTheRebuiltDocument) {
  start_daemon();
  EXPECT_EQ(status_document(), Json::parse(R"({"cluster": {
    "nodes": [
      {"enabled": true, "id": 1, "name": "alpha", "state": "ONLINE"},
      {"enabled": true, "id": 2, "name": "bravo", "state": "ONLINE"},
      {"enabled": false, "id": 3, "name": "charlie", "state": "ONLINE"}
    ],
    "services": [
      {"enabled": true, "name": "db", "nodeId": 1, "state": "ONLINE"},
      {"enabled": true, "name": "web", "nodeId": 2, "state": "ONLINE"},
      {"enabled": true, "name": "cache", "nodeId": 1, "state": "ONLINE"},
      {"enabled": false, "name": "archive", "nodeId": -1, "state": "STOPPED"},
      {"enabled": true, "name": "mail", "nodeId": 1, "state": "ONLINE"}
    ]}})"));
}

TEST_F(Scenario, NodeDisableAndEnableByIdAndByName) {
  start_daemon();
  expect_run({"node", "disable", "--id=2"}, {0, "node 2 (bravo) disabled\n", ""});
  expect_run({"node", "status", "--id=2"}, {0, "bravo    2    ONLINE  DISABLED\n", ""});
  expect_run({"node", "list"}, {0,
                                "NAME      ID     STATE    STATUS  \n"
                                "alpha      1    ONLINE   enabled\n"
                                "bravo      2    ONLINE  DISABLED\n"
                                "charlie    3    ONLINE  DISABLED\n",
                                ""});
  expect_run({"node", "enable", "--node=bravo"}, {0, "node 2 (bravo) enabled\n", ""});
  expect_run({"node", "info", "-n", "bravo"}, {0, "bravo    2    ONLINE   enabled\n", ""});
  expect_run({"node", "enable", "--id=charlie"}, {0, "node 3 (charlie) enabled\n", ""});
  expect_run({"node", "disable", "--id=9"}, {11, "", "Error: node not found: 9\n"});
  expect_run({"node", "status", "--id=zulu"}, {11, "", "Error: node not found: zulu\n"});
}

TEST_F(Scenario, ServiceStopAndStartOnAChosenNode) {
  start_daemon();
  expect_run({"service", "stop", "--name=db"}, {0, "service db stopped\n", ""});
  // An unplaced service travels with run_node -1, which the one-line view shows as it is.
  expect_run({"service", "status", "--name=db"}, {0, "db   -1   STOPPED   enabled  [ ]\n", ""});
  expect_run({"service", "start", "--name=db", "--node=2"},
             {0, "service db started on node 2 (bravo)\n", ""});
  expect_run({"service", "info", "--name=db"}, {0, "db    2    ONLINE   enabled  [ ]\n", ""});
  expect_run({"service", "stop", "--name=nosuch"}, {11, "", "Error: service not found: nosuch\n"});
  expect_run({"service", "start", "--name=db", "--node=1"},
             {11, "", "Error: service db is running on node 2; stop it first\n"});
}

TEST_F(Scenario, ServiceMoveByNodeNameAndByNodeId) {
  start_daemon();
  expect_run({"service", "move", "--name=web", "--node=alpha"},
             {0, "service web stopped\nservice web started on node 1 (alpha)\n", ""});
  expect_run({"service", "move", "--name=db", "-n", "2"},
             {0, "service db stopped\nservice db started on node 2 (bravo)\n", ""});
  const Json services = status_document()["cluster"]["services"];
  EXPECT_EQ(services[0]["nodeId"], 2);
  EXPECT_EQ(services[1]["nodeId"], 1);
}

TEST_F(Scenario, ServiceMoveIsRefusedByEachTargetCheckAndChangesNothing) {
  start_daemon();
  inject("node bravo offline", "node 2 (bravo) is OFFLINE; web failed over to node 1 (alpha)");
  const RunResult refused =
      run_process({kSimPath, "--config", config_path_, "--inject", "node 9 online"}, 30s);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(refused.err, "ruxd-sim: node not found: 9\n");
  const Json before = status_document();
  const std::vector<std::pair<std::string, std::string>> refusals = {
      {"zulu", "Error: node can not be found: zulu\n"},
      {"02", "Error: node can not be found: 02\n"},
      {"Alpha", "Error: node can not be found: Alpha\n"},
      {"charlie", "Error: cannot run service on disabled node: charlie\n"},
      {"3", "Error: cannot run service on disabled node: 3\n"},
      {"bravo", "Error: cannot run service on node bravo: state is OFFLINE\n"},
  };
  for (const auto& [node, message] : refusals) {
    expect_run({"service", "move", "--name=cache", "--node=" + node}, {11, "", message});
  }
  EXPECT_EQ(status_document(), before);
}

TEST_F(Scenario, ServiceMoveWhoseStartTheDaemonRefusesLeavesAHint) {
  start_daemon();
  expect_run({"service", "disable", "--name=web"}, {0, "service web disabled\n", ""});
  expect_run({"service", "move", "--name=web", "--node=alpha"},
             {11, "service web stopped\n",
              "Error: service web is disabled; enable it first\n"
              "Service web was stopped, but the start on node 1 did not complete.\n"
              "Check the actual state: tarnex-viravi service status --name=web\n"});
  expect_run({"service", "status", "--name=web"}, {0, "web   -1   STOPPED  DISABLED  [ ]\n", ""});
}

TEST_F(Scenario, NodeExitIsRefusedWhileTheNodeRunsServicesUnlessForced) {
  start_daemon();
  expect_run(
      {"node", "exit", "--id=1"},
      {11, "", "Error: node 1 (alpha) still runs db, cache, mail; stop them first or exit with force\n"});
  EXPECT_EQ(status_document()["cluster"]["nodes"].size(), 3U);

  expect_run({"node", "exit", "--id=1", "--force"},
             {0, "node 1 (alpha) left the cluster; stopped db, cache, mail\n", ""});
  expect_run({"node", "exit", "--id=charlie"}, {0, "node 3 (charlie) left the cluster\n", ""});
  expect_run({"cluster", "status"}, {0,
                                     "NODES:\n"
                                     "NAME    ID     STATE    STATUS  SERVICES\n"
                                     "bravo    2    ONLINE   enabled  [ web ]\n"
                                     "\n"
                                     "SERVICES:\n"
                                     "NAME    NODE     STATE    STATUS  POOLS\n"
                                     "archive    -   STOPPED  DISABLED  [ arch(EXPORTED) ]\n"
                                     "cache      -   STOPPED   enabled  [ ]\n"
                                     "db         -   STOPPED   enabled  [ db-pool(EXPORTED) ]\n"
                                     "mail       -   STOPPED   enabled  [ ]\n"
                                     "web        2    ONLINE   enabled  [ www(ONLINE), logs(ONLINE) ]\n",
                                     ""});
}

TEST_F(Scenario, ClusterExitStopsEveryServiceAndRemovesEveryNode) {
  start_daemon();
  expect_run({"cluster", "exit"}, {0, "", ""});
  expect_run({"node", "list"}, {0, "", ""});
  expect_run({"cluster", "status"}, {0,
                                     "NAME    NODE     STATE    STATUS  POOLS\n"
                                     "archive    -   STOPPED  DISABLED  [ arch(EXPORTED) ]\n"
                                     "cache      -   STOPPED   enabled  [ ]\n"
                                     "db         -   STOPPED   enabled  [ db-pool(EXPORTED) ]\n"
                                     "mail       -   STOPPED   enabled  [ ]\n"
                                     "web        -   STOPPED   enabled  [ www(EXPORTED), logs(EXPORTED) ]\n",
                                     ""});
  expect_run({"service", "start", "--name=db"},
             {11, "", "Error: no node can run service db: every node is disabled, not ONLINE or gone\n"});
}

// The client gives up a receive every 2 seconds and prints a dot; a reply
// held 3 seconds brings exactly one, then a newline before the output.
TEST_F(Scenario, SlowDaemonShowsProgressDots) {
  start_daemon({"--delay-ms", "3000"});
  expect_run({"service", "stop", "--name=cache"}, {0, ".\nservice cache stopped\n", ""});
  expect_run({"node", "list"}, {0,
                                ".\n"
                                "NAME      ID     STATE    STATUS  \n"
                                "alpha      1    ONLINE   enabled\n"
                                "bravo      2    ONLINE   enabled\n"
                                "charlie    3    ONLINE  DISABLED\n",
                                ""});
}

// A move whose start is broken off from another terminal: the start's
// requester is told, the move leaves its hint, and a second break finds
// nothing to do.
TEST_F(Scenario, BreakBreaksOffTheStartOfAMoveInProgress) {
  start_daemon({"--op-ms", "1500"});
  ChildProcess mover;
  ProcessRun move =
      plain_run({client_path_, "service", "move", "--name=web", "--node=alpha"}, dir_.path);
  start_child(mover, move);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (client({"service", "status", "--name=web"}).out.find("STARTING") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "web never showed STARTING";
    std::this_thread::sleep_for(20ms);
  }
  expect_run({"service", "break", "--name=web"},
             {0, "start of web on node 1 (alpha) broken off, web is STOPPED\n", ""});
  const RunResult moved = finish_child(mover, 0, 30s);
  EXPECT_EQ(moved.exit_status, 11);
  EXPECT_EQ(moved.out, "service web stopped\n");
  EXPECT_EQ(moved.err,
            "Error: start of web on node 1 (alpha) broken off (service break), web is STOPPED\n"
            "Service web was stopped, but the start on node 1 did not complete.\n"
            "Check the actual state: tarnex-viravi service status --name=web\n");
  expect_run({"service", "break", "--name=web"}, {0, "service web: nothing in progress to break off\n", ""});
  expect_run({"service", "status", "--name=web"}, {0, "web   -1   STOPPED   enabled  [ ]\n", ""});
}

// A daemon that stops reading for a while: the client's dots, then its answer.
TEST_F(Scenario, ADaemonSilentForAWhileGetsDotsThenAnswers) {
  start_daemon();
  inject("daemon silent 2500ms", "reading no requests for 2500 ms");
  expect_run({"service", "status", "--name=web"}, {0, ".\nweb    2    ONLINE   enabled  [ ]\n", ""});
}

}  // namespace
}  // namespace tarnex::testing
