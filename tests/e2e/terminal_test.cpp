// What the person at a terminal gets beyond the exact bytes scripts get:
// texts from the daemon and the files with their control characters made
// visible, refused command lines named, and the member a configuration
// fault was met at. Every case runs into pipes as well, where nothing of
// this shows.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.hpp"
#include "support/scripted_transport.hpp"
#include "usage_texts.hpp"

namespace tarnex::testing {
namespace {

const std::string endpoint = "tcp://127.0.0.1:57017";

// A retitle (OSC ... BEL) in JSON, and the bytes it arrives as and is shown as.
const std::string osc_json = R"(\u001b]0;X\u0007)";
const std::string osc = "\x1b]0;X\x07";
const std::string osc_shown = R"(\x1b]0;X\x07)";
// The one-character CSI U+009B, "clear the screen" after it.
const std::string csi_json = R"(\u009b2J)";
const std::string csi =
    "\xc2\x9b"
    "2J";
const std::string csi_shown = R"(\xc2\x9b2J)";

struct Streams {
  std::string out;
  std::string err;
};

// A run as it reaches pipes, and as it reaches terminals.
struct TerminalCase {
  std::vector<std::string> args;
  std::vector<Reply> replies;
  Streams piped;
  Streams terminal;
  int status;
};

void expect_piped_and_at_terminal(const TerminalCase& c, const Sandbox& box) {
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "at a terminal" : "into pipes");
    ScriptedTransport daemon(c.replies);
    RunOptions options;
    options.transport = &daemon;
    options.out_is_terminal = terminal;
    options.err_is_terminal = terminal;
    const Streams& expected = terminal ? c.terminal : c.piped;
    expect_run(box.run(c.args, options), expected.out, expected.err, c.status);
  }
}

