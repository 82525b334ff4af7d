// Finding the settings file and the daemon configuration, and every way the
// configuration can be unusable (status 1, nothing sent).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/discovery.hpp"
#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string no_endpoint = "Error: mgmt-url is not configured\n";
const std::string default_path = "/usr/local/etc/ruxd/config.json";

std::string valid_node(int id, const std::string& name) {
  return R"({"id": )" + std::to_string(id) + R"(, "internal_addr": "10.0.0.)" + std::to_string(id) +
         R"(", "ruxd_port": 7000, "nodename": ")" + name + R"("})";
}

TEST(Configuration, UnopenableFileNamesItsPath) {
  Sandbox box;  // the settings file names ruxd.json, never written
  expect_run(box.run({"cluster", "exit"}), "",
             "ruxd:config: cannot open config file: " + box.config_path.string() + "\n" + no_endpoint, 1);
}

TEST(Configuration, EmptyConfigValueGivesAnEmptyPath) {
  Sandbox box;
  box.write_settings("[RUXD]\nConfig=\n");
  expect_run(box.run({"node", "list"}), "", "ruxd:config: cannot open config file: \n" + no_endpoint, 1);
}

// The configuration is read before the dispatcher looks at the command, so
// even a command it would refuse ends with status 1 here.
TEST(Configuration, CheckedBeforeDispatch) {
  Sandbox box;
  const std::string err =
      "ruxd:config: cannot open config file: " + box.config_path.string() + "\n" + no_endpoint;
  expect_run(box.run({"--force"}), "", err, 1);
  expect_run(box.run({"storage", "list"}), "", err, 1);
  expect_run(box.run({"", "exit"}), "", err, 1);
}

// Syntax errors carry the JSON library's own text, line and column included.
TEST(Configuration, SyntaxErrors) {
  const std::vector<std::string> texts = {
      "",
      "{\"cluster\": ",
      "// the daemon's file\n{}",
      "{\"cluster\": {\"mgmt-url\": \"tcp://127.0.0.1:1\"} /* note */ ,}",
  };
  Sandbox box;
  EXPECT_EQ(json_parse_error(""),
            "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while parsing "
            "value - unexpected end of input; expected '[', '{', or a literal");
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    box.write("ruxd.json", text);
    expect_run(box.run({"cluster", "exit"}), "",
               "ruxd:config: " + json_parse_error(text) + "\n" + no_endpoint, 1);
  }
}

TEST(Configuration, MappingErrors) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {R"({"nodes": [{"id": 1, "internal_addr": "a", "ruxd_port": 1}]})",
       "[json.exception.out_of_range.403] key 'nodename' not found"},
      {R"({"nodes": [{"id": 1, "internal_addr": "a", "ruxd_port": 1, "nodename": "n", "enabled": "yes"}]})",
       "[json.exception.type_error.302] type must be boolean, but is string"},
      {R"({"cluster": {"type": 3, "mgmt-url": "tcp://127.0.0.1:1"}})",
       "[json.exception.type_error.302] type must be string, but is number"},
      {R"({"nodes": [[]]})", "[json.exception.type_error.304] cannot use at() with array"},
      {R"({"distribution_preferences": [{"service": "s", "node": "4294967296"}]})",
       "preference node id out of uint32_t range: 4294967296"},
  };
  Sandbox box;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    box.write("ruxd.json", c.text);
    expect_run(box.run({"cluster", "exit"}), "", "ruxd:config: " + c.message + "\n" + no_endpoint, 1);
  }
}

// Validation findings come under one header, one line each, in the
// validator's order, and the endpoint is not taken.
TEST(Configuration, NegotiationErrors) {
  Sandbox box;
  box.write("ruxd.json", R"({"cluster": {"mgmt-url": "tcp://127.0.0.1:1", "redundancy_n_plus": 2},
 "nodes": [)" + valid_node(5, "a") +
                             ", " + valid_node(5, "b") + "]}");
  expect_run(box.run({"cluster", "exit"}), "",
             "ruxd:config: negotiation error:\n"
             "  -- nodes[1]: duplicate node id 5\n"
             "  -- cluster: redundancy_n_plus 2 must be less than the number of nodes (2)\n" +
                 no_endpoint,
             1);

  box.write("ruxd.json", R"({"cluster": {"mgmt-url": "tcp://127.0.0.1:1"},
 "nodes": [{"id": 1, "internal_addr": "", "ruxd_port": 1, "nodename": "", "leadership_disabled": true}],
 "services": [{"name": "a"}, {"name": ""}, {"name": "a"}],
 "distribution_preferences": [{"service": "", "node": 9}],
 "service_groups": [{"name": "", "services": ["x"]}]})");
  expect_run(box.run({"node", "list"}), "",
             "ruxd:config: negotiation error:\n"
             "  -- nodes[0]: empty nodename\n"
             "  -- nodes[0]: empty internal_addr\n"
             "  -- nodes: leadership_disabled on every node - cluster can never elect a leader\n"
             "  -- services[1]: empty service name\n"
             "  -- services[2]: duplicate service name \"a\"\n"
             "  -- distribution_preferences[0]: references non-existent node id 9\n"
             "  -- distribution_preferences[0]: references non-existent service \"\"\n"
             "  -- service_groups[0]: empty group name\n"
             "  -- service_groups[0]: references non-existent service \"x\"\n" +
                 no_endpoint,
             1);
}

