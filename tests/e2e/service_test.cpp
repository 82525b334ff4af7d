// The single-request service actions: list, status, info, help, start,
// stop, enable, disable, break.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string service_status = R"({"call":"service","cmd":"status"})";

const std::string services_reply = R"({"response": [
  {"name": "web", "run_node": 1, "state": "ONLINE", "enabled": true},
  {"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true,
   "pools": [{"name": "p1", "state": "ONLINE"}, {"name": "p2", "state": "ONLINE"}]},
  {"name": "x", "enabled": false}]})";
const std::string service_table =
    "NAME NODE     STATE    STATUS  POOLS\n"
    "db     1    ONLINE   enabled  [ p1(ONLINE), p2(ONLINE) ]\n"
    "web    1    ONLINE   enabled  [ ]\n"
    "x      -            DISABLED  [ ]\n";

using Case = ExchangeCase;

void run_cases(const std::vector<Case>& cases) {
  run_exchange_cases(cases);
}

std::string request(const std::string& cmd, const std::string& tail) {
  return R"({"call":"service","cmd":")" + cmd + "\"" + (tail.empty() ? "" : ",") + tail + "}";
}

TEST(ServiceCommands, ListingsWithoutAName) {
  run_cases({
      {{"service", "list"}, {{services_reply}}, {service_status}, service_table, "", 0},
      {{"service"}, {{services_reply}}, {service_status}, service_table, "", 0},
      {{"service", "status"}, {{services_reply}}, {service_status}, service_table, "", 0},
      {{"service", "info", "--output=json"}, {{services_reply}}, {service_status}, service_table, "", 0},
      {{"service", "list"}, {{R"({"response": []})"}}, {service_status}, "", "", 0},
      {{"service", "list"},
       {{R"({"error": 1, "errorMessage": "no quorum"})"}},
       {service_status},
       "",
       "Error: no quorum\n",
       11},
  });
}

TEST(ServiceCommands, Help) {
  const std::string help = request("help", "");
  run_cases({
      {{"service", "help"},
       {{R"({"response": ["start", "stop", 7, null, "100%s"]})"}},
       {help},
       "COMMAND\nstart\nstop\n7\n\n100%s\n",
       "",
       0},
      {{"service", "help"}, {{R"({"response": []})"}}, {help}, "COMMAND\n", "", 0},
      {{"service", "help"},
       {{R"({"error": 1, "errorMessage": "unknown call"})"}},
       {help},
       "",
       "Error: unknown call\n",
       11},
  });
}

// With a name every record of the reply is shown, whatever its name: the
// name unpadded, the node as the daemon wrote it, then the pools.
TEST(ServiceCommands, NamedStatusShowsEveryRecord) {
  const std::string reply = R"({"response": [
    {"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true, "pools": [{"name": "p1", "state": "ONLINE"}]},
    {"name": "web", "run_node": "7", "state": "ONLINE", "enabled": "1"},
    {"name": "x", "enabled": false},
    {"name": "big", "run_node": 2000, "state": "S", "enabled": true,
     "pools": {"a": {"name": "pa", "state": "A"}, "b": {"name": "pb", "state": "B"}}},
    {"name": "nil", "run_node": 0, "pools": null}]})";
  const std::string lines =
      "db    1    ONLINE   enabled  [ p1(ONLINE) ]\n"
      "web    7    ONLINE   enabled  [ ]\n"
      "x    -            DISABLED  [ ]\n"
      "big 2000         S   enabled  [ pa(A), pb(B) ]\n"
      "nil    0            DISABLED  [ ]\n";
  run_cases({
      {{"service", "status", "--name=db"},
       {{reply}},
       {request("status", R"("serviceName":"db")")},
       lines,
       "",
       0},
      {{"service", "info", "-s", "db", "--node=2"},
       {{reply}},
       {request("status", R"("serviceName":"db")")},
       lines,
       "",
       0},
  });
}

// The first element reporting an error ends the walk; what came before it
// stays printed.
TEST(ServiceCommands, ErrorElements) {
  const std::string status_db = request("status", R"("serviceName":"db")");
  const std::string stop_db = request("stop", R"("serviceName":"db")");
  run_cases({
      {{"service", "status", "--name=db"},
       {{R"({"response": [{"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true},
          {"error": 1, "errorMessage": "not running", "name": "web"}, {"name": "x"}]})"}},
       {status_db},
       "db    1    ONLINE   enabled  [ ]\n",
       "Error: not running: web\n",
       11},
      {{"service", "status", "--name=db"},
       {{R"({"response": [{"error": false, "errorMessage": "gone"}]})"}},
       {status_db},
       "",
       "Error: gone: db\n",
       11},
      {{"service", "stop", "--name=db"},
       {{R"({"response": [{"error": null, "name": "db"}]})"}},
       {stop_db},
       "",
       "Error: : db\n",
       11},
      {{"service", "stop", "--name=db"},
       {{R"({"response": [{"name": "db", "state": "STOPPED"}]})"}},
       {stop_db},
       "",
       "",
       0},
  });
}