// Every kind of daemon text: table cells, single-record lines, messages,
// help entries, error lines, a move's check and an exception's text.
TEST(TerminalText, DaemonTextsAreNeutralisedOnlyAtATerminal) {
  const std::string nodes = R"({"response": [{"id": 1, "nodename": "a)" + osc_json + R"(", "state": "UP)" +
                            csi_json + R"(", "enabled": true}, {"id": 2, "nodename": "bravo", "state": "ON)" +
                            osc_json + R"(", "enabled": true}]})";
  const std::string services = R"({"response": [{"name": "s)" + osc_json + R"(", "run_node": 1, "state": ")" +
                               csi_json + R"(", "enabled": true, "pools": [{"name": "p)" + osc_json +
                               R"(", "state": "S)" + csi_json + R"("}]}]})";
  const std::string placed =
      R"({"response": [{"name": "db)" + csi_json + R"(", "run_node": "n)" + osc_json + R"(", "state": "OK)" +
      osc_json + R"(", "enabled": false, "pools": {"x": {"name": ")" + csi_json + R"(", "state": "S"}}}]})";
  const std::vector<TerminalCase> cases = {
      {{"cluster", "status"},
       answers({nodes, services}),
       {"NODES:\n"
        "NAME      ID     STATE    STATUS  SERVICES\n"
        "a" +
            osc + "    1    UP" + csi + "   enabled  [ s" + osc +
            " ]\n"
            "bravo      2  ON" +
            osc +
            "   enabled  [ ]\n"
            "\n"
            "SERVICES:\n"
            "NAME    NODE     STATE    STATUS  POOLS\n"
            "s" +
            osc + "    1      " + csi + "   enabled  [ p" + osc + "(S" + csi + ") ]\n",
        ""},
       {"NODES:\n"
        "NAME            ID     STATE    STATUS  SERVICES\n"
        "a" +
            osc_shown + "    1 UP" + csi_shown + "   enabled  [ s" + osc_shown +
            " ]\n"
            "bravo            2 ON" +
            osc_shown +
            "   enabled  [ ]\n"
            "\n"
            "SERVICES:\n"
            "NAME          NODE     STATE    STATUS  POOLS\n"
            "s" +
            osc_shown + "    1 " + csi_shown + "   enabled  [ p" + osc_shown + "(S" + csi_shown + ") ]\n",
        ""},
       0},
      {{"node", "status", "--id=1"},
       answers({nodes}),
       {"a" + osc + "    1    UP" + csi + "   enabled\n", ""},
       {"a" + osc_shown + "    1 UP" + csi_shown + "   enabled\n", ""},
       0},
      {{"service", "status", "--name=db"},
       answers({placed}),
       {"db" + csi + " n" + osc + "  OK" + osc + "  DISABLED  [ " + csi + "(S) ]\n", ""},
       {"db" + csi_shown + " n" + osc_shown + " OK" + osc_shown + "  DISABLED  [ " + csi_shown + "(S) ]\n",
        ""},
       0},
      // Messages keep their newlines and tabs.
      {{"service", "help"},
       answers({R"({"response": ["start\tstarts)" + osc_json + R"(", ")" + csi_json + R"("]})"}),
       {"COMMAND\nstart\tstarts" + osc + "\n" + csi + "\n", ""},
       {"COMMAND\nstart\tstarts" + osc_shown + "\n" + csi_shown + "\n", ""},
       0},
      {{"node", "disable", "--id=2"},
       answers({R"({"response": {"message": "done)" + osc_json + R"(\nnext"}})"}),
       {"done" + osc + "\nnext\n", ""},
       {"done" + osc_shown + "\nnext\n", ""},
       0},
      {{"service", "stop", "--name=db"},
       answers({R"({"response": {"message": ")" + csi_json + R"("}})"}),
       {csi + "\n", ""},
       {csi_shown + "\n", ""},
       0},
      {{"node", "enable", "--id=2"},
       answers({R"({"error": 1, "errorMessage": "no)" + osc_json + R"("})"}),
       {"", "Error: no" + osc + "\n"},
       {"", "Error: no" + osc_shown + "\n"},
       11},
      {{"service", "start", "--name=db"},
       answers({R"({"response": [{"error": 1, "errorMessage": "E)" + csi_json + R"(", "name": "db)" +
                osc_json + R"("}]})"}),
       {"", "Error: E" + csi + ": db" + osc + "\n"},
       {"", "Error: E" + csi_shown + ": db" + osc_shown + "\n"},
       11},
      {{"service", "move", "--name=db", "--node=bravo"},
       answers({nodes}),
       {"", "Error: cannot run service on node bravo: state is ON" + osc + "\n"},
       {"", "Error: cannot run service on node bravo: state is ON" + osc_shown + "\n"},
       11},
      // A reply that is not UTF-8: the parser's message quotes the raw C1 byte.
      {{"node", "list"},
       answers({"{\"response\": \"\x9b\"}"}),
       {"", "Exception: " + json_parse_error("{\"response\": \"\x9b\"}") + "\n"},
       {"",
        "Exception: [json.exception.parse_error.101] parse error at line 1, column 15: syntax error while "
        "parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"\\x9b'\n"},
       11},
  };
  Sandbox box;
  box.use_endpoint(endpoint);
  for (const TerminalCase& c : cases) {
    SCOPED_TRACE(joined(c.args));
    expect_piped_and_at_terminal(c, box);
  }
}

