// Help, version, bad options and the dispatcher's refusals: everything the
// client answers before (or instead of) talking to the daemon.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"
#include "usage_texts.hpp"

namespace tarnex::testing {
namespace {

// The version line of a program started under `app`: the version it declares.
std::string version_line(const std::string& app = "tarnex-viravi") {
  return app + " version: " + version_string + "\n";
}

struct TextCase {
  std::vector<std::string> args;
  std::string out;
  int status;
};

// Help and version never read a file: the settings file names a daemon
// configuration that does not exist, so any attempt to load it would show
// on standard error.
TEST(HelpAndVersion, AnswerWithoutReadingTheConfiguration) {
  const std::vector<TextCase> cases = {
      {{"-h"}, top_usage(), 0},
      {{"--help"}, top_usage(), 0},
      {{"cluster", "-h"}, cluster_usage(), 0},
      {{"node", "--help"}, node_usage(), 0},
      {{"service", "-h"}, service_usage(), 0},
      {{"-h", "service"}, service_usage(), 0},
      {{"service", "start", "--name=x", "-h"}, service_usage(), 0},
      {{"Node", "-h"}, top_usage(), 0},
      {{"storage", "-h"}, top_usage(), 0},
      {{"", "-h"}, top_usage(), 0},
      {{"-v"}, version_line(), 0},
      {{"--version"}, version_line(), 0},
      {{"node", "list", "-v"}, version_line(), 0},
      // The last of help and version decides.
      {{"-h", "-v"}, version_line(), 0},
      {{"-v", "-h"}, top_usage(), 0},
      {{"node", "-v", "--help"}, node_usage(), 0},
      {{"--help", "--version", "cluster"}, version_line(), 0},
  };
  Sandbox box;
  for (const TextCase& c : cases) {
    SCOPED_TRACE(joined(c.args));
    expect_run(box.run(c.args), c.out, "", c.status);
  }
}

// A bad option prints the parser's diagnostic on standard error and the
// usage of the system typed; the last of help, version and bad option
// decides both the text and the status.
TEST(BadOptions, UsageOnStdoutAndStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string mentions;  // what the diagnostic must name
  };
  const std::vector<Case> cases = {
      {{"-x"}, top_usage(), 1, "x"},
      {{"--bogus"}, top_usage(), 1, "bogus"},
      {{"node", "list", "--bogus"}, node_usage(), 1, "bogus"},
      {{"service", "-n"}, service_usage(), 1, "n"},
      {{"cluster", "status", "--output"}, cluster_usage(), 1, "output"},
      {{"--help=yes"}, top_usage(), 1, "help"},
      {{"-x", "-h"}, top_usage(), 0, "x"},
      {{"-h", "-x"}, top_usage(), 1, "x"},
      {{"-v", "-x"}, top_usage(), 1, "x"},
      {{"-x", "-v"}, version_line(), 0, "x"},
  };
  Sandbox box;
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.args));
    RunResult result = box.run(c.args);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_NE(result.err.find(c.mentions), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("ruxd:config"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("mgmt-url"), std::string::npos) << result.err;
  }
}

// The texts and the version line carry the name the program was started
// under, whatever its path.
TEST(ProgramName, TakenFromTheLastPathComponent) {
  Sandbox renamed("mytool");
  expect_run(renamed.run({"-h"}), top_usage("mytool"), "", 0);
  expect_run(renamed.run({"node", "-h"}), node_usage("mytool"), "", 0);
  expect_run(renamed.run({"-v"}), version_line("mytool"), "", 0);

  Sandbox box;
  RunOptions absolute;
  absolute.argv0 = box.program.string();
  expect_run(box.run({"-v"}, absolute), version_line(), "", 0);
  expect_run(box.run({"cluster", "-h"}, absolute), cluster_usage(), "", 0);
}

