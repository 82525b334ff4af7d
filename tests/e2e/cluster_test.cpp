// cluster status (tables and the JSON document, the exit-code rule) and
// cluster exit, against scripted daemon replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::vector<std::string> status_requests = {node_status_request, pools_status_request};

const std::string nodes_reply = R"({"response": [
  {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true},
  {"id": 2, "nodename": "bravo-2", "enabled": false}]})";
const std::string services_reply = R"({"response": [
  {"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true,
   "pools": [{"name": "p1", "state": "ONLINE"}, {"name": "p2", "state": "ONLINE"}]},
  {"name": "web", "run_node": 1, "state": "ONLINE", "enabled": true},
  {"name": "x", "enabled": false}]})";

const std::string node_section =
    "NODES:\n"
    "NAME      ID     STATE    STATUS  SERVICES\n"
    "alpha      1    ONLINE   enabled  [ db, web ]\n"
    "bravo-2    2            DISABLED  [ ]\n"
    "\n";
const std::string service_table =
    "NAME NODE     STATE    STATUS  POOLS\n"
    "db     1    ONLINE   enabled  [ p1(ONLINE), p2(ONLINE) ]\n"
    "web    1    ONLINE   enabled  [ ]\n"
    "x      -            DISABLED  [ ]\n";
const std::string both_tables = node_section + "SERVICES:\n" + service_table;
const std::string node_list_table =
    "NAME      ID     STATE    STATUS  \n"
    "alpha      1    ONLINE   enabled\n"
    "bravo-2    2            DISABLED\n";

const std::string nodes_json =
    "    \"nodes\": [\n"
    "      {\n"
    "        \"enabled\": true,\n"
    "        \"id\": 1,\n"
    "        \"name\": \"alpha\",\n"
    "        \"state\": \"ONLINE\"\n"
    "      },\n"
    "      {\n"
    "        \"enabled\": false,\n"
    "        \"id\": 2,\n"
    "        \"name\": \"bravo-2\",\n"
    "        \"state\": null\n"
    "      }\n"
    "    ]";
const std::string services_json =
    "    \"services\": [\n"
    "      {\n"
    "        \"enabled\": true,\n"
    "        \"name\": \"db\",\n"
    "        \"nodeId\": 1,\n"
    "        \"state\": \"ONLINE\"\n"
    "      },\n"
    "      {\n"
    "        \"enabled\": true,\n"
    "        \"name\": \"web\",\n"
    "        \"nodeId\": 1,\n"
    "        \"state\": \"ONLINE\"\n"
    "      },\n"
    "      {\n"
    "        \"enabled\": false,\n"
    "        \"name\": \"x\",\n"
    "        \"nodeId\": -1,\n"
    "        \"state\": \"\"\n"
    "      }\n"
    "    ]";

std::string document(const std::string& members) {
  return "{\n  \"cluster\": {\n" + members + "\n  }\n}\n";
}

struct StatusCase {
  std::string label;
  std::vector<std::string> args;
  std::vector<Reply> replies;
  std::string out;
  std::string err;
  int status;
};

void run_status_cases(const std::vector<StatusCase>& cases) {
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.label);
    expect_exchange({c.args, c.replies, status_requests, c.out, c.err, c.status});
  }
}

TEST(ClusterStatus, Tables) {
  const std::string empty = R"({"response": []})";
  run_status_cases({
      {"both tables", {"cluster", "status"}, {{nodes_reply}, {services_reply}}, both_tables, "", 0},
      {"no operands", {}, {{nodes_reply}, {services_reply}}, both_tables, "", 0},
      {"system alone", {"cluster"}, {{nodes_reply}, {services_reply}}, both_tables, "", 0},
      {"upper-case JSON is a table",
       {"cluster", "status", "-o", "JSON"},
       {{nodes_reply}, {services_reply}},
       both_tables,
       "",
       0},
      {"last output wins",
       {"cluster", "status", "-o", "json", "--output=table"},
       {{nodes_reply}, {services_reply}},
       both_tables,
       "",
       0},
      {"empty cluster", {"cluster", "status"}, {{empty}, {empty}}, "", "", 0},
      {"replies of another shape",
       {"cluster", "status"},
       {{R"({"response": {"id": 1}})"}, {"[1, 2]"}},
       "",
       "",
       0},
  });
}

