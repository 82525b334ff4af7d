#include "sim_routes.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/requests.hpp"

namespace tarnex::sim {
namespace {

// alpha (1) and bravo (2) enabled, charlie (3) disabled. db prefers 1, web
// 2, mail the disabled 3; cache has no preference; archive is disabled.
ClusterConfig test_config() {
  ClusterConfig config;
  config.cluster.mgmt_url = "tcp://127.0.0.1:1";
  for (const auto& [id, name, enabled] : std::vector<std::tuple<std::uint32_t, std::string, bool>>{
           {1, "alpha", true}, {2, "bravo", true}, {3, "charlie", false}}) {
    NodeConfig node;
    node.id = id;
    node.nodename = name;
    node.internal_addr = "10.0.0." + std::to_string(id);
    node.enabled = enabled;
    config.nodes.push_back(node);
  }
  for (const auto& [name, enabled, pools] :
       std::vector<std::tuple<std::string, bool, std::vector<std::string>>>{{"db", true, {"db-pool"}},
                                                                            {"web", true, {"www", "logs"}},
                                                                            {"cache", true, {}},
                                                                            {"archive", false, {"arch"}},
                                                                            {"mail", true, {}}}) {
    ServiceConfig service;
    service.name = name;
    service.enabled = enabled;
    service.pools = pools;
    config.services.push_back(service);
  }
  config.distribution_preferences = {{"db", 1}, {"web", 2}, {"mail", 3}};
  return config;
}

Json ask(SimCluster& cluster, const Json& request) {
  return handle_request(cluster, request).value();
}

Json inject(SimCluster& cluster, const std::string& text, SimTime now = SimTime{0}) {
  return handle_request(cluster, fault_request(text), now).value();
}

const SimService& service_named(const SimCluster& cluster, const std::string& name) {
  for (const auto& service : cluster.services) {
    if (service.name == name) return service;
  }
  throw std::runtime_error("no service " + name);
}

const SimNode* node_with_id(const SimCluster& cluster, std::uint32_t id) {
  for (const auto& node : cluster.nodes) {
    if (node.id == id) return &node;
  }
  return nullptr;
}

std::string message_of(const Json& reply) {
  return json_get_string(reply, JsonPointer("/response/message"), "?");
}

// Everything a client can see, to check that refused requests change nothing.
std::string snapshot(SimCluster& cluster) {
  return ask(cluster, {{"call", "node"}, {"cmd", "status"}}).dump() +
         ask(cluster, {{"call", "service"}, {"cmd", "status"}, {"adv", "pools"}}).dump();
}

TEST(SimClusterBuild, PlacesEnabledServicesByPreferenceElseOnFirstNodeThatCanRunThem) {
  const SimCluster cluster = build_sim_cluster(test_config());
  struct Expected {
    const char* name;
    std::int64_t run_node;
    ServiceState state;
    bool enabled;
  };
  for (const auto& e : std::vector<Expected>{{"db", 1, ServiceState::online, true},
                                             {"web", 2, ServiceState::online, true},
                                             {"cache", 1, ServiceState::online, true},
                                             {"archive", -1, ServiceState::stopped, false},
                                             {"mail", 1, ServiceState::online, true}}) {
    SCOPED_TRACE(e.name);
    const auto& service = service_named(cluster, e.name);
    EXPECT_EQ(service.run_node, e.run_node);
    EXPECT_EQ(service.state, e.state);
    EXPECT_EQ(service.enabled, e.enabled);
  }
  ASSERT_EQ(cluster.nodes.size(), 3U);
  EXPECT_EQ(cluster.nodes[2].nodename, "charlie");
  EXPECT_FALSE(cluster.nodes[2].enabled);
  EXPECT_EQ(cluster.nodes[2].state, NodeState::online);
}

TEST(SimClusterBuild, TakesTheFirstPreferenceThatFitsAndLeavesServicesUnplacedWhenNoNodeFits) {
  ClusterConfig config = test_config();
  config.distribution_preferences = {{"db", 3}, {"db", 2}, {"db", 1}};
  EXPECT_EQ(service_named(build_sim_cluster(config), "db").run_node, 2);

  for (auto& node : config.nodes)
    node.enabled = false;
  const SimCluster cluster = build_sim_cluster(config);
  for (const auto& service : cluster.services) {
    EXPECT_EQ(service.run_node, -1) << service.name;
    EXPECT_EQ(service.state, ServiceState::stopped) << service.name;
  }
}

TEST(SimClusterStatus, AnswersNodeAndServiceRecordsInTheShapesTheClientReads) {
  SimCluster cluster = build_sim_cluster(test_config());
  const Json nodes = ask(cluster, {{"call", "node"}, {"cmd", "status"}});
  EXPECT_EQ(nodes, Json::parse(R"({"response": [
      {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true},
      {"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true},
      {"id": 3, "nodename": "charlie", "state": "ONLINE", "enabled": false}]})"));

  const Json services = ask(cluster, {{"call", "service"}, {"cmd", "status"}});
  ASSERT_TRUE(services["response"].is_array());
  ASSERT_EQ(services["response"].size(), 5U);
  EXPECT_EQ(services["response"][0],
            Json::parse(R"({"name": "db", "enabled": true, "state": "ONLINE", "run_node": 1})"));
  for (const auto& record : services["response"])
    EXPECT_FALSE(record.contains("pools"));

  const Json with_pools = ask(cluster, {{"call", "service"}, {"cmd", "status"}, {"adv", "pools"}});
  EXPECT_EQ(with_pools["response"][1]["pools"],
            Json::parse(R"([{"name": "www", "state": "ONLINE"}, {"name": "logs", "state": "ONLINE"}])"));
  EXPECT_EQ(with_pools["response"][2]["pools"], Json::array());
  EXPECT_EQ(with_pools["response"][3]["pools"], Json::parse(R"([{"name": "arch", "state": "EXPORTED"}])"));
}

TEST(SimClusterStatus, FindsOneNodeByIdNameOrIdTextAndOneServiceByName) {
  SimCluster cluster = build_sim_cluster(test_config());
  for (const Json& id : {Json(2), Json("bravo"), Json("2")}) {
    SCOPED_TRACE(id.dump());
    const Json reply = ask(cluster, {{"call", "node"}, {"cmd", "status"}, {"id", id}});
    ASSERT_EQ(reply["response"].size(), 1U);
    EXPECT_EQ(reply["response"][0]["nodename"], "bravo");
  }
  const Json reply = ask(cluster, {{"call", "service"}, {"cmd", "status"}, {"serviceName", "web"}});
  ASSERT_EQ(reply["response"].size(), 1U);
  EXPECT_EQ(reply["response"][0]["name"], "web");
}

TEST(SimClusterRequests, RefusesMalformedAndUnknownRequestsWithAnErrorReplyAndChangesNothing) {
  struct Case {
    const char* request;
    int error;
    const char* message;
  };
  const std::vector<Case> cases = {
      {R"([1, 2])", error_bad_request, "request must be a JSON object"},
      {R"("node")", error_bad_request, "request must be a JSON object"},
      {R"({"cmd": "status"})", error_bad_request, "request needs a \"call\" string"},
      {R"({"call": 1, "cmd": "status"})", error_bad_request, "request needs a \"call\" string"},
      {R"({"call": "node"})", error_bad_request, "request needs a \"cmd\" string"},
      {R"({"call": "disk", "cmd": "status"})", error_bad_request, "unknown call: disk"},
      {R"({"call": "node", "cmd": "reboot", "id": 1})", error_bad_request,
       "unknown command for node: reboot"},
      {R"({"call": "cluster", "cmd": "status"})", error_bad_request, "unknown command for cluster: status"},
      {R"({"call": "node", "cmd": "disable"})", error_bad_request, "node disable needs \"id\""},
      {R"({"call": "node", "cmd": "disable", "id": true})", error_bad_request,
       "\"id\" must be a node id or a node name"},
      {R"({"call": "node", "cmd": "disable", "id": 1.0})", error_bad_request,
       "\"id\" must be a node id or a node name"},
      {R"({"call": "node", "cmd": "disable", "id": 9})", error_not_found, "node not found: 9"},
      {R"({"call": "node", "cmd": "disable", "id": -1})", error_not_found, "node not found: -1"},
      {R"({"call": "node", "cmd": "disable", "id": 4294967297})", error_not_found,
       "node not found: 4294967297"},
      {R"({"call": "node", "cmd": "status", "id": "Alpha"})", error_not_found, "node not found: Alpha"},
      {R"({"call": "node", "cmd": "exit", "id": 1, "force": "yes"})", error_bad_request,
       "\"force\" must be a boolean"},
      {R"({"call": "service", "cmd": "stop"})", error_bad_request, "service stop needs \"serviceName\""},
      {R"({"call": "service", "cmd": "stop", "serviceName": 7})", error_bad_request,
       "\"serviceName\" must be a string"},
      {R"({"call": "service", "cmd": "status", "serviceName": "DB"})", error_not_found,
       "service not found: DB"},
      {R"({"call": "service", "cmd": "status", "adv": "disks"})", error_bad_request,
       "unknown \"adv\" selector: \"disks\""},
      {R"({"call": "service", "cmd": "start", "serviceName": "cache", "nodeId": "zulu"})", error_not_found,
       "node not found: zulu"},
      {R"({"call": "service", "cmd": "start", "serviceName": "cache", "nodeId": null})", error_bad_request,
       "\"nodeId\" must be a node id or a node name"},
  };
  SimCluster cluster = build_sim_cluster(test_config());
  const std::string before = snapshot(cluster);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    const Json reply = ask(cluster, Json::parse(c.request));
    EXPECT_EQ(reply, error_reply(c.error, c.message));
  }
  EXPECT_EQ(snapshot(cluster), before);
}

TEST(SimClusterRequests, NodeEnableAndDisableChangeTheNodeAndBreakWithNothingInProgressDoesNot) {
  SimCluster cluster = build_sim_cluster(test_config());
  EXPECT_EQ(message_of(ask(cluster, {{"call", "node"}, {"cmd", "disable"}, {"id", 2}})),
            "node 2 (bravo) disabled");
  EXPECT_FALSE(node_with_id(cluster, 2)->enabled);
  EXPECT_EQ(service_named(cluster, "web").run_node, 2) << "disabling a node does not stop its services";

  const std::string before = snapshot(cluster);
  EXPECT_EQ(message_of(ask(cluster, {{"call", "node"}, {"cmd", "break"}, {"id", "bravo"}})),
            "node 2 (bravo): nothing in progress to break off");
  EXPECT_EQ(snapshot(cluster), before);

  // Enabling does not bring a node that is down back up.
  inject(cluster, "node 2 offline");
  EXPECT_EQ(message_of(ask(cluster, {{"call", "node"}, {"cmd", "enable"}, {"id", "2"}})),
            "node 2 (bravo) enabled");
  EXPECT_TRUE(node_with_id(cluster, 2)->enabled);
  EXPECT_EQ(node_with_id(cluster, 2)->state, NodeState::offline);
}

TEST(SimClusterRequests, NodeExitIsRefusedWhileTheNodeRunsServicesUnlessForced) {
  SimCluster cluster = build_sim_cluster(test_config());
  const std::string before = snapshot(cluster);
  EXPECT_EQ(ask(cluster, {{"call", "node"}, {"cmd", "exit"}, {"id", 1}}),
            error_reply(error_refused,
                        "node 1 (alpha) still runs db, cache, mail; stop them first or exit with force"));
  EXPECT_EQ(ask(cluster, {{"call", "node"}, {"cmd", "exit"}, {"id", 1}, {"force", false}}),
            error_reply(error_refused,
                        "node 1 (alpha) still runs db, cache, mail; stop them first or exit with force"));
  EXPECT_EQ(snapshot(cluster), before);

  EXPECT_EQ(message_of(ask(cluster, {{"call", "node"}, {"cmd", "exit"}, {"id", 1}, {"force", true}})),
            "node 1 (alpha) left the cluster; stopped db, cache, mail");
  EXPECT_EQ(node_with_id(cluster, 1), nullptr);
  for (const char* name : {"db", "cache", "mail"}) {
    EXPECT_EQ(service_named(cluster, name).run_node, -1) << name;
    EXPECT_EQ(service_named(cluster, name).state, ServiceState::stopped) << name;
  }
  EXPECT_EQ(service_named(cluster, "web").run_node, 2);

  // A node without services leaves without force; a node gone is gone.
  EXPECT_EQ(message_of(ask(cluster, {{"call", "node"}, {"cmd", "exit"}, {"id", "charlie"}})),
            "node 3 (charlie) left the cluster");
  EXPECT_EQ(ask(cluster, {{"call", "node"}, {"cmd", "status"}, {"id", 1}}),
            error_reply(error_not_found, "node not found: 1"));
}

TEST(SimClusterRequests, ServiceStopAndStartMoveTheServiceBetweenNodes) {
  SimCluster cluster = build_sim_cluster(test_config());
  const Json stop = {{"call", "service"}, {"cmd", "stop"}, {"serviceName", "db"}};
  EXPECT_EQ(message_of(ask(cluster, stop)), "service db stopped");
  EXPECT_EQ(service_named(cluster, "db").run_node, -1);
  EXPECT_EQ(service_named(cluster, "db").state, ServiceState::stopped);
  EXPECT_EQ(message_of(ask(cluster, stop)), "service db is already stopped");

  EXPECT_EQ(
      message_of(ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "db"}, {"nodeId", 2}})),
      "service db started on node 2 (bravo)");
  EXPECT_EQ(service_named(cluster, "db").run_node, 2);
  EXPECT_EQ(service_named(cluster, "db").state, ServiceState::online);

  // Running: a start on the same node (or anywhere) is a no-op, elsewhere a refusal.
  EXPECT_EQ(message_of(ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "db"}})),
            "service db is already running on node 2");
  EXPECT_EQ(ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "db"}, {"nodeId", "alpha"}}),
            error_reply(error_refused, "service db is running on node 2; stop it first"));

  // Without a node the start follows the preference.
  ask(cluster, stop);
  EXPECT_EQ(message_of(ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "db"}})),
            "service db started on node 1 (alpha)");
}

