// Texts from outside are never format strings.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string conversions = "%s%n%x%p%d%%%5$s%*d%ls%";

std::string quoted(const std::string& text) {
  return json_quote(text);
}

const std::string nodes_reply =
    R"({"response": [{"id": 1, "nodename": )" + quoted("n" + conversions) + R"(, "state": )" +
    quoted(conversions) +
    R"(, "enabled": true}, {"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
const std::string services_reply =
    R"({"response": [{"name": )" + quoted(conversions) +
    R"(, "run_node": 1, "state": "ONLINE", "enabled": true, "pools": [{"name": )" + quoted(conversions) +
    R"(, "state": )" + quoted(conversions) + "}]}]}";

struct Case {
  std::string program;
  std::vector<std::string> args;
  std::vector<std::string> replies;
  std::string out;
  std::string err;
  int status;
};

TEST(Security, OutsideTextsPrintLiterally) {
  const std::string program = "tv" + conversions;
  const std::string hint =
      "Service " + conversions + " was stopped, but the start on node 2 did not complete.\n" +
      "Check the actual state: '" + program + "' service status --name='" + conversions + "'\n";
  const std::vector<Case> cases = {
      {"tv",
       {"node", "status", "--id=n" + conversions},
       {nodes_reply},
       "n" + conversions + "    1 " + conversions + "   enabled\n",
       "",
       0},
      {"tv",
       {"node", "status", "--id=x" + conversions},
       {nodes_reply},
       "",
       "Error: node can not be found: x" + conversions + "\n",
       11},
      {"tv",
       {"service", "status", "-s", conversions},
       {services_reply},
       conversions + "    1    ONLINE   enabled  [ " + conversions + "(" + conversions + ") ]\n",
       "",
       0},
      {"tv",
       {"service", "stop", "-s", conversions},
       {R"({"response": [{"error": 1, "errorMessage": )" + quoted(conversions) + "}]}"},
       "",
       "Error: " + conversions + ": " + conversions + "\n",
       11},
      {"tv",
       {"cluster", "exit"},
       {R"({"error": 1, "errorMessage": )" + quoted(conversions) + "}"},
       "",
       "Error: " + conversions + "\n",
       11},
      {"tv",
       {"node", "disable", "--id=2"},
       {R"({"response": {"message": )" + quoted(conversions) + "}}"},
       conversions + "\n",
       "",
       0},
      {"tv",
       {"service", "help"},
       {R"({"response": [)" + quoted(conversions) + "]}"},
       "COMMAND\n" + conversions + "\n",
       "",
       0},
      {program,
       {"service", "move", "-s", conversions, "-n", "bravo"},
       {nodes_reply, services_reply, R"({"response": {}})", R"({"error": 1, "errorMessage": "no"})"},
       "",
       "Error: no\n" + hint,
       11},
      {"tv",
       {"service", "move", "-s", "db", "-n", "n" + conversions},
       {nodes_reply},
       "",
       "Error: cannot run service on node n" + conversions + ": state is " + conversions + "\n",
       11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    Responder daemon(answers(c.replies));
    Sandbox box(c.program);
    box.use_endpoint(daemon.endpoint());
    expect_run(box.run(c.args), c.out, c.err, c.status);
  }

  // The usage text names the program as started; configuration findings
  // quote the names from the file.
  Sandbox box(program);
  const RunResult usage = box.run({"node", "--help"});
  EXPECT_NE(usage.out.find(program + " node"), std::string::npos) << usage.out;
  box.write("ruxd.json", R"({"services": [{"name": )" + quoted(conversions) + R"(}, {"name": )" +
                             quoted(conversions) + "}]}");
  expect_run(box.run({"cluster", "exit"}), "",
             "ruxd:config: negotiation error:\n  -- services[1]: duplicate service name \"" + conversions +
                 "\"\nError: mgmt-url is not configured\n",
             1);
}

}  // namespace
}  // namespace tarnex::testing
