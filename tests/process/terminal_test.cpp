// The started program finds out by itself whether its standard output and
// standard error are terminals: on pseudo-terminals it neutralises daemon
// texts and names a refused command line; into pipes the same runs give the
// bytes they always gave.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/usage_texts.hpp"
#include "support/process.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

std::string json_document(const std::string& name) {
  return "{\n  \"cluster\": {\n    \"nodes\": [\n      {\n        \"enabled\": true,\n        \"id\": 1,\n"
         "        \"name\": \"" +
         name + "\",\n        \"state\": \"UP\"\n      }\n    ]\n  }\n}\n";
}

TEST(Terminal, WhatThePseudoTerminalGetsAndThePipeDoesNot) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> replies;
    std::string piped_out, piped_err, terminal_out, terminal_err;
    int status;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {{"node", "list"}, {R"({"response": [{"id": 1, "nodename": "a\u001b[2J", "state": "UP", "enabled": true}]})"},
       "NAME    ID     STATE    STATUS  \na\x1b[2J    1        UP   enabled\n", "",
       "NAME       ID     STATE    STATUS  \na\\x1b[2J    1        UP   enabled\n", "", 0},
      {{"node", "enable", "--id=1"}, {R"({"error": 1, "errorMessage": "\u001b]0;PWNED\u0007\u009b2J"})"},
       "", "Error: \x1b]0;PWNED\x07\xc2\x9b\x32J\n", "", "Error: \\x1b]0;PWNED\\x07\\xc2\\x9b2J\n", 11},
      {{"node", "dsable", "-n", "1"}, {},
       node_usage(), "", node_usage(), "Error: unknown action 'dsable' for node; did you mean 'disable'?\n", 12},
      // The document keeps its value at a terminal, without raw controls.
      {{"cluster", "status", "-o", "json"},
       {R"({"response": [{"id": 1, "nodename": "a\u009b\u007f\u001b", "state": "UP", "enabled": true}]})",
        R"({"response": []})"},
       json_document("a\xc2\x9b\x7f\\u001b"), "", json_document("a\\u009b\\u007f\\u001b"), "", 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    for (const bool terminal : {false, true}) {
      SCOPED_TRACE(terminal ? "on pseudo-terminals" : "into pipes");
      Responder daemon(answers(c.replies));
      Sandbox box;
      box.use_endpoint(daemon.endpoint());
      ProcessRun run = box.command(c.args);
      run.out_terminal = terminal;
      run.err_terminal = terminal;
      expect_run(run_process(run), terminal ? c.terminal_out : c.piped_out,
                 terminal ? c.terminal_err : c.piped_err, c.status);
    }
  }
}

}  // namespace
}  // namespace tarnex::testing