TEST(SimClusterRequests, ServiceStartIsRefusedOnNodesThatCannotRunItAndForDisabledServices) {
  SimCluster cluster = build_sim_cluster(test_config());
  ask(cluster, {{"call", "service"}, {"cmd", "stop"}, {"serviceName", "cache"}});
  inject(cluster, "node bravo offline");
  const std::string before = snapshot(cluster);
  struct Case {
    Json node_id;
    Json reply;
  };
  for (const auto& c : std::vector<Case>{
           {3, error_reply(error_refused, "node 3 (charlie) is disabled")},
           {"bravo", error_reply(error_refused, "node 2 (bravo) is not ONLINE (state OFFLINE)")},
           {7, error_reply(error_not_found, "node not found: 7")},
       }) {
    SCOPED_TRACE(c.node_id.dump());
    EXPECT_EQ(ask(cluster,
                  {{"call", "service"}, {"cmd", "start"}, {"serviceName", "cache"}, {"nodeId", c.node_id}}),
              c.reply);
  }
  EXPECT_EQ(ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "archive"}, {"nodeId", 1}}),
            error_reply(error_refused, "service archive is disabled; enable it first"));
  EXPECT_EQ(snapshot(cluster), before);

  // With every node unable to run it, a start without a node has nowhere to go.
  ask(cluster, {{"call", "node"}, {"cmd", "disable"}, {"id", 1}});
  EXPECT_EQ(ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "cache"}}),
            error_reply(error_refused,
                        "no node can run service cache: every node is disabled, not ONLINE or gone"));
}