// A failed request prints its error line, contributes no rows and decides
// the status, but the other reply is still shown.
TEST(ClusterStatus, FailedRequests) {
  const std::string node_error = R"({"error": 4, "errorMessage": "node table locked"})";
  const std::string service_error = R"({"error": 4, "errorMessage": "service table locked"})";
  run_status_cases({
      {"node request fails",
       {"cluster", "status"},
       {{node_error}, {services_reply}},
       service_table,
       "Error: node table locked\n",
       11},
      {"service request fails",
       {"cluster", "status"},
       {{nodes_reply}, {service_error}},
       node_list_table,
       "Error: service table locked\n",
       11},
      {"both fail",
       {"cluster", "status"},
       {{node_error}, {service_error}},
       "",
       "Error: node table locked\nError: service table locked\n",
       11},
      {"both fail, JSON",
       {"cluster", "status", "-o", "json"},
       {{node_error}, {service_error}},
       "null\n",
       "Error: node table locked\nError: service table locked\n",
       11},
      {"node request fails, JSON",
       {"cluster", "status", "--output=json"},
       {{node_error}, {services_reply}},
       document(services_json),
       "Error: node table locked\n",
       11},
      {"service request fails, JSON",
       {"cluster", "status", "--output", "json"},
       {{nodes_reply}, {service_error}},
       document(nodes_json),
       "Error: service table locked\n",
       11},
  });
}

TEST(ClusterStatus, JsonDocument) {
  const std::string empty = R"({"response": []})";
  run_status_cases({
      {"both lists",
       {"cluster", "status", "--output=json"},
       {{nodes_reply}, {services_reply}},
       document(nodes_json + ",\n" + services_json),
       "",
       0},
      {"last output wins",
       {"-o", "table", "cluster", "-o", "json"},
       {{nodes_reply}, {services_reply}},
       document(nodes_json + ",\n" + services_json),
       "",
       0},
      {"empty lists add no member", {"cluster", "status", "-o", "json"}, {{empty}, {empty}}, "null\n", "", 0},
      {"nodes only",
       {"cluster", "status", "-o", "json"},
       {{nodes_reply}, {empty}},
       document(nodes_json),
       "",
       0},
  });
}

// Records the tables filter (negative ids, duplicates, nodes outside
// 1..1023) all reach the document unchanged; names stay UTF-8.
const std::string odd_nodes = R"({"response": [
  {"id": 3, "nodename": "z\u00fcrich"},
  {"id": 3, "nodename": "dup", "state": "ONLINE", "enabled": true},
  {"id": -4, "nodename": "neg"},
  {"id": 0, "nodename": "zero", "state": "UP", "enabled": 1}]})";
const std::string odd_services = R"({"response": [
  {"name": "a", "run_node": "7"},
  {"name": "b", "run_node": 1024, "enabled": true},
  {"name": "c", "run_node": 2000, "state": "S"},
  {"name": "d", "run_node": 0},
  {"name": "d", "run_node": 5, "pools": [{"name": "q", "state": "X"}]},
  5]})";

TEST(ClusterStatus, OddRecordsInTables) {
  run_status_cases({{"odd records",
                     {"cluster", "status"},
                     {{odd_nodes}, {odd_services}},
                     "NODES:\n"
                     "NAME      ID     STATE    STATUS  SERVICES\n"
                     "zero       0        UP   enabled  [ d ]\n"
                     "z\xc3\xbcrich    3            DISABLED  [ ]\n"
                     "\n"
                     "SERVICES:\n"
                     "NAME NODE     STATE    STATUS  POOLS\n"
                     "     -            DISABLED  [ ]\n"
                     "a    7            DISABLED  [ ]\n"
                     "b    -             enabled  [ ]\n"
                     "c    -         S  DISABLED  [ ]\n"
                     "d    -            DISABLED  [ q(X) ]\n",
                     "",
                     0}});
}