// Actions with a name print the daemon's message, read strictly: a message
// that is not a string is an exception, unlike in the node commands.
TEST(ServiceCommands, ActionsAndTheirMessages) {
  auto named = [](const std::string& cmd) { return request(cmd, R"("serviceName":"db")"); };
  const std::vector<Reply> stopped = {{R"({"response": {"message": "db stopped"}})"}};
  run_cases({
      {{"service", "stop", "--name=db"}, stopped, {named("stop")}, "db stopped\n", "", 0},
      {{"service", "stop", "--name=db", "--node=2"}, stopped, {named("stop")}, "db stopped\n", "", 0},
      {{"service", "enable", "--name=db"}, stopped, {named("enable")}, "db stopped\n", "", 0},
      {{"service", "disable", "--name=db"}, stopped, {named("disable")}, "db stopped\n", "", 0},
      {{"service", "break", "--name=db"}, stopped, {named("break")}, "db stopped\n", "", 0},
      {{"service", "stop", "--name=db"},
       {{R"({"response": {"message": "50% %s"}})"}},
       {named("stop")},
       "50% %s\n",
       "",
       0},
      {{"service", "stop", "--name=db"},
       {{R"({"response": {"message": 42}})"}},
       {named("stop")},
       "",
       "Exception: [json.exception.type_error.302] type must be string, but is number\n",
       11},
      {{"service", "stop", "--name=db"},
       {{R"({"response": {"message": null}})"}},
       {named("stop")},
       "",
       "Exception: [json.exception.type_error.302] type must be string, but is null\n",
       11},
      {{"service", "stop", "--name=db"}, {{R"({"response": {"result": "ok"}})"}}, {named("stop")}, "", "", 0},
      {{"service", "stop", "--name=db"}, {{R"({"response": "ok"})"}}, {named("stop")}, "", "", 0},
      {{"service", "stop", "--name=db"}, {{R"(["ok"])"}}, {named("stop")}, "", "", 0},
      {{"service", "stop", "--name=db"}, {{R"("ok")"}}, {named("stop")}, "", "", 0},
      {{"service", "disable", "--name=db"},
       {{R"({"error": 6, "errorMessage": "db is moving"})"}},
       {named("disable")},
       "",
       "Error: db is moving\n",
       11},
  });
}

TEST(ServiceCommands, StartRequests) {
  const std::vector<Reply> started = {{R"({"response": {"message": "db started"}})"}};
  run_cases({
      {{"service", "start", "--name=db", "--node=2"},
       started,
       {request("start", R"("nodeId":2,"serviceName":"db")")},
       "db started\n",
       "",
       0},
      {{"service", "start", "--name=db", "-n", "007"},
       started,
       {request("start", R"("nodeId":7,"serviceName":"db")")},
       "db started\n",
       "",
       0},
      {{"service", "start", "--name=db", "--node=beta"},
       started,
       {request("start", R"("nodeId":"beta","serviceName":"db")")},
       "db started\n",
       "",
       0},
      {{"service", "start", "--name=db", "--node="},
       started,
       {request("start", R"("nodeId":"","serviceName":"db")")},
       "db started\n",
       "",
       0},
      {{"service", "start", "--name=db"},
       started,
       {request("start", R"("serviceName":"db")")},
       "db started\n",
       "",
       0},
      {{"service", "start", "--name=db", "--node=2"},
       {{R"({"error": 5, "errorMessage": "node 2 offline"})"}},
       {request("start", R"("nodeId":2,"serviceName":"db")")},
       "",
       "Error: node 2 offline\n",
       11},
  });
}

// The name travels exactly as typed (escaped only as JSON requires, UTF-8
// unescaped); the first -s/--name wins.
TEST(ServiceCommands, NamesOnTheWire) {
  const std::vector<Reply> ok = {{R"({"response": {"message": "ok"}})"}};
  run_cases({
      {{"service", "stop", "--name= my db "},
       ok,
       {request("stop", R"("serviceName":" my db ")")},
       "ok\n",
       "",
       0},
      {{"service", "stop", "--name=a\"b\\c"},
       ok,
       {request("stop", R"("serviceName":"a\"b\\c")")},
       "ok\n",
       "",
       0},
      {{"service", "stop", "--name=zpool_\xc3\xbc"},
       ok,
       {request("stop", "\"serviceName\":\"zpool_\xc3\xbc\"")},
       "ok\n",
       "",
       0},
      {{"service", "stop", "--name", "a", "-s", "b"},
       ok,
       {request("stop", R"("serviceName":"a")")},
       "ok\n",
       "",
       0},
      {{"service", "stop", "--name="}, ok, {request("stop", R"("serviceName":"")")}, "ok\n", "", 0},
  });
}

TEST(ServiceCommands, RequestsThatCannotBeSent) {
  Responder daemon;
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  expect_run(box.run({"service", "status", "--name=\xff"}), "",
             "Exception: " + json_dump_error("service", "status", "serviceName", "\xff") + "\n", 11);
  expect_exception_line(box.run({"service", "start", "--name=db", "--node=99999999999999999999"}));
  EXPECT_TRUE(daemon.requests().empty());
}

}  // namespace
}  // namespace tarnex::testing