TEST(SimClusterRequests, ServiceEnableDisableAndFailureChangeTheService) {
  SimCluster cluster = build_sim_cluster(test_config());
  auto service_cmd = [&](const char* cmd, const char* name) {
    return message_of(ask(cluster, {{"call", "service"}, {"cmd", cmd}, {"serviceName", name}}));
  };
  EXPECT_EQ(service_cmd("disable", "web"), "service web disabled");
  EXPECT_FALSE(service_named(cluster, "web").enabled);
  EXPECT_EQ(service_named(cluster, "web").state, ServiceState::online) << "disabling does not stop";

  EXPECT_EQ(message_of(inject(cluster, "service web fail")), "service web is FAILED on node 2 (bravo)");
  EXPECT_EQ(service_named(cluster, "web").state, ServiceState::failed);
  EXPECT_EQ(service_named(cluster, "web").run_node, 2);
  EXPECT_EQ(inject(cluster, "service archive fail"),
            error_reply(error_refused, "service archive is not running; nothing to fail"));
  EXPECT_EQ(service_named(cluster, "archive").state, ServiceState::stopped);

  EXPECT_EQ(service_cmd("enable", "web"), "service web enabled");
  // A failed service restarts where it is.
  EXPECT_EQ(service_cmd("start", "web"), "service web started on node 2 (bravo)");
  EXPECT_EQ(service_named(cluster, "web").state, ServiceState::online);
}

