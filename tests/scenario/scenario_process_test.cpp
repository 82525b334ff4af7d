// Operator scenarios that need the programs themselves: two clients at once
// against a running ruxd-sim, and the real client and daemon over ZeroMQ
// with faults injected by ruxd-sim's command line.

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "scenario_config.hpp"
#include "support/process.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSimPath = RUXD_SIM_PATH;

class ScenarioProcess : public ::testing::Test {
 protected:
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
          box_.write("ruxd.json", scenario_config(endpoint));
          std::vector<std::string> argv = {kSimPath, "--config", box_.config_path.string(), "--op-ms", "0"};
          argv.insert(argv.end(), extra.begin(), extra.end());
          return argv;
        },
        problem);
    ASSERT_FALSE(endpoint.empty()) << "ruxd-sim did not start: " << problem;
  }

  RunResult client(const std::vector<std::string>& args) const { return run_process(box_.command(args)); }

  // Sends a fault to the daemon the way an operator does, with ruxd-sim itself.
  RunResult inject(const std::string& fault) const {
    return run_process({kSimPath, "--config", box_.config_path.string(), "--inject", fault}, 30s);
  }

  Sandbox box_;
  ChildProcess daemon_;
};

// A move whose start is broken off from another terminal: the start's
// requester is told, the move leaves its hint, and a second break finds
// nothing to do.
TEST_F(ScenarioProcess, BreakBreaksOffTheStartOfAMoveInProgress) {
  start_daemon({"--op-ms", "1500"});
  ChildProcess mover;
  start_child(mover, box_.command({"service", "move", "--name=web", "--node=alpha"}));
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (client({"service", "status", "--name=web"}).out.find("STARTING") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "web never showed STARTING";
    std::this_thread::sleep_for(20ms);
  }
  expect_run(client({"service", "break", "--name=web"}),
             "start of web on node 1 (alpha) broken off, web is STOPPED\n", "", 0);
  expect_run(finish_child(mover, 0, 30s), "service web stopped\n",
             "Error: start of web on node 1 (alpha) broken off (service break), web is STOPPED\n"
             "Service web was stopped, but the start on node 1 did not complete.\n"
             "Check the actual state: tarnex-viravi service status --name=web\n",
             11);
  expect_run(client({"service", "break", "--name=web"}), "service web: nothing in progress to break off\n",
             "", 0);
  expect_run(client({"service", "status", "--name=web"}), "web   -1   STOPPED   enabled  [ ]\n", "", 0);
}

// ruxd-sim --inject applies a fault and prints its answer, or prints why it
// refused one and fails; the client shows the fault's effect.
TEST_F(ScenarioProcess, InjectedNodeFailureShowsInTheClusterStatus) {
  start_daemon();
  expect_run(inject("node bravo offline"), "node 2 (bravo) is OFFLINE; web failed over to node 1 (alpha)\n",
             "", 0);
  expect_run(inject("node 9 online"), "", "ruxd-sim: node not found: 9\n", 1);
  expect_run(client({"cluster", "status"}),
             "NODES:\n"
             "NAME      ID     STATE    STATUS  SERVICES\n"
             "alpha      1    ONLINE   enabled  [ cache, db, mail, web ]\n"
             "bravo      2   OFFLINE   enabled  [ ]\n"
             "charlie    3    ONLINE  DISABLED  [ ]\n"
             "\n"
             "SERVICES:\n"
             "NAME    NODE     STATE    STATUS  POOLS\n"
             "archive    -   STOPPED  DISABLED  [ arch(EXPORTED) ]\n"
             "cache      1    ONLINE   enabled  [ ]\n"
             "db         1    ONLINE   enabled  [ db-pool(ONLINE) ]\n"
             "mail       1    ONLINE   enabled  [ ]\n"
             "web        1    ONLINE   enabled  [ www(ONLINE), logs(ONLINE) ]\n",
             "", 0);
}

}  // namespace
}  // namespace tarnex::testing