// A refused command line is named at a terminal, with the known word that
// is closest when one is clearly closest; into a pipe only the usage text
// and the --force line, as ever.
TEST(TerminalRefusals, NameWhatWasRefused) {
  const std::string force = "Error: --force is only valid for 'node exit'\n";
  struct Case {
    std::vector<std::string> args;
    std::string usage;
    std::string piped_err;
    std::string terminal_err;
  };
  const std::vector<Case> cases = {
      {{"servce", "list"}, top_usage(), "", "Error: unknown system 'servce'; did you mean 'service'?\n"},
      {{"Cluster"}, top_usage(), "", "Error: unknown system 'Cluster'; did you mean 'cluster'?\n"},
      {{"storage", "list"}, top_usage(), "", "Error: unknown system 'storage'\n"},
      {{""}, top_usage(), "", "Error: unknown system ''\n"},
      {{"nod\x1b"}, top_usage(), "", "Error: unknown system 'nod\\x1b'; did you mean 'node'?\n"},
      {{"node", "dsable", "-n", "1"},
       node_usage(),
       "",
       "Error: unknown action 'dsable' for node; did you mean 'disable'?\n"},
      {{"node", "lsit"}, node_usage(), "", "Error: unknown action 'lsit' for node; did you mean 'list'?\n"},
      {{"node", "stat"}, node_usage(), "", "Error: unknown action 'stat' for node; did you mean 'status'?\n"},
      // Two actions equally close, or none close enough: no guess.
      {{"node", "sable", "-n", "1"}, node_usage(), "", "Error: unknown action 'sable' for node\n"},
      {{"cluster", "list"}, cluster_usage(), "", "Error: unknown action 'list' for cluster\n"},
      {{"service", "restart", "-s", "db"},
       service_usage(),
       "",
       "Error: unknown action 'restart' for service; did you mean 'start'?\n"},
      {{"node", "disable"}, node_usage(), "", "Error: 'node disable' needs a node (-n)\n"},
      {{"node", "exit", "--force"}, node_usage(), "", "Error: 'node exit' needs a node (-n)\n"},
      {{"node", "list", "--id=2"}, node_usage(), "", "Error: 'node list' takes no node (-n)\n"},
      {{"service", "move", "--name=db", "--node="},
       service_usage(),
       "",
       "Error: 'service move' needs a node (-n) that is not empty\n"},
      {{"service", "move", "--node=2"},
       service_usage(),
       "",
       "Error: 'service move' needs a service name (-s)\n"},
      {{"service", "help", "-s", "db"},
       service_usage(),
       "",
       "Error: 'service help' takes no service name (-s)\n"},
      // The --force line names a known action's refusal well enough.
      {{"node", "disable", "-n", "1", "-f"}, node_usage(), force, force},
      {{"node", "dsable", "-n", "1", "-f"},
       node_usage(),
       force,
       force + "Error: unknown action 'dsable' for node; did you mean 'disable'?\n"},
  };
  Sandbox box;
  box.use_endpoint(endpoint);
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.args));
    expect_piped_and_at_terminal({c.args, {}, {c.usage, c.piped_err}, {c.usage, c.terminal_err}, 12}, box);
  }
}

// The endpoint comes from a file: in the notice about the wait and in the
// line about the missing reply.
TEST(TerminalText, TheEndpointIsNeutralisedWhereverItIsQuoted) {
  Sandbox box;
  box.use_endpoint("tcp://h" + osc + ":1");
  const std::string no_reply = " within 3 s\n";
  expect_piped_and_at_terminal({{"node", "list", "--timeout=3"},
                                {stay_silent()},
                                {".\n", "Error: no reply from tcp://h" + osc + ":1" + no_reply},
                                {".\n", "Waiting for the daemon at tcp://h" + osc_shown +
                                            ":1: connected, no answer yet. Giving up after 3 s.\n"
                                            "Error: no reply from tcp://h" +
                                            osc_shown + ":1" + no_reply},
                                11},
                               box);
}