TEST(SimClusterRequests, ClusterExitStopsEveryServiceAndRemovesEveryNode) {
  SimCluster cluster = build_sim_cluster(test_config());
  EXPECT_EQ(message_of(ask(cluster, {{"call", "cluster"}, {"cmd", "exit"}})),
            "cluster exit: stopped 4 services, removed 3 nodes");
  EXPECT_EQ(ask(cluster, {{"call", "node"}, {"cmd", "status"}}), Json::parse(R"({"response": []})"));
  for (const auto& service : cluster.services) {
    EXPECT_EQ(service.state, ServiceState::stopped) << service.name;
    EXPECT_EQ(service.run_node, -1) << service.name;
  }
  EXPECT_EQ(
      ask(cluster, {{"call", "service"}, {"cmd", "start"}, {"serviceName", "db"}}),
      error_reply(error_refused, "no node can run service db: every node is disabled, not ONLINE or gone"));
}

TEST(SimClusterRequests, ServiceHelpListsTheCommands) {
  SimCluster cluster = build_sim_cluster(test_config());
  const Json reply = ask(cluster, {{"call", "service"}, {"cmd", "help"}});
  ASSERT_TRUE(reply["response"].is_array());
  ASSERT_FALSE(reply["response"].empty());
  for (const auto& line : reply["response"])
    EXPECT_TRUE(line.is_string());
}

