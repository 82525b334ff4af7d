// Every action of the node system: the request on the wire, the table, the
// single-node line, messages and the not-found error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string nodes_reply = R"({"response": [
  {"id": 2, "nodename": "bravo-2", "enabled": false},
  {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true}]})";
const std::string node_table =
    "NAME      ID     STATE    STATUS  \n"
    "alpha      1    ONLINE   enabled\n"
    "bravo-2    2            DISABLED\n";

using Case = ExchangeCase;

void run_cases(const std::vector<Case>& cases) {
  run_exchange_cases(cases);
}

TEST(NodeCommands, ListingsWithoutAReference) {
  run_cases({
      {{"node", "list"}, {{nodes_reply}}, {node_status_request}, node_table, "", 0},
      {{"node"}, {{nodes_reply}}, {node_status_request}, node_table, "", 0},
      {{"node", "status"}, {{nodes_reply}}, {node_status_request}, node_table, "", 0},
      {{"node", "info"}, {{nodes_reply}}, {node_status_request}, node_table, "", 0},
      {{"node", "list", "-o", "json"}, {{nodes_reply}}, {node_status_request}, node_table, "", 0},
      {{"node", "list", "extra", "words"}, {{nodes_reply}}, {node_status_request}, node_table, "", 0},
      {{"node", "list"}, {{R"({"response": []})"}}, {node_status_request}, "", "", 0},
      {{"node", "list"},
       {{R"({"response": {"message": "no nodes yet"}})"}},
       {node_status_request},
       "no nodes yet\n",
       "",
       0},
      {{"node", "list"},
       {{R"({"error": 3, "errorMessage": "not the leader"})"}},
       {node_status_request},
       "",
       "Error: not the leader\n",
       11},
  });
}

// A reference of digits only travels as an integer, anything else as a
// string; the first -n/--id/--node wins; --force is added for exit only.
TEST(NodeCommands, RequestsOnTheWire) {
  const std::vector<Reply> done = {{R"({"response": {"message": "done"}})"}};
  auto request = [](const std::string& cmd, const std::string& tail) {
    return R"({"call":"node","cmd":")" + cmd + R"(",)" + tail + "}";
  };
  run_cases({
      {{"node", "status", "--id=17"}, done, {request("status", R"("id":17)")}, "done\n", "", 0},
      {{"node", "status", "-n", "node-a"}, done, {request("status", R"("id":"node-a")")}, "done\n", "", 0},
      {{"node", "info", "--node=007"}, done, {request("status", R"("id":7)")}, "done\n", "", 0},
      {{"node", "status", "--id=-1"}, done, {request("status", R"("id":"-1")")}, "done\n", "", 0},
      {{"node", "status", "--id=+5"}, done, {request("status", R"("id":"+5")")}, "done\n", "", 0},
      {{"node", "status", "--id= 5"}, done, {request("status", R"("id":" 5")")}, "done\n", "", 0},
      {{"node", "status", "--id="}, done, {request("status", R"("id":"")")}, "done\n", "", 0},
      {{"node", "status", "--id=9223372036854775807"},
       done,
       {request("status", R"("id":9223372036854775807)")},
       "done\n",
       "",
       0},
      {{"node", "status", "--id=", "--id=5"}, done, {request("status", R"("id":"")")}, "done\n", "", 0},
      {{"node", "status", "-n", "3", "--id", "5", "--node=6"},
       done,
       {request("status", R"("id":3)")},
       "done\n",
       "",
       0},
      {{"node", "status", "--id=z\xc3\xbcrich"},
       done,
       {request("status", "\"id\":\"z\xc3\xbcrich\"")},
       "done\n",
       "",
       0},
      {{"node", "enable", "--id=2"}, done, {request("enable", R"("id":2)")}, "done\n", "", 0},
      {{"node", "disable", "--id=alpha"}, done, {request("disable", R"("id":"alpha")")}, "done\n", "", 0},
      {{"--id=2", "node", "break"}, done, {request("break", R"("id":2)")}, "done\n", "", 0},
      {{"node", "exit", "--id=3"}, done, {request("exit", R"("id":3)")}, "done\n", "", 0},
      {{"node", "exit", "--id=3", "--force"},
       done,
       {request("exit", R"("force":true,"id":3)")},
       "done\n",
       "",
       0},
      {{"-f", "node", "exit", "-n", "node1"},
       done,
       {request("exit", R"("force":true,"id":"node1")")},
       "done\n",
       "",
       0},
  });
}

const std::string lookup_reply = R"({"response": [
  {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true},
  {"id": 7, "nodename": "bravo-2", "enabled": false},
  {"nodename": "ghost", "state": "LOST", "enabled": true},
  {"id": "abc", "nodename": "strid", "state": "X"},
  {"id": -1, "nodename": "minus"},
  {"id": "12abc", "nodename": "partial", "enabled": "TRUE"}]})";

