// Operator scenarios: the whole client against the simulated cluster, both
// in this process. The daemon's loop runs in virtual time, so a slow or
// silent daemon costs no real time.

#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/cluster_config.hpp"
#include "config/validate.hpp"
#include "scenario_config.hpp"
#include "sim_cluster.hpp"
#include "sim_transport.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kEndpoint = "tcp://127.0.0.1:57010";

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

// Writes the scenario into the sandbox, where the client reads it too, and
// builds the cluster from that file as ruxd-sim does.
SimTransport scenario_daemon(const Sandbox& box) {
  box.write("ruxd.json", scenario_config(kEndpoint));
  std::string error;
  const ClusterConfig config = load_cluster_config(box.config_path.string(), &error).value();
  if (const auto problems = validate_cluster_config(config); !problems.empty())
    throw std::runtime_error("invalid scenario configuration: " + problems.front());
  return SimTransport(sim::build_sim_cluster(config), kEndpoint);
}

class Scenario : public ::testing::Test {
 protected:
  RunResult client(const std::vector<std::string>& args) {
    RunOptions options;
    options.transport = &daemon_;
    return box_.run(args, options);
  }

  // Runs the client and checks its whole outcome.
  void expect_client(const std::vector<std::string>& args, const Outcome& expected) {
    SCOPED_TRACE("tarnex-viravi " + joined(args));
    expect_run(client(args), expected.out, expected.err, expected.status);
  }

  // Applies a fault the way ruxd-sim --inject has the daemon apply it.
  void inject(const std::string& text, const std::string& answer) {
    SCOPED_TRACE(text);
    std::string error;
    const auto fault = sim::parse_fault(text, &error);
    ASSERT_TRUE(fault.has_value()) << error;
    EXPECT_EQ(sim::apply_fault(daemon_.cluster, *fault, daemon_.now),
              Json({{"response", {{"message", answer}}}}));
  }