Json service_request(const char* cmd, const char* name, int node = 0) {
  Json request = {{"call", "service"}, {"cmd", cmd}, {"serviceName", name}};
  if (node != 0) request["nodeId"] = node;
  return request;
}

// The replies advance() hands out, a "ticket: message" line each.
std::string replies_at(SimCluster& cluster, SimTime now) {
  std::string text;
  for (const auto& held : advance(cluster, now)) {
    const char* member = held.reply.contains("error") ? "/errorMessage" : "/response/message";
    text += std::to_string(held.ticket) + ": " + json_get_string(held.reply, JsonPointer(member), "?") + "\n";
  }
  return text;
}

TEST(SimClusterOperations, StartAndStopTakeTheirTimeShowItAndAnswerWhenTheyEnd) {
  SimCluster cluster = build_sim_cluster(test_config(), SimTime{500});
  EXPECT_FALSE(handle_request(cluster, service_request("stop", "db"), SimTime{1000}, 7).has_value());
  EXPECT_EQ(ask(cluster, {{"call", "service"}, {"cmd", "status"}, {"serviceName", "db"}, {"adv", "pools"}}),
            Json::parse(R"({"response": [{"name": "db", "enabled": true, "state": "STOPPING", "run_node": 1,
                "pools": [{"name": "db-pool", "state": "EXPORTING"}]}]})"));
  EXPECT_EQ(
      ask(cluster, service_request("start", "db")),
      error_reply(error_refused, "service db is stopping on node 1 (alpha); wait for it or break it off"));
  EXPECT_EQ(replies_at(cluster, SimTime{1499}), "");
  EXPECT_EQ(replies_at(cluster, SimTime{1500}), "7: service db stopped\n");

  handle_request(cluster, service_request("start", "db", 2), SimTime{2000}, 8);
  EXPECT_EQ(service_named(cluster, "db").state, ServiceState::starting);
  EXPECT_EQ(next_operation_end(cluster), SimTime{2500});
  EXPECT_EQ(replies_at(cluster, SimTime{2500}), "8: service db started on node 2 (bravo)\n");
  EXPECT_EQ(service_named(cluster, "db").state, ServiceState::online);
}