// One line per found node, the name never padded; an id that cannot be read
// shows "-" in its column, every readable one its unsigned decimal form.
TEST(NodeCommands, OneNodeByReference) {
  auto status = [](const std::string& id) { return R"({"call":"node","cmd":"status","id":)" + id + "}"; };
  const std::vector<Reply> reply = {{lookup_reply}};
  run_cases({
      {{"node", "status", "--id=1"}, reply, {status("1")}, "alpha    1    ONLINE   enabled\n", "", 0},
      {{"node", "info", "--id=alpha"},
       reply,
       {status(R"("alpha")")},
       "alpha    1    ONLINE   enabled\n",
       "",
       0},
      {{"node", "info", "--id=007"}, reply, {status("7")}, "bravo-2    7            DISABLED\n", "", 0},
      {{"node", "status", "--id=ghost"},
       reply,
       {status(R"("ghost")")},
       "ghost    -      LOST   enabled\n",
       "",
       0},
      {{"node", "status", "--id=strid"},
       reply,
       {status(R"("strid")")},
       "strid    -         X  DISABLED\n",
       "",
       0},
      {{"node", "status", "--id=abc"},
       reply,
       {status(R"("abc")")},
       "strid    -         X  DISABLED\n",
       "",
       0},
      {{"node", "status", "--id=minus"},
       reply,
       {status(R"("minus")")},
       "minus 18446744073709551615            DISABLED\n",
       "",
       0},
      {{"node", "status", "--id=partial"},
       reply,
       {status(R"("partial")")},
       "partial   12             enabled\n",
       "",
       0},
      {{"node", "status", "--id=-1"},
       reply,
       {status(R"("-1")")},
       "minus 18446744073709551615            DISABLED\n",
       "",
       0},
      // The empty reference finds the first record without a readable id text.
      {{"node", "status", "--id="}, reply, {status(R"("")")}, "ghost    -      LOST   enabled\n", "", 0},
      {{"node", "status", "--id=008"}, reply, {status("8")}, "", "Error: node can not be found: 008\n", 11},
      {{"node", "status", "--id=ALPHA"},
       reply,
       {status(R"("ALPHA")")},
       "",
       "Error: node can not be found: ALPHA\n",
       11},
      {{"node", "status", "--id=3"},
       {{R"({"response": []})"}},
       {status("3")},
       "",
       "Error: node can not be found: 3\n",
       11},
  });
}

// Actions print the daemon's message; a node list in the reply is searched
// for the node instead, and only its absence is an error.
TEST(NodeCommands, ActionReplies) {
  const std::string disable = R"({"call":"node","cmd":"disable","id":2})";
  const std::string exit = R"({"call":"node","cmd":"exit","force":true,"id":2})";
  run_cases({
      {{"node", "disable", "--id=2"},
       {{R"({"response": {"message": "node 2 disabled"}})"}},
       {disable},
       "node 2 disabled\n",
       "",
       0},
      {{"node", "disable", "--id=2"},
       {{R"({"response": {"message": "100% done %s %n"}})"}},
       {disable},
       "100% done %s %n\n",
       "",
       0},
      {{"node", "disable", "--id=2"}, {{R"({"response": {"message": 42}})"}}, {disable}, "42\n", "", 0},
      {{"node", "disable", "--id=2"},
       {{R"({"response": {"message": {"text": "x"}}})"}},
       {disable},
       "\n",
       "",
       0},
      {{"node", "disable", "--id=2"}, {{R"({"response": {"message": null}})"}}, {disable}, "\n", "", 0},
      {{"node", "disable", "--id=2"}, {{R"({"response": {"result": "ok"}})"}}, {disable}, "", "", 0},
      {{"node", "disable", "--id=2"}, {{"{}"}}, {disable}, "", "", 0},
      {{"node", "disable", "--id=2"}, {{R"({"response": "queued"})"}}, {disable}, "", "", 0},
      {{"node", "disable", "--id=2"}, {{R"(["queued"])"}}, {disable}, "", "", 0},
      {{"node", "disable", "--id=2"}, {{nodes_reply}}, {disable}, "", "", 0},
      {{"node", "disable", "--id=2"},
       {{R"({"response": [{"id": 1, "nodename": "alpha"}]})"}},
       {disable},
       "",
       "Error: node can not be found: 2\n",
       11},
      {{"node", "exit", "--id=2", "--force"},
       {{R"({"error": 9, "errorMessage": "pool p1 would lose redundancy"})"}},
       {exit},
       "",
       "Error: pool p1 would lose redundancy\n",
       11},
      {{"node", "exit", "--id=2", "--force"},
       {{R"({"error": 9, "errorMessage": "refused", "response": {"message": "not shown"}})"}},
       {exit},
       "",
       "Error: refused\n",
       11},
  });
}

// References that cannot be sent end as exceptions before anything leaves.
TEST(NodeCommands, ReferencesThatCannotBeSent) {
  Responder daemon;
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  for (const char* reference : {"9223372036854775808", "99999999999999999999999"}) {
    SCOPED_TRACE(reference);
    expect_exception_line(box.run({"node", "status", std::string("--id=") + reference}));
  }
  expect_run(box.run({"node", "disable", "--id=\xff"}), "",
             "Exception: " + json_dump_error("node", "disable", "id", "\xff") + "\n", 11);
  EXPECT_TRUE(daemon.requests().empty());
}

}  // namespace
}  // namespace tarnex::testing