  Json status_document() {
    const RunResult result = client({"cluster", "status", "--output=json"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return Json::parse(result.out);
  }

  Sandbox box_;
  SimTransport daemon_ = scenario_daemon(box_);
};

TEST_F(Scenario, ClusterStatusShowsNodesWithTheirServicesAndServicesWithTheirPools) {
  expect_client({"cluster", "status"}, {0, kStatusTables, ""});
  expect_client({}, {0, kStatusTables, ""});
}

TEST_F(Scenario, ClusterStatusAsJsonIsTheRebuiltDocument) {
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
  expect_client({"node", "disable", "--id=2"}, {0, "node 2 (bravo) disabled\n", ""});
  expect_client({"node", "status", "--id=2"}, {0, "bravo    2    ONLINE  DISABLED\n", ""});
  expect_client({"node", "list"}, {0,
                                   "NAME      ID     STATE    STATUS  \n"
                                   "alpha      1    ONLINE   enabled\n"
                                   "bravo      2    ONLINE  DISABLED\n"
                                   "charlie    3    ONLINE  DISABLED\n",
                                   ""});
  expect_client({"node", "enable", "--node=bravo"}, {0, "node 2 (bravo) enabled\n", ""});
  expect_client({"node", "info", "-n", "bravo"}, {0, "bravo    2    ONLINE   enabled\n", ""});
  expect_client({"node", "enable", "--id=charlie"}, {0, "node 3 (charlie) enabled\n", ""});
  expect_client({"node", "disable", "--id=9"}, {11, "", "Error: node not found: 9\n"});
  expect_client({"node", "status", "--id=zulu"}, {11, "", "Error: node not found: zulu\n"});
}

TEST_F(Scenario, ServiceStopAndStartOnAChosenNode) {
  expect_client({"service", "stop", "--name=db"}, {0, "service db stopped\n", ""});
  // An unplaced service travels with run_node -1, which the one-line view shows as it is.
  expect_client({"service", "status", "--name=db"}, {0, "db   -1   STOPPED   enabled  [ ]\n", ""});
  expect_client({"service", "start", "--name=db", "--node=2"},
                {0, "service db started on node 2 (bravo)\n", ""});
  expect_client({"service", "info", "--name=db"}, {0, "db    2    ONLINE   enabled  [ ]\n", ""});
  expect_client({"service", "stop", "--name=nosuch"}, {11, "", "Error: service not found: nosuch\n"});
  expect_client({"service", "start", "--name=db", "--node=1"},
                {11, "", "Error: service db is running on node 2; stop it first\n"});
}

TEST_F(Scenario, ServiceMoveByNodeNameAndByNodeId) {
  expect_client({"service", "move", "--name=web", "--node=alpha"},
                {0, "service web stopped\nservice web started on node 1 (alpha)\n", ""});
  expect_client({"service", "move", "--name=db", "-n", "2"},
                {0, "service db stopped\nservice db started on node 2 (bravo)\n", ""});
  const Json services = status_document()["cluster"]["services"];
  EXPECT_EQ(services[0]["nodeId"], 2);
  EXPECT_EQ(services[1]["nodeId"], 1);
}

TEST_F(Scenario, ServiceMoveIsRefusedByEachTargetCheckAndChangesNothing) {
  inject("node bravo offline", "node 2 (bravo) is OFFLINE; web failed over to node 1 (alpha)");
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
    expect_client({"service", "move", "--name=cache", "--node=" + node}, {11, "", message});
  }
  EXPECT_EQ(status_document(), before);
}

// The daemon would refuse a disabled service its start, so the move is
// refused before the stop and the service keeps running.
TEST_F(Scenario, ServiceMoveOfADisabledServiceIsRefusedAndLeavesItRunning) {
  expect_client({"service", "disable", "--name=web"}, {0, "service web disabled\n", ""});
  expect_client({"service", "move", "--name=web", "--node=alpha"},
                {11, "", "Error: cannot move disabled service: web\n"});
  expect_client({"service", "status", "--name=web"}, {0, "web    2    ONLINE  DISABLED  [ ]\n", ""});
}

TEST_F(Scenario, NodeExitIsRefusedWhileTheNodeRunsServicesUnlessForced) {
  expect_client(
      {"node", "exit", "--id=1"},
      {11, "", "Error: node 1 (alpha) still runs db, cache, mail; stop them first or exit with force\n"});
  EXPECT_EQ(status_document()["cluster"]["nodes"].size(), 3U);

  expect_client({"node", "exit", "--id=1", "--force"},
                {0, "node 1 (alpha) left the cluster; stopped db, cache, mail\n", ""});
  expect_client({"node", "exit", "--id=charlie"}, {0, "node 3 (charlie) left the cluster\n", ""});
  expect_client({"cluster", "status"}, {0,
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
  expect_client({"cluster", "exit"}, {0, "", ""});
  expect_client({"node", "list"}, {0, "", ""});
  expect_client({"cluster", "status"},
                {0,
                 "NAME    NODE     STATE    STATUS  POOLS\n"
                 "archive    -   STOPPED  DISABLED  [ arch(EXPORTED) ]\n"
                 "cache      -   STOPPED   enabled  [ ]\n"
                 "db         -   STOPPED   enabled  [ db-pool(EXPORTED) ]\n"
                 "mail       -   STOPPED   enabled  [ ]\n"
                 "web        -   STOPPED   enabled  [ www(EXPORTED), logs(EXPORTED) ]\n",
                 ""});
  expect_client({"service", "start", "--name=db"},
                {11, "", "Error: no node can run service db: every node is disabled, not ONLINE or gone\n"});
}

// The client gives up a receive every 2 seconds and prints a dot; a reply
// held 3 seconds brings exactly one, then a newline before the output.
TEST_F(Scenario, SlowDaemonShowsProgressDots) {
  daemon_.reply_delay = 3000ms;
  expect_client({"service", "stop", "--name=cache"}, {0, ".\nservice cache stopped\n", ""});
  expect_client({"node", "list"}, {0,
                                   ".\n"
                                   "NAME      ID     STATE    STATUS  \n"
                                   "alpha      1    ONLINE   enabled\n"
                                   "bravo      2    ONLINE   enabled\n"
                                   "charlie    3    ONLINE  DISABLED\n",
                                   ""});
  EXPECT_EQ(daemon_.now, 6000ms);
}

// Starts and stops that take 3 seconds hold their replies that long: a dot
// for each half of a move.
TEST_F(Scenario, AMoveWhoseStopAndStartTakeTimeShowsDotsForEach) {
  daemon_.cluster.op_time = 3000ms;
  expect_client({"service", "move", "--name=web", "--node=alpha"},
                {0, ".\nservice web stopped\n.\nservice web started on node 1 (alpha)\n", ""});
  EXPECT_EQ(daemon_.now, 6000ms);
  expect_client({"service", "status", "--name=web"}, {0, "web    1    ONLINE   enabled  [ ]\n", ""});
}

// A daemon that stops reading for a while: the client's dots, then its answer.
TEST_F(Scenario, ADaemonSilentForAWhileGetsDotsThenAnswers) {
  inject("daemon silent 2500ms", "reading no requests for 2500 ms");
  expect_client({"service", "status", "--name=web"}, {0, ".\nweb    2    ONLINE   enabled  [ ]\n", ""});
  EXPECT_EQ(daemon_.now, 2500ms);
}

}  // namespace
}  // namespace tarnex::testing
