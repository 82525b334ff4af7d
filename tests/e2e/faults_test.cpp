// The client against a daemon that answers with junk, and against
// configuration files that are not what a person would write: the right
// message and status, no crash, and no waiting.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "daemon/transport.hpp"
#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string missing_endpoint = "Error: mgmt-url is not configured\n";
const std::string nested_too_deep = "Exception: reply nested deeper than 512 levels\n";

std::string nested(std::size_t depth, const std::string& inner = "") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

struct ConfigCase {
  std::string what;
  std::string expected_err;  // the path of the configuration replaces @
  bool prefix_only = false;
};

std::string with_path(std::string text, const std::string& path) {
  const std::string::size_type at = text.find('@');
  if (at != std::string::npos) text.replace(at, 1, path);
  return text;
}

// Replies that are not one well-formed JSON value end the command as an
// exception with the JSON library's own text.
TEST(FaultMatrix, MalformedReplies) {
  using namespace std::string_literals;
  const std::vector<std::string> replies = {
      "",
      R"({"response": []} garbage)",
      R"({"response": []}})",
      "{\"response\": {\"message\": \"caf\xe9\"}}",
      "{\"response\": {\"message\": \"\xff\xfe\"}}",
      "{\"\xc0\xaf\": 1}",
      "{\"response\": {\"message\": \"a\0b\"}}"s,
      "{\"response\":\0 {}}"s,
      "\0"s,
  };
  for (const std::string& reply : replies) {
    SCOPED_TRACE(nlohmann::json(reply).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace));
    Responder daemon({{reply}});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    expect_run(box.run({"node", "disable", "--id=2"}), "", "Exception: " + json_parse_error(reply) + "\n",
               11);
  }
}

// Nesting beyond the limit is refused before anything walks the value; up to
// the limit every output path copes, the JSON document included (it copies
// node members unchanged and serialises them).
TEST(FaultMatrix, DeeplyNestedReplies) {
  const std::string million = R"({"response": [{"id": 1, "nodename": )" + nested(1000000) + "}]}";
  const std::vector<std::vector<std::string>> commands = {
      {"cluster", "status", "--output=json"},
      {"cluster", "status"},
      {"node", "list"},
      {"node", "status", "--id=1"},
      {"service", "stop", "-s", "db"},
      {"service", "move", "-s", "db", "-n", "1"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0] + " " + command[1]);
    Responder daemon({{million}, {million}});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    expect_run(box.run(command), "", nested_too_deep, 11);
  }

  // The deepest reply accepted: object, "response", record and 509 arrays.
  const std::string deepest =
      R"({"response": [{"id": 1, "nodename": "alpha", "state": )" + nested(509, "7") + "}]}";
  Responder daemon({{deepest}, {R"({"response": []})"}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  const RunResult result = box.run({"cluster", "status", "-o", "json"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const nlohmann::json document = nlohmann::json::parse(result.out);
  EXPECT_EQ(document["cluster"]["nodes"][0]["state"], nlohmann::json::parse(nested(509, "7")));

  Responder one_more(
      {{R"({"response": [{"id": 1, "nodename": "alpha", "state": )" + nested(510, "7") + "}]}"}});
  Sandbox other;
  other.use_endpoint(one_more.endpoint());
  expect_run(other.run({"node", "list"}), "", nested_too_deep, 11);
}

// A reply of the largest size taken is shown whole; one byte more is refused
// by its size, at once, and a change gets no word about its outcome (the
// daemon answered).
TEST(FaultMatrix, ReplyAtTheBoundAndOneByteOver) {
  const std::string wrapper = R"({"response": {"message": ""}})";
  const std::string message(max_reply_bytes - wrapper.size(), 'm');
  const std::string reply = R"({"response": {"message": ")" + message + R"("}})";
  ASSERT_EQ(reply.size(), max_reply_bytes);
  Responder daemon({{reply}, {reply + " "}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  const RunResult result = box.run({"node", "disable", "--id=2"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out.size(), message.size() + 1);
  EXPECT_EQ(result.out, message + "\n");
  expect_run(box.run({"node", "disable", "--id=2"}), "", "Error: the daemon's reply is larger than 32 MiB\n",
             11);
}

// Each file is refused with the loader's message; the run ends before any
// request, with status 1, and never waits. (A file the user may not read is
// a case for a process run as nobody.)
TEST(FaultMatrix, ConfigurationFilesThatCannotBeUsed) {
  const std::string cannot_open = "ruxd:config: cannot open config file: @\n" + missing_endpoint;
  const std::vector<ConfigCase> cases = {
      {"directory", cannot_open},
      {"fifo", cannot_open},
      {"empty", "ruxd:config: [json.exception.parse_error.101] parse error at line 1, column 1: ", true},
      {"deeply nested", "ruxd:config: config file nested deeper than 512 levels\n" + missing_endpoint},
      {"64 MiB of opening brackets",
       "ruxd:config: config file nested deeper than 512 levels\n" + missing_endpoint},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    const std::string path = box.config_path.string();
    if (c.what == "directory") {
      std::filesystem::create_directory(path);
    } else if (c.what == "fifo") {
      ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    } else if (c.what == "empty") {
      box.write("ruxd.json", "");
    } else if (c.what == "deeply nested") {
      box.write("ruxd.json",
                R"({"cluster": {"mgmt-url": "tcp://127.0.0.1:1"}, "x": )" + nested(1000000) + "}");
    } else {
      box.write("ruxd.json", std::string(64U << 20, '['));
    }
    const RunResult result = box.run({"cluster", "exit"});
    EXPECT_EQ(result.out, "");
    const std::string expected = with_path(c.expected_err, path);
    if (c.prefix_only) {
      EXPECT_EQ(result.err.rfind(expected, 0), 0U) << result.err;
      EXPECT_EQ(result.err.substr(result.err.size() - missing_endpoint.size()), missing_endpoint);
    } else {
      EXPECT_EQ(result.err, expected);
    }
    EXPECT_EQ(result.exit_status, 1);
  }
}

// A large configuration is still just a configuration.
TEST(FaultMatrix, SixtyFourMebibyteConfiguration) {
  Responder daemon({{"{}"}});
  Sandbox box;
  box.write("ruxd.json", R"({"padding": ")" + std::string(64U << 20, 'p') + R"(", "cluster": {"mgmt-url": )" +
                             json_quote(daemon.endpoint()) + "}}" + std::string(1000, ' '));
  const RunResult result = box.run({"cluster", "exit"});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{cluster_exit_request});
}

}  // namespace
}  // namespace tarnex::testing