TEST(Configuration, MissingOrUnusableEndpoint) {
  const std::vector<std::string> texts = {
      "{}",
      "null",
      R"({"nodes": [)" + valid_node(1, "alpha") + "]}",
      daemon_config_with_url(R"("")"),
      daemon_config_with_url("5"),
      daemon_config_with_url("null"),
  };
  Sandbox box;
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    box.write("ruxd.json", text);
    expect_run(box.run({"cluster", "exit"}), "", no_endpoint, 1);
  }
}

// Whatever follows the first complete value of the daemon configuration is
// not looked at (unlike a reply, which must be one value and nothing else).
TEST(Configuration, TextAfterTheDocumentIsIgnored) {
  Responder daemon({{"{}"}});
  Sandbox box;
  box.write("ruxd.json", daemon_config_with_url(json_quote(daemon.endpoint())) + " trailing words");
  expect_run(box.run({"cluster", "exit"}), "", "", 0);
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{cluster_exit_request});
}

// Section and key names of the settings file are matched without regard to
// case; a missing key means the default path, a malformed line no path.
TEST(SettingsFile, Contents) {
  Responder daemon({{"{}"}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  box.write_settings("; written by the operator\n[ruxd]\nconfig = " + box.config_path.string() + "\n");
  expect_run(box.run({"cluster", "exit"}), "", "", 0);
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{cluster_exit_request});

  if (std::filesystem::exists(default_path)) GTEST_SKIP() << default_path << " exists on this machine";
  const std::string default_missing =
      "ruxd:config: cannot open config file: " + default_path + "\n" + no_endpoint;
  // A file the INI rules reject cannot be used: the run says where, and
  // ends without reading any daemon configuration.
  box.write_settings("[RUXD]\nthis line is not a setting\nConfig=" + box.config_path.string() + "\n");
  expect_run(box.run({"cluster", "exit"}), "",
             "ruxd:config: " + (box.dir / "tarnex-viravi.config").string() +
                 ":2: not a valid settings line\n" + no_endpoint,
             1);
  box.write_settings("[RUXD]\nConfg=" + box.config_path.string() + "\nOther=1\n");
  expect_run(box.run({"cluster", "exit"}), "", default_missing, 1);
  RunOptions terminal;
  terminal.err_is_terminal = true;
  expect_run(box.run({"cluster", "exit"}, terminal), "",
             "ruxd:config: " + (box.dir / "tarnex-viravi.config").string() +
                 ": [RUXD] Confg is not a known setting; did you mean Config?\n" +
                 "ruxd:config: " + (box.dir / "tarnex-viravi.config").string() +
                 ": [RUXD] Other is not a known setting\n" + default_missing,
             1);
  box.write_settings("[OTHER]\nConfig=" + box.config_path.string() + "\n");
  expect_run(box.run({"cluster", "exit"}), "", default_missing, 1);
  EXPECT_EQ(daemon.requests().size(), 1U);
}

// A settings file that is there but cannot be used leaves no endpoint: the
// run never falls back to the default daemon configuration, sends nothing,
// and names the file, neutralised at a terminal like every file text.
TEST(SettingsFile, UnusableFileSendsNothing) {
  Responder daemon({{"{}"}});
  struct Case {
    const char* what;
    std::function<void(const Sandbox&, const std::filesystem::path&)> make;
    std::string after_path;  // what follows the settings file's path
  };
  const std::vector<Case> cases = {
      {"a directory", [](const Sandbox&, const auto& path) { std::filesystem::create_directory(path); },
       ": cannot read settings file: Is a directory"},
      {"a FIFO", [](const Sandbox&, const auto& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
       ": cannot read settings file: not a regular file"},
      {"one byte too large",
       [](const Sandbox& box, const auto&) {
         const std::string settings = "[RUXD]\nConfig=" + box.config_path.string() + "\n;";
         box.write_settings(settings + std::string(max_settings_size - settings.size() - 1, 'x') + "\n\n");
       },
       ": cannot read settings file: larger than 1 MiB"},
      {"a line that is not valid",
       [](const Sandbox& box, const auto&) {
         box.write_settings("[RUXD]\nConfig=" + box.config_path.string() + "\n[RUXD\n");
       },
       ":3: not a valid settings line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box("tv\x1b]0;X\x07");
    box.use_endpoint(daemon.endpoint());
    const std::filesystem::path settings = box.dir / (box.name + ".config");
    std::filesystem::remove(settings);
    c.make(box, settings);
    const std::string shown_path = (box.dir / "tv\\x1b]0;X\\x07.config").string();
    for (const bool terminal : {false, true}) {
      RunOptions options;
      options.err_is_terminal = terminal;
      expect_run(
          box.run({"cluster", "exit"}, options), "",
          "ruxd:config: " + (terminal ? shown_path : settings.string()) + c.after_path + "\n" + no_endpoint,
          1);
    }
  }
  EXPECT_TRUE(daemon.requests().empty());

  // At the bound itself the file is read.
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  const std::string settings = "[RUXD]\nConfig=" + box.config_path.string() + "\n;";
  box.write_settings(settings + std::string(max_settings_size - settings.size() - 1, 'x') + "\n");
  expect_run(box.run({"cluster", "exit"}), "", "", 0);
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{cluster_exit_request});
}

}  // namespace
}  // namespace tarnex::testing