TEST(SimClusterOperations, BreakEndsOnlyTheOperationsOfItsServiceOrNodeAndTellsTheirRequesters) {
  SimCluster cluster = build_sim_cluster(test_config());
  ask(cluster, service_request("stop", "cache"));
  ask(cluster, service_request("stop", "web"));
  cluster.op_time = SimTime{500};
  handle_request(cluster, service_request("start", "cache", 2), SimTime{0}, 3);
  handle_request(cluster, service_request("stop", "db"), SimTime{0}, 4);
  handle_request(cluster, service_request("start", "web", 2), SimTime{0}, 5);

  EXPECT_EQ(message_of(ask(cluster, service_request("break", "cache"))),
            "start of cache on node 2 (bravo) broken off, cache is STOPPED");
  EXPECT_EQ(message_of(ask(cluster, {{"call", "node"}, {"cmd", "break"}, {"id", "alpha"}})),
            "stop of db on node 1 (alpha) broken off, db is ONLINE on node 1 (alpha)");
  EXPECT_EQ(message_of(ask(cluster, service_request("break", "db"))),
            "service db: nothing in progress to break off");
  EXPECT_EQ(replies_at(cluster, SimTime{100}),
            "3: start of cache on node 2 (bravo) broken off (service break), cache is STOPPED\n"
            "4: stop of db on node 1 (alpha) broken off (node break), db is ONLINE on node 1 (alpha)\n");
  EXPECT_EQ(replies_at(cluster, SimTime{500}), "5: service web started on node 2 (bravo)\n");
}

TEST(SimFaults, ReadsEachFaultAndRefusesAnythingElse) {
  std::string error;
  auto fault = parse_fault("  node nas-b   online ", &error);
  ASSERT_TRUE(fault.has_value()) << error;
  EXPECT_EQ(fault->kind, SimFault::Kind::node_online);
  EXPECT_EQ(fault->subject, "nas-b");
  fault = parse_fault("daemon silent 3600s", &error);
  ASSERT_TRUE(fault.has_value()) << error;
  EXPECT_EQ(fault->duration, SimTime{3600000});
  fault = parse_fault("daemon silent 800ms", &error);
  ASSERT_TRUE(fault.has_value()) << error;
  EXPECT_EQ(fault->duration, SimTime{800});
  for (const char* text : {"", "node 2", "node 2 down", "service db offline", "reset now", "daemon silent 5",
                           "daemon silent 1.5s", "daemon silent 3601s", "daemon silent 99999999999s"}) {
    error.clear();
    EXPECT_FALSE(parse_fault(text, &error).has_value()) << text;
    EXPECT_NE(error, "") << text;
  }
}

TEST(SimFaults, ANodeThatGoesOfflineHandsItsServicesToPreferredNodesElseAnyElseTheyFail) {
  ClusterConfig config = test_config();
  config.distribution_preferences = {{"db", 1}, {"db", 3}, {"db", 2}, {"web", 2}, {"mail", 3}};
  SimCluster cluster = build_sim_cluster(config);
  ask(cluster, service_request("disable", "cache"));
  ask(cluster, service_request("stop", "web"));
  cluster.op_time = SimTime{500};
  handle_request(cluster, service_request("start", "web", 1), SimTime{0}, 9);

  EXPECT_EQ(message_of(inject(cluster, "node alpha offline")),
            "node 1 (alpha) is OFFLINE; db failed over to node 2 (bravo); cache FAILED (disabled); "
            "mail failed over to node 2 (bravo)");
  EXPECT_EQ(message_of(inject(cluster, "node 1 offline")), "node 1 (alpha) is already OFFLINE");
  EXPECT_EQ(replies_at(cluster, SimTime{1}),
            "9: start of web on node 1 (alpha) broken off (node 1 (alpha) went OFFLINE), web is STOPPED\n");

  // A stop in progress on a node that goes down is done; what has nowhere to go fails.
  handle_request(cluster, service_request("stop", "db"), SimTime{1}, 10);
  EXPECT_EQ(message_of(inject(cluster, "node 2 offline")),
            "node 2 (bravo) is OFFLINE; mail FAILED (no node can run it)");
  EXPECT_EQ(replies_at(cluster, SimTime{2}), "10: service db stopped\n");
  EXPECT_EQ(message_of(inject(cluster, "node bravo online")), "node 2 (bravo) is ONLINE");
  EXPECT_EQ(inject(cluster, "node zulu offline"), error_reply(error_not_found, "node not found: zulu"));
}

