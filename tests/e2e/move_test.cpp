// service move: the node list, the checks on the target node in their
// order, stop, start, and the recovery hint after a failed start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string status_db = R"({"call":"service","cmd":"status","serviceName":"db"})";
const std::string stop_db = R"({"call":"service","cmd":"stop","serviceName":"db"})";

std::string start_db(const std::string& node_id) {
  return R"({"call":"service","cmd":"start","nodeId":)" + node_id + R"(,"serviceName":"db"})";
}

const std::string nodes_reply = R"({"response": [
  {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true},
  {"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true},
  {"nodename": "noid", "state": "ONLINE", "enabled": true},
  {"id": "x", "nodename": "badid", "state": "ONLINE", "enabled": true},
  {"id": -3, "nodename": "negative", "enabled": false},
  {"id": 4, "nodename": "off", "state": "ONLINE", "enabled": false},
  {"id": 5, "nodename": "lower", "state": "online", "enabled": true},
  {"id": 6, "nodename": "nostate", "enabled": true},
  {"id": 7, "nodename": "down-and-off", "state": "OFFLINE", "enabled": false},
  {"id": "8", "nodename": "strid", "state": "ONLINE", "enabled": "true"},
  {"id": 9, "nodename": "10", "state": "ONLINE", "enabled": true},
  {"id": 10, "nodename": "ten", "state": "ONLINE", "enabled": true}]})";

const std::string db_enabled = R"({"response": [{"name": "db", "enabled": true, "state": "ONLINE"}]})";
const std::string stopped = R"({"response": {"message": "db stopped"}})";
const std::string started = R"({"response": {"message": "db started"}})";

struct Case {
  std::string node;
  std::vector<Reply> replies;
  std::vector<std::string> requests;
  std::string out;
  std::string err;
  int status;
};

void run_cases(const std::vector<Case>& cases, const std::string& program = "tarnex-viravi") {
  for (const Case& c : cases) {
    SCOPED_TRACE("--node=" + c.node);
    expect_exchange(
        {{"service", "move", "--name=db", "--node=" + c.node}, c.replies, c.requests, c.out, c.err, c.status},
        program);
  }
}

TEST(ServiceMove, StopThenStartOnTheResolvedNode) {
  const std::vector<Reply> all = {{nodes_reply}, {db_enabled}, {stopped}, {started}};
  run_cases({
      {"bravo",
       all,
       {node_status_request, status_db, stop_db, start_db("2")},
       "db stopped\ndb started\n",
       "",
       0},
      {"2", all, {node_status_request, status_db, stop_db, start_db("2")}, "db stopped\ndb started\n", "", 0},
      {"strid",
       all,
       {node_status_request, status_db, stop_db, start_db("8")},
       "db stopped\ndb started\n",
       "",
       0},
      {"8", all, {node_status_request, status_db, stop_db, start_db("8")}, "db stopped\ndb started\n", "", 0},
      // Node 9 is named 10, and node 10 is there too: the daemon would read
      // the reference as the id of node 10 in any other command.
      {"10",
       all,
       {node_status_request},
       "",
       "Error: node reference is ambiguous: 10 is the name of node 9 and the id of node 10\n",
       11},
      {"2",
       {{nodes_reply}, {db_enabled}, {R"({"response": [{"name": "db"}]})"}, {R"({"response": []})"}},
       {node_status_request, status_db, stop_db, start_db("2")},
       "",
       "",
       0},
  });
}

