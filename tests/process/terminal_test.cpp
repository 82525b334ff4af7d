// The started program finds out by itself whether its standard output and
// standard error are terminals: on pseudo-terminals it neutralises daemon
// texts, names a refused command line and says where a configuration fault
// is; into pipes the same runs give the bytes they always gave.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/usage_texts.hpp"
#include "support/process.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

TEST(Terminal, WhatThePseudoTerminalGetsAndThePipeDoesNot) {
  const std::string type_error =
      "ruxd:config: [json.exception.type_error.302] type must be boolean, but is string\n";
  const std::string no_endpoint = "Error: mgmt-url is not configured\n";
  struct Case {
    std::vector<std::string> args;
    std::string reply;   // the daemon's one answer
    std::string config;  // instead of a valid one
    std::string piped_out;
    std::string piped_err;
    std::string terminal_out;
    std::string terminal_err;
    int status;
  };
  const std::vector<Case> cases = {
      {{"node", "list"},
       R"({"response": [{"id": 1, "nodename": "a\u001b[2J", "state": "UP", "enabled": true}]})",
       "",
       "NAME    ID     STATE    STATUS  \na\x1b[2J    1        UP   enabled\n",
       "",
       "NAME       ID     STATE    STATUS  \na\\x1b[2J    1        UP   enabled\n",
       "",
       0},
      {{"node", "enable", "--id=1"},
       R"({"error": 1, "errorMessage": "\u001b]0;PWNED\u0007\u009b2J"})",
       "",
       "",
       "Error: \x1b]0;PWNED\x07\xc2\x9b"
       "2J\n",
       "",
       "Error: \\x1b]0;PWNED\\x07\\xc2\\x9b2J\n",
       11},
      {{"node", "dsable", "-n", "1"},
       "",
       "",
       node_usage(),
       "",
       node_usage(),
       "Error: unknown action 'dsable' for node; did you mean 'disable'?\n",
       12},
      {{"node", "list"},
       "",
       R"({"nodes": [{"id": 1, "internal_addr": "a", "ruxd_port": 1, "nodename": "n", "enabled": "yes"}]})",
       "",
       type_error + no_endpoint,
       "",
       type_error + "ruxd:config: in <config> at /nodes/0/enabled\n" + no_endpoint,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    for (const bool terminal : {false, true}) {
      SCOPED_TRACE(terminal ? "on pseudo-terminals" : "into pipes");
      Responder daemon({{c.reply}});
      Sandbox box;
      box.use_endpoint(daemon.endpoint());
      if (!c.config.empty()) box.write("ruxd.json", c.config);
      ProcessRun run = box.command(c.args);
      run.out_terminal = terminal;
      run.err_terminal = terminal;
      const RunResult result = run_process(run);
      std::string err = terminal ? c.terminal_err : c.piped_err;
      if (const auto at = err.find("<config>"); at != std::string::npos) {
        err.replace(at, 8, box.config_path.string());
      }
      expect_run(result, terminal ? c.terminal_out : c.piped_out, err, c.status);
    }
  }
}

}  // namespace
}  // namespace tarnex::testing