TEST(SimFaults, FailureNodeExitAndResetEndOperationsInProgressAndSayWhatIsLeft) {
  SimCluster cluster = build_sim_cluster(test_config(), SimTime{500});
  handle_request(cluster, service_request("stop", "web"), SimTime{0}, 1);
  handle_request(cluster, service_request("stop", "db"), SimTime{0}, 2);
  inject(cluster, "service web fail");
  ask(cluster, {{"call", "node"}, {"cmd", "exit"}, {"id", 1}, {"force", true}});
  EXPECT_EQ(
      replies_at(cluster, SimTime{1}),
      "1: stop of web on node 2 (bravo) broken off (service web failed), web is FAILED on node 2 (bravo)\n"
      "2: stop of db on node 1 (alpha) broken off (node exit), db is STOPPED\n");
  EXPECT_EQ(message_of(inject(cluster, "daemon silent 3s", SimTime{1000})),
            "reading no requests for 3000 ms");
  EXPECT_EQ(cluster.silent_until, SimTime{4000});

  handle_request(cluster, service_request("start", "db"), SimTime{1}, 3);
  EXPECT_EQ(message_of(inject(cluster, "reset")), "cluster reset: 3 nodes, 5 services as configured");
  EXPECT_EQ(replies_at(cluster, SimTime{2}),
            "3: start of db on node 2 (bravo) broken off (reset), db is ONLINE on node 1 (alpha)\n");
  EXPECT_EQ(cluster.silent_until, SimTime{0});
  SimCluster fresh = build_sim_cluster(test_config());
  EXPECT_EQ(snapshot(cluster), snapshot(fresh));
}

TEST(SimClusterRequestText, ParsesAsStrictlyAsTheClientAndAlwaysAnswersWithJson) {
  SimCluster cluster = build_sim_cluster(test_config());
  EXPECT_EQ(Json::parse(handle_request_text(cluster, R"({"call":"node","cmd":"status","id":1})")
                            .value())["response"][0]["id"],
            1);
  const std::string& status = testing::node_status_request;
  struct Case {
    std::string text;
    const char* message_start;
  };
  for (const auto& c : std::vector<Case>{
           {"", "request is not valid JSON: "},
           {"not json", "request is not valid JSON: "},
           {status + " trailing", "request is not valid JSON: "},
           {status + std::string("\0junk", 5), "request is not valid JSON: "},
           {std::string("{\"call\":\"node\",\0\"cmd\":\"status\"}", 25), "request is not valid JSON: "},
           {R"({"call":"node", /* comment */ "cmd":"status"})", "request is not valid JSON: "},
           {"{\"call\":\"\xff\"}", "request is not valid JSON: "},
           {std::string(513, '[') + std::string(513, ']'), "request refused: request nested deeper than 512"},
           {std::string(max_parsed_request_bytes + 1, ' '), "request refused: longer than 65536 bytes"},
       }) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const Json reply = Json::parse(handle_request_text(cluster, c.text).value());
    EXPECT_EQ(reply["error"], error_bad_request);
    EXPECT_EQ(reply["errorMessage"].get<std::string>().rfind(c.message_start, 0), 0U)
        << reply["errorMessage"];
  }
  // The longest request that is still parsed.
  std::string longest = status;
  longest.resize(max_parsed_request_bytes, ' ');
  EXPECT_EQ(Json::parse(handle_request_text(cluster, longest).value())["response"].size(), 3U);
  const std::string nested = std::string(512, '[') + std::string(512, ']');
  EXPECT_EQ(Json::parse(handle_request_text(cluster, nested).value())["errorMessage"],
            "request must be a JSON object");
}

}  // namespace
}  // namespace tarnex::sim