// A reference of digits that the move finds by a node's name is refused
// only when it is also another node's id; found by id, it is that node.
TEST(ServiceMove, ANameOfDigitsThatIsAnotherNodesIdIsAmbiguous) {
  auto all = [](const std::string& nodes) {
    return std::vector<Reply>{{R"({"response": [)" + nodes + "]}"}, {db_enabled}, {stopped}, {started}};
  };
  const std::string one_named_3 = R"({"id": 1, "nodename": "3", "state": "ONLINE", "enabled": true})";
  const std::string three = R"({"id": 3, "nodename": "gamma", "state": "ONLINE", "enabled": true})";
  const std::string three_as_text =
      R"({"id": "3", "nodename": "gamma", "state": "OFFLINE", "enabled": false})";
  const std::vector<std::string> moved_to_1 = {node_status_request, status_db, stop_db, start_db("1")};
  const std::string ambiguous =
      "Error: node reference is ambiguous: 3 is the name of node 1 and the id of node 3\n";
  run_cases({
      {"3", all(one_named_3 + ", " + three), {node_status_request}, "", ambiguous, 11},
      // Before the checks on the state of either node; an id as text counts.
      {"3",
       all(R"({"id": 1, "nodename": "3", "enabled": false}, )" + three_as_text),
       {node_status_request},
       "",
       ambiguous,
       11},
      {"3",
       all(three + ", " + one_named_3),
       {node_status_request, status_db, stop_db, start_db("3")},
       "db stopped\ndb started\n",
       "",
       0},
      {"3", all(one_named_3), moved_to_1, "db stopped\ndb started\n", "", 0},
      {"3", all(one_named_3 + R"(, {"id": 30, "nodename": "x"}, {"nodename": "y"})"), moved_to_1,
       "db stopped\ndb started\n", "", 0},
  });
}

// Each check names the node as typed; the first failing one ends the move
// before anything reaches the service side.
TEST(ServiceMove, ChecksOnTheTargetNodeInOrder) {
  const std::vector<Reply> all = {{nodes_reply}, {db_enabled}, {stopped}, {started}};
  const std::vector<std::string> only_nodes = {node_status_request};
  run_cases({
      {"02", all, only_nodes, "", "Error: node can not be found: 02\n", 11},
      {"Bravo", all, only_nodes, "", "Error: node can not be found: Bravo\n", 11},
      {"noid", all, only_nodes, "", "Error: cannot resolve node id: noid\n", 11},
      {"badid", all, only_nodes, "", "Error: cannot resolve node id: badid\n", 11},
      {"x", all, only_nodes, "", "Error: cannot resolve node id: x\n", 11},
      {"negative", all, only_nodes, "", "Error: cannot resolve node id: negative\n", 11},
      {"off", all, only_nodes, "", "Error: cannot run service on disabled node: off\n", 11},
      {"4", all, only_nodes, "", "Error: cannot run service on disabled node: 4\n", 11},
      {"down-and-off", all, only_nodes, "", "Error: cannot run service on disabled node: down-and-off\n", 11},
      {"lower", all, only_nodes, "", "Error: cannot run service on node lower: state is online\n", 11},
      {"nostate", all, only_nodes, "", "Error: cannot run service on node nostate: state is unknown\n", 11},
      {"6", all, only_nodes, "", "Error: cannot run service on node 6: state is unknown\n", 11},
      {"1", {{R"({"response": []})"}}, only_nodes, "", "Error: node can not be found: 1\n", 11},
      {"1",
       {{R"({"response": {"message": "not a list"}})"}},
       only_nodes,
       "",
       "Error: node can not be found: 1\n",
       11},
      {"1",
       {{R"({"error": 3, "errorMessage": "not the leader"})"}},
       only_nodes,
       "",
       "Error: not the leader\n",
       11},
      {"1", {{"<html>"}}, only_nodes, "", "Exception: " + json_parse_error("<html>") + "\n", 11},
  });
}

