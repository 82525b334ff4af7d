// The request exchange as seen from outside: the error test on replies,
// local error replies, replies that are not one JSON value, and the dots
// shown while the daemon is slow.
#include <gtest/gtest.h>
#include <zmq.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

// Any top-level "error" member, whatever its value, fails the request; its
// message is read tolerantly and printed as text, never as a format.
TEST(Exchange, TheErrorMemberDecides) {
  struct Case {
    std::string reply;
    std::string err;
    int status;
  };
  const std::vector<Case> cases = {
      {R"({"error": null, "errorMessage": "quorum lost"})", "Error: quorum lost\n", 11},
      {R"({"error": false, "errorMessage": "quorum lost"})", "Error: quorum lost\n", 11},
      {R"({"error": 1})", "Error: \n", 11},
      {R"({"error": 1, "errorMessage": 42})", "Error: 42\n", 11},
      {R"({"error": 1, "errorMessage": 2.5})", "Error: 2.500000\n", 11},
      {R"({"error": 1, "errorMessage": true})", "Error: \n", 11},
      {R"({"error": 1, "errorMessage": "%s%n%d"})", "Error: %s%n%d\n", 11},
      {R"({"errorMessage": "not a failure"})", "", 0},
      {R"({"response": {"error": 1, "errorMessage": "nested"}})", "", 0},
      {"[1, 2]", "", 0},
      {" \n {} \n ", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    expect_exchange({{"cluster", "exit"}, {{c.reply}}, {cluster_exit_request}, "", c.err, c.status});
  }
}

// A reply must be exactly one JSON value: anything else ends the command as
// an exception carrying the JSON library's text.
TEST(Exchange, RepliesThatAreNotOneJsonValue) {
  const std::vector<std::string> replies = {
      "hello",
      "",
      R"({"response": []} extra)",
      R"({"response": []} {})",
      R"({"response": []} // note)",
      "/* note */ {}",
      R"({"response": [)",
  };
  for (const std::string& reply : replies) {
    SCOPED_TRACE(reply);
    expect_exchange({{"node", "list"},
                     {{reply}},
                     {node_status_request},
                     "",
                     "Exception: " + json_parse_error(reply) + "\n",
                     11});
  }
}

// The reply is taken with its full size, NUL bytes included, and must be one
// JSON value with nothing but whitespace after it. The JSON library stops
// reading at a NUL byte, so whatever follows one must be caught before the
// reply counts as valid.
TEST(Exchange, TextAfterANulByteIsTrailingGarbage) {
  const std::string reply = std::string(R"({"response": [{"id": 1, "nodename": "alpha"}]})") + '\0' + "junk";
  Responder daemon({{reply}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  RunResult result = box.run({"node", "list"});
  EXPECT_EQ(result.err.rfind("Exception: ", 0), 0U)
      << "a reply with bytes after a NUL was accepted as one JSON value; stdout was:\n"
      << result.out;
  EXPECT_EQ(result.exit_status, 11);
}

// An endpoint ZeroMQ cannot connect to becomes a local error reply: the
// "Error: ZMQ: ..." line, status 11, and no dots since nothing waits.
TEST(Exchange, EndpointsThatCannotBeUsed) {
  struct Case {
    std::string url;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"foo", zmq_strerror(EINVAL)},
      {"127.0.0.1:5555", zmq_strerror(EINVAL)},
      {"bogus://127.0.0.1:5555", zmq_strerror(EPROTONOSUPPORT)},
  };
  Sandbox box;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const std::string line = "Error: ZMQ: " + c.reason + "\n";
    box.write("ruxd.json", daemon_config_with_url(json_quote(c.url)));
    expect_run(box.run({"cluster", "exit"}), "", line, 11);
    expect_run(box.run({"node", "disable", "--id=2"}), "", line, 11);
    expect_run(box.run({"service", "stop", "--name=db"}), "", line, 11);
    expect_run(box.run({"service", "move", "--name=db", "--node=2"}), "", line, 11);
    expect_run(box.run({"cluster", "status"}), "", line + line, 11);
    expect_run(box.run({"cluster", "status", "-o", "json"}), "null\n", line + line, 11);
  }
}

// A reply held past one 2-second wait shows one dot, then a newline before
// the command's own output. (Held 3 s: one second clear of either edge.)
constexpr std::chrono::milliseconds held{3000};

TEST(SlowDaemon, DotThenNewlineOnStandardOutput) {
  expect_exchange({{"cluster", "exit"}, {{"{}", held}}, {cluster_exit_request}, ".\n", "", 0});
}

// Dots are counted per exchange: a slow second request of cluster status
// shows its own dot, before the tables.

TEST(SlowDaemon, SecondRequestOfClusterStatus) {
  expect_exchange(
      {{"cluster", "status"},
       {{R"({"response": [{"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true}]})"},
        {R"({"response": [{"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true}]})", held}},
       {node_status_request, pools_status_request},
       ".\n"
       "NODES:\n"
       "NAME    ID     STATE    STATUS  SERVICES\n"
       "alpha    1    ONLINE   enabled  [ db ]\n"
       "\n"
       "SERVICES:\n"
       "NAME NODE     STATE    STATUS  POOLS\n"
       "db    1    ONLINE   enabled  [ ]\n",
       "",
       0});
}

// With the JSON document on standard output, the dots and their newline go
// to standard error, so the document stays parseable.
TEST(SlowDaemon, JsonModeKeepsDotsOffStandardOutput) {
  expect_exchange(
      {{"cluster", "status", "--output=json"},
       {{R"({"response": [{"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true}]})", held},
        {R"({"response": []})"}},
       {node_status_request, pools_status_request},
       "{\n"
       "  \"cluster\": {\n"
       "    \"nodes\": [\n"
       "      {\n"
       "        \"enabled\": true,\n"
       "        \"id\": 1,\n"
       "        \"name\": \"alpha\",\n"
       "        \"state\": \"ONLINE\"\n"
       "      }\n"
       "    ]\n"
       "  }\n"
       "}\n",
       ".\n",
       0});
}

}  // namespace
}  // namespace tarnex::testing