// The configuration step's lines quote the files: at a terminal they are
// neutralised, and a fault met while reading a member names the member and
// the file, after the library's message as it stands.
TEST(TerminalText, ConfigurationLinesQuoteTheFilesSafelyAndSayWhere) {
  const std::string no_endpoint = "Error: mgmt-url is not configured\n";
  const std::string node = R"({"id": 1, "internal_addr": "a", "ruxd_port": 1, "nodename": "n"})";
  const std::string url = R"("cluster": {"mgmt-url": "tcp://127.0.0.1:1"})";
  struct Case {
    std::string what;
    std::string settings;  // after "[RUXD]\nConfig=<the sandbox's ruxd.json>\n"
    std::string config;
    Streams piped;  // standard error as piped and at a terminal; <config> stands for its path
    Streams terminal;
  };
  const std::vector<Case> cases = {
      {"a wrong type at depth",
       "",
       "{" + url + R"(, "nodes": [)" + node + ", " + node +
           R"(, {"id": 3, "internal_addr": "c", "ruxd_port": "7000"}]})",
       {"",
        "ruxd:config: [json.exception.type_error.302] type must be number, but is string\n" + no_endpoint},
       {"",
        "ruxd:config: [json.exception.type_error.302] type must be number, but is string\n"
        "ruxd:config: in <config> at /nodes/2/ruxd_port\n" +
            no_endpoint}},
      {"a missing member in a list",
       "",
       R"({"service_groups": [{"name": "g", "services": ["s"]}, {}]})",
       {"", "ruxd:config: [json.exception.out_of_range.403] key 'name' not found\n" + no_endpoint},
       {"",
        "ruxd:config: [json.exception.out_of_range.403] key 'name' not found\n"
        "ruxd:config: in <config> at /service_groups/1/name\n" +
            no_endpoint}},
      {"a syntax error names no member",
       "",
       R"({"nodes": [)",
       {"", "ruxd:config: " + json_parse_error(R"({"nodes": [)") + "\n" + no_endpoint},
       {"", "ruxd:config: " + json_parse_error(R"({"nodes": [)") + "\n" + no_endpoint}},
      {"names quoted by the validation",
       "",
       "{" + url + R"(, "nodes": [)" + node + R"(], "services": [{"name": "d)" + osc_json +
           R"("}, {"name": "d)" + osc_json + R"("}]})",
       {"", "ruxd:config: negotiation error:\n  -- services[1]: duplicate service name \"d" + osc + "\"\n" +
                no_endpoint},
       {"", "ruxd:config: negotiation error:\n  -- services[1]: duplicate service name \"d" + osc_shown +
                "\"\n" + no_endpoint}},
      {"the settings file's timeout",
       "Timeout = 5\x1b[2J\x9b\n",
       "{" + url + R"(, "nodes": [)" + node + "]}",
       {"", "Error: <settings>: Timeout is not a whole number of seconds: 5\x1b[2J\x9b\n"},
       {"", "Error: <settings>: Timeout is not a whole number of seconds: 5\\x1b[2J\\x9b\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    box.write_settings("[RUXD]\nConfig=" + box.config_path.string() + "\n" + c.settings);
    box.write("ruxd.json", c.config);
    const auto paths = [&box](std::string text) {
      for (const auto& [mark, path] :
           {std::pair<std::string, std::string>{"<config>", box.config_path.string()},
            {"<settings>", (box.dir / "tarnex-viravi.config").string()}}) {
        if (const auto at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), path);
      }
      return text;
    };
    expect_piped_and_at_terminal(
        {{"node", "list"}, {}, {"", paths(c.piped.err)}, {"", paths(c.terminal.err)}, 1}, box);
  }
  // A path from the settings file, with a raw C1 byte in it.
  Sandbox box;
  const std::string path = (box.dir / "x\x9b\x1b[2J.json").string();
  const std::string shown = (box.dir / "x\\x9b\\x1b[2J.json").string();
  box.write_settings("[RUXD]\nConfig=" + path + "\n");
  expect_piped_and_at_terminal({{"node", "list"},
                                {},
                                {"", "ruxd:config: cannot open config file: " + path + "\n" + no_endpoint},
                                {"", "ruxd:config: cannot open config file: " + shown + "\n" + no_endpoint},
                                1},
                               box);
}

}  // namespace
}  // namespace tarnex::testing