// The service must be known and enabled before it is stopped: a disabled
// one would be refused its start and left stopped.
TEST(ServiceMove, ChecksOnTheServiceBeforeTheStop) {
  const std::vector<std::string> checked = {node_status_request, status_db};
  const std::string not_found = "Error: service can not be found: db\n";
  auto reply = [](const std::string& records) {
    return std::vector<Reply>{{nodes_reply}, {R"({"response": [)" + records + "]}"}, {stopped}, {started}};
  };
  run_cases({
      {"bravo", reply(R"({"name": "db", "enabled": false})"), checked, "",
       "Error: cannot move disabled service: db\n", 11},
      {"bravo", reply(R"({"name": "db"})"), checked, "", "Error: cannot move disabled service: db\n", 11},
      {"bravo", reply(R"({"name": "DB", "enabled": true})"), checked, "", not_found, 11},
      {"bravo", reply(R"({"name": "db", "enabled": true, "error": 2})"), checked, "", not_found, 11},
      {"bravo", reply(""), checked, "", not_found, 11},
      {"bravo",
       {{nodes_reply}, {R"({"error": 2, "errorMessage": "no such service"})"}},
       checked,
       "",
       "Error: no such service\n",
       11},
      // The first usable record decides.
      {"bravo",
       reply(
           R"({"name": "db", "error": 1}, {"name": "db", "enabled": true}, {"name": "db", "enabled": false})"),
       {node_status_request, status_db, stop_db, start_db("2")},
       "db stopped\ndb started\n",
       "",
       0},
  });
}

// A failed stop is reported by the stop alone; no start, no hint.
TEST(ServiceMove, StopFailureEndsTheMove) {
  run_cases({
      {"bravo",
       {{nodes_reply},
        {db_enabled},
        {R"({"response": [{"error": 1, "errorMessage": "busy", "name": "db"}]})"}},
       {node_status_request, status_db, stop_db},
       "",
       "Error: busy: db\n",
       11},
      {"bravo",
       {{nodes_reply}, {db_enabled}, {R"({"error": 2, "errorMessage": "no such service"})"}},
       {node_status_request, status_db, stop_db},
       "",
       "Error: no such service\n",
       11},
      {"bravo",
       {{nodes_reply}, {db_enabled}, {R"({"response": {"message": 1}})"}},
       {node_status_request, status_db, stop_db},
       "",
       "Exception: [json.exception.type_error.302] type must be string, but is number\n",
       11},
  });
}

// After a stop that worked and a start that did not, the operator is told
// the service is down and how to look, under the program's current name.
TEST(ServiceMove, StartFailureGivesTheRecoveryHint) {
  auto hint = [](const std::string& node, const std::string& program) {
    return "Service db was stopped, but the start on node " + node +
           " did not complete.\nCheck the actual state: " + program + " service status --name=db\n";
  };
  const std::string refused = R"({"error": 5, "errorMessage": "pool p1 not importable"})";
  run_cases({
      {"bravo",
       {{nodes_reply}, {db_enabled}, {stopped}, {refused}},
       {node_status_request, status_db, stop_db, start_db("2")},
       "db stopped\n",
       "Error: pool p1 not importable\n" + hint("2", "tarnex-viravi"),
       11},
      {"strid",
       {{nodes_reply},
        {db_enabled},
        {stopped},
        {R"({"response": [{"error": 1, "errorMessage": "no", "name": "db"}]})"}},
       {node_status_request, status_db, stop_db, start_db("8")},
       "db stopped\n",
       "Error: no: db\n" + hint("8", "tarnex-viravi"),
       11},
      {"bravo",
       {{nodes_reply}, {db_enabled}, {stopped}, {"started"}},
       {node_status_request, status_db, stop_db, start_db("2")},
       "db stopped\n",
       "Exception: " + json_parse_error("started") + "\n" + hint("2", "tarnex-viravi"),
       11},
  });
  run_cases({{"bravo",
              {{nodes_reply}, {db_enabled}, {stopped}, {refused}},
              {node_status_request, status_db, stop_db, start_db("2")},
              "db stopped\n",
              "Error: pool p1 not importable\n" + hint("2", "clu"),
              11}},
            "clu");
}

}  // namespace
}  // namespace tarnex::testing