// Node ids sort numerically, service names byte-wise; pools may come as an
// object (its member values) or as a single value (one item).
TEST(ClusterStatus, OrderingAndPoolShapes) {
  const std::string nodes = R"({"response": [
    {"id": 10, "nodename": "ten", "state": "ONLINE", "enabled": true},
    {"id": 2, "nodename": "two", "state": "ONLINE", "enabled": "true"}]})";
  const std::string services = R"({"response": [
    {"name": "apple", "run_node": 10, "state": "RUN", "enabled": true, "pools": {"x": {"name": "px", "state": "OK"}}},
    {"name": "Zed", "run_node": 2, "state": "RUN", "enabled": 1, "pools": "single"},
    {"name": "Mid", "run_node": 1023, "state": "RUN", "enabled": false}]})";
  run_status_cases({{"ordering",
                     {"cluster", "status"},
                     {{nodes}, {services}},
                     "NODES:\n"
                     "NAME   ID     STATE    STATUS  SERVICES\n"
                     "two    2    ONLINE   enabled  [ Zed ]\n"
                     "ten   10    ONLINE   enabled  [ apple ]\n"
                     "\n"
                     "SERVICES:\n"
                     "NAME  NODE     STATE    STATUS  POOLS\n"
                     "Mid   1023       RUN  DISABLED  [ ]\n"
                     "Zed      2       RUN   enabled  [ () ]\n"
                     "apple   10       RUN   enabled  [ px(OK) ]\n",
                     "",
                     0}});
}

TEST(ClusterStatus, OddRecordsInTheDocument) {
  auto node = [](const std::string& enabled, const std::string& id, const std::string& name,
                 const std::string& state) {
    return "      {\n        \"enabled\": " + enabled + ",\n        \"id\": " + id +
           ",\n        \"name\": " + name + ",\n        \"state\": " + state + "\n      }";
  };
  auto service = [](const std::string& enabled, const std::string& name, const std::string& node_id,
                    const std::string& state) {
    return "      {\n        \"enabled\": " + enabled + ",\n        \"name\": " + name +
           ",\n        \"nodeId\": " + node_id + ",\n        \"state\": " + state + "\n      }";
  };
  const std::string expected = document(
      "    \"nodes\": [\n" + node("null", "3", "\"z\xc3\xbcrich\"", "null") + ",\n" +
      node("true", "3", "\"dup\"", "\"ONLINE\"") + ",\n" + node("null", "-4", "\"neg\"", "null") + ",\n" +
      node("1", "0", "\"zero\"", "\"UP\"") + "\n    ],\n    \"services\": [\n" +
      service("\"\"", "\"a\"", "7", "\"\"") + ",\n" + service("true", "\"b\"", "-1", "\"\"") + ",\n" +
      service("\"\"", "\"c\"", "2000", "\"S\"") + ",\n" + service("\"\"", "\"d\"", "0", "\"\"") + ",\n" +
      service("\"\"", "\"d\"", "5", "\"\"") + ",\n" + service("\"\"", "\"\"", "-1", "\"\"") + "\n    ]");
  run_status_cases(
      {{"odd records", {"cluster", "status", "-o", "json"}, {{odd_nodes}, {odd_services}}, expected, "", 0}});
}

// An exception ends the command where it happens: after the first request
// nothing more is sent, and no table or document is printed.
TEST(ClusterStatus, ExceptionsEndTheCommand) {
  const std::string two_values = R"({"response": []} {})";
  run_exchange_cases({
      {{"cluster", "status"},
       {{"not json"}, {services_reply}},
       {node_status_request},
       "",
       "Exception: " + json_parse_error("not json") + "\n",
       11},
      {{"cluster", "status", "-o", "json"},
       {{nodes_reply}, {two_values}},
       status_requests,
       "",
       "Exception: " + json_parse_error(two_values) + "\n",
       11},
  });
}

TEST(ClusterExit, SendsOneRequestAndPrintsNothing) {
  struct Case {
    std::string reply;
    std::string err;
    int status;
  };
  const std::vector<Case> cases = {
      {R"({"response": {"message": "cluster is going down"}})", "", 0},
      {"{}", "", 0},
      {R"({"error": 7, "errorMessage": "services still moving"})", "Error: services still moving\n", 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    expect_exchange({{"cluster", "exit"}, {{c.reply}}, {cluster_exit_request}, "", c.err, c.status});
  }
}

}  // namespace
}  // namespace tarnex::testing