// A name that itself holds the placeholder is inserted once, not expanded
// again; an empty name simply disappears from every line.
TEST(ProgramName, PlaceholderInTheNameAndEmptyName) {
  Sandbox odd("a%APP%b");
  expect_run(odd.run({"-h"}), top_usage("a%APP%b"), "", 0);
  expect_run(odd.run({"-v"}), version_line("a%APP%b"), "", 0);

  Sandbox box;
  RunOptions empty_name;
  empty_name.argv0 = "";
  expect_run(box.run({"-h"}, empty_name), top_usage(""), "", 0);
  expect_run(box.run({"service", "-h"}, empty_name), service_usage(""), "", 0);
  expect_run(box.run({"-v"}, empty_name), version_line(""), "", 0);
}

// Every refusal of the dispatcher: usage of the system as typed on standard
// output, status 12, and nothing sent to the daemon.
TEST(Dispatch, RefusalsPrintUsageAndReturnTwelve) {
  const std::string force_error = "Error: --force is only valid for 'node exit'\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      // --force belongs to node exit only, tested before the system look-up.
      {{"--force"}, top_usage(), force_error},
      {{"cluster", "exit", "--force"}, cluster_usage(), force_error},
      {{"cluster", "status", "-f"}, cluster_usage(), force_error},
      {{"node", "disable", "--id=1", "--force"}, node_usage(), force_error},
      {{"node", "list", "-f"}, node_usage(), force_error},
      {{"service", "stop", "--name=db", "-f"}, service_usage(), force_error},
      {{"storage", "list", "--force"}, top_usage(), force_error},
      {{"", "exit", "--id=3", "--force"}, top_usage(), force_error},
      // System words not in the table, case-sensitive.
      {{"storage", "list"}, top_usage(), ""},
      {{"Cluster", "status"}, top_usage(), ""},
      {{"nodes"}, top_usage(), ""},
      {{"--", "-h"}, top_usage(), ""},
      // An explicitly empty system word is refused, never taken as "cluster".
      {{"", "exit", "--id=3"}, top_usage(), ""},
      {{"", "exit"}, top_usage(), ""},
      {{""}, top_usage(), ""},
      // Cluster actions.
      {{"cluster", "restart"}, cluster_usage(), ""},
      {{"cluster", "Status"}, cluster_usage(), ""},
      {{"cluster", "list"}, cluster_usage(), ""},
      // Node actions against the presence of a node reference.
      {{"node", "list", "--id=2"}, node_usage(), ""},
      {{"node", "enable"}, node_usage(), ""},
      {{"node", "disable"}, node_usage(), ""},
      {{"node", "break"}, node_usage(), ""},
      {{"node", "exit"}, node_usage(), ""},
      {{"node", "exit", "--force"}, node_usage(), ""},
      {{"node", "restart", "--id=1"}, node_usage(), ""},
      {{"node", "restart"}, node_usage(), ""},
      // Service actions against service name and node reference.
      {{"service", "move", "--name=db"}, service_usage(), ""},
      {{"service", "move", "--name=db", "--node="}, service_usage(), ""},
      {{"service", "move", "--node=2"}, service_usage(), ""},
      {{"service", "help", "--name=db"}, service_usage(), ""},
      {{"service", "list", "--name=db"}, service_usage(), ""},
      {{"service", "restart", "--name=db"}, service_usage(), ""},
      {{"service", "start"}, service_usage(), ""},
      {{"service", "start", "--node=1"}, service_usage(), ""},
      {{"service", "stop"}, service_usage(), ""},
      {{"service", "enable"}, service_usage(), ""},
      {{"service", "disable"}, service_usage(), ""},
      {{"service", "break"}, service_usage(), ""},
      {{"service", "restart"}, service_usage(), ""},
  };
  Responder daemon;
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.args));
    expect_run(box.run(c.args), c.out, c.err, 12);
  }
  EXPECT_TRUE(daemon.requests().empty());
}

}  // namespace
}  // namespace tarnex::testing
