// What the person at a terminal gets beyond the exact bytes scripts get:
// texts from the daemon and the files with their control characters made
// visible, refused command lines named, and the member a configuration
// fault was met at. Every case runs into pipes as well, where nothing of
// this shows.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/requests.hpp"
#include "support/sandbox.hpp"
#include "support/scripted_transport.hpp"
#include "usage_texts.hpp"

namespace tarnex::testing {
namespace {

// How a hostile text is written: in a JSON reply, as the bytes it arrives
// as, and as a terminal is to see it.
enum class Form { json, raw, shown };

// Expected texts and replies mark hostile texts: "<osc>" retitles the
// window (OSC ... BEL), "<csi>" clears the screen after the one-character
// CSI U+009B, "<c1>" is a raw C1 byte (CSI in an 8-bit character set),
// "<bidi>" reorders or hides text (U+202E, U+2066, U+200B, U+FEFF, U+2029).
std::string expand(std::string text, Form form) {
  static const std::vector<std::array<std::string, 4>> marks = {
      {"<osc>", R"(\u001b]0;X\u0007)", "\x1b]0;X\x07", R"(\x1b]0;X\x07)"},
      {"<csi>", R"(\u009b2J)", "\xc2\x9b\x32J", R"(\xc2\x9b2J)"},
      {"<c1>", "\x9b", "\x9b", R"(\x9b)"},
      {"<bidi>", R"(\u202e\u2066\u200b\ufeff\u2029)",
       "\xe2\x80\xae\xe2\x81\xa6\xe2\x80\x8b\xef\xbb\xbf\xe2\x80\xa9",
       R"(\xe2\x80\xae\xe2\x81\xa6\xe2\x80\x8b\xef\xbb\xbf\xe2\x80\xa9)"},
  };
  for (const auto& mark : marks) {
    const std::string& by = mark[static_cast<std::size_t>(form) + 1];
    for (auto at = text.find(mark[0]); at != std::string::npos; at = text.find(mark[0], at + by.size()))
      text.replace(at, mark[0].size(), by);
  }
  return text;
}

struct Case {
  std::vector<std::string> args;
  std::vector<std::string> replies;  // marked, as JSON
  std::string out;                   // marked
  std::string err;                   // marked
  int status;
  std::string terminal_out = {};  // when the columns differ at a terminal
};

// Runs the case into pipes, where the marks are the bytes as they came, and
// at terminals, where they are the escapes.
void expect_piped_and_at_terminal(const Case& c, const Sandbox& box) {
  for (const bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "at a terminal" : "into pipes");
    const Form form = terminal ? Form::shown : Form::raw;
    std::vector<std::string> replies;
    for (const std::string& reply : c.replies)
      replies.push_back(expand(reply, Form::json));
    ScriptedTransport daemon(answers(replies));
    RunOptions options;
    options.transport = &daemon;
    options.out_is_terminal = terminal;
    options.err_is_terminal = terminal;
    const std::string& out = terminal && !c.terminal_out.empty() ? c.terminal_out : c.out;
    expect_run(box.run(c.args, options), expand(out, form), expand(c.err, form), c.status);
  }
}

void expect_cases(const std::vector<Case>& cases) {
  Sandbox box;
  box.use_endpoint(test_endpoint);
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.args));
    expect_piped_and_at_terminal(c, box);
  }
}

// Every kind of daemon text: table cells (the name columns as wide as the
// escaped names), single-record lines, messages, help entries, error lines,
// a move's check and an exception's text.
TEST(TerminalText, DaemonTextsAreNeutralisedOnlyAtATerminal) {
  const std::string nodes =
      R"({"response": [{"id": 1, "nodename": "a<osc>", "state": "UP<csi>", "enabled": true},
                       {"id": 2, "nodename": "bravo", "state": "ON<osc>", "enabled": true}]})";
  const std::string services = R"({"response": [{"name": "s<osc>", "run_node": 1, "state": "<csi>",
      "enabled": true, "pools": [{"name": "p<osc>", "state": "S<csi>"}]}]})";
  // clang-format off
  const std::vector<Case> cases = {
      {{"cluster", "status"}, {nodes, services},
       "NODES:\n"
       "NAME      ID     STATE    STATUS  SERVICES\n"
       "a<osc>    1    UP<csi>   enabled  [ s<osc> ]\n"
       "bravo      2  ON<osc>   enabled  [ ]\n\n"
       "SERVICES:\n"
       "NAME    NODE     STATE    STATUS  POOLS\n"
       "s<osc>    1      <csi>   enabled  [ p<osc>(S<csi>) ]\n",
       "", 0,
       "NODES:\n"
       "NAME            ID     STATE    STATUS  SERVICES\n"
       "a<osc>    1 UP<csi>   enabled  [ s<osc> ]\n"
       "bravo            2 ON<osc>   enabled  [ ]\n\n"
       "SERVICES:\n"
       "NAME          NODE     STATE    STATUS  POOLS\n"
       "s<osc>    1 <csi>   enabled  [ p<osc>(S<csi>) ]\n"},
      {{"node", "status", "--id=1"}, {nodes}, "a<osc>    1    UP<csi>   enabled\n", "", 0,
       "a<osc>    1 UP<csi>   enabled\n"},
      {{"service", "status", "--name=db"},
       {R"({"response": [{"name": "db<csi>", "run_node": "n<osc>", "state": "OK<osc>", "enabled": false,
                          "pools": {"x": {"name": "<csi>", "state": "S"}}}]})"},
       "db<csi> n<osc>  OK<osc>  DISABLED  [ <csi>(S) ]\n", "", 0,
       "db<csi> n<osc> OK<osc>  DISABLED  [ <csi>(S) ]\n"},
      // Messages keep their newlines and tabs.
      {{"service", "help"}, {R"({"response": ["start\tstarts<osc>", "<csi>"]})"},
       "COMMAND\nstart\tstarts<osc>\n<csi>\n", "", 0},
      {{"node", "disable", "--id=2"}, {R"({"response": {"message": "done<osc>\nnext"}})"},
       "done<osc>\nnext\n", "", 0},
      {{"service", "stop", "--name=db"}, {R"({"response": {"message": "<csi>"}})"}, "<csi>\n", "", 0},
      {{"node", "enable", "--id=2"}, {R"({"error": 1, "errorMessage": "no<osc>"})"}, "", "Error: no<osc>\n", 11},
      {{"service", "start", "--name=db"},
       {R"({"response": [{"error": 1, "errorMessage": "E<csi>", "name": "db<osc>"}]})"},
       "", "Error: E<csi>: db<osc>\n", 11},
      {{"service", "move", "--name=db", "--node=bravo"}, {nodes},
       "", "Error: cannot run service on node bravo: state is ON<osc>\n", 11},
      {{"node", "enable", "--id=2"}, {R"({"error": 1, "errorMessage": "no<bidi>\u201b"})"}, "",
       "Error: no<bidi>\xe2\x80\x9b\n", 11},
      // The document escapes them as JSON does, U+201B is none of them.
      {{"cluster", "status", "-o", "json"},
       {R"({"response": [{"id": 1, "nodename": "a<bidi><csi>\u201b", "enabled": true}]})", R"({"response": []})"},
       "{\n  \"cluster\": {\n    \"nodes\": [\n      {\n        \"enabled\": true,\n        \"id\": 1,\n"
       "        \"name\": \"a<bidi><csi>\xe2\x80\x9b\",\n        \"state\": null\n      }\n    ]\n  }\n}\n", "", 0,
       "{\n  \"cluster\": {\n    \"nodes\": [\n      {\n        \"enabled\": true,\n        \"id\": 1,\n"
       "        \"name\": \"a" + expand("<bidi><csi>", Form::json) + "\xe2\x80\x9b\",\n        \"state\": null\n"
       "      }\n    ]\n  }\n}\n"},
      // A reply that is not UTF-8: the parser's message quotes the raw C1 byte.
      {{"node", "list"}, {"{\"response\": \"<c1>\"}"},
       "", "Exception: [json.exception.parse_error.101] parse error at line 1, column 15: syntax error while "
           "parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"<c1>'\n", 11},
  };
  // clang-format on
  expect_cases(cases);
}

// A name in a command the operator is told to run is quoted for a shell
// when it is not plain; at a terminal the quoted name is then neutralised.
TEST(TerminalText, NamesInSuggestedCommandsAreQuotedForAShell) {
  const std::string node =
      R"({"response": [{"id": 2, "nodename": "b", "state": "ONLINE", "enabled": true}]})";
  const std::string refused = R"({"error": 5, "errorMessage": "no"})";
  const std::string stopped = R"({"response": {"message": "stopped"}})";
  const std::string may_have = " may have taken effect all the same; check the actual state: ";
  auto service = [](const std::string& name) {
    return R"({"response": [{"name": ")" + name + R"(", "enabled": true}]})";
  };
  auto recovery = [](const std::string& name, const std::string& quoted, const std::string& program) {
    return "Error: no\nService " + name + " was stopped, but the start on node 2 did not complete.\n" +
           "Check the actual state: " + program + " service status --name=" + quoted + "\n";
  };
  struct Quoting {
    std::string program;
    std::vector<std::string> args;
    std::vector<Reply> replies;
    std::string err;  // marked
  };
  // clang-format off
  const std::vector<Quoting> cases = {
      {"tarnex-viravi", {"service", "stop", "--name=it's <osc>", "--timeout=1"}, {stay_silent()},
       "Error: no reply from " + test_endpoint + " within 1 s\nStopping service it's <osc>" + may_have +
       "tarnex-viravi service status --name='it'\\''s <osc>'\n"},
      {"tarnex-viravi", {"node", "disable", "--id=a_./:@%+=,-Z9", "--timeout=1"}, {stay_silent()},
       "Error: no reply from " + test_endpoint + " within 1 s\nDisabling node a_./:@%+=,-Z9" + may_have +
       "tarnex-viravi node status --id=a_./:@%+=,-Z9\n"},
      {"tarnex-viravi", {"service", "move", "--name=$db", "--node=b"},
       {{node}, {service("$db")}, {stopped}, {refused}}, recovery("$db", "'$db'", "tarnex-viravi")},
      {"my tv", {"service", "move", "--name=d<osc>b", "--node=b"},
       {{node}, {service("d<osc>b")}, {stopped}, {refused}},
       recovery("d<osc>b", "'d<osc>b'", "'my tv'")},
  };
  // clang-format on
  for (const Quoting& q : cases) {
    SCOPED_TRACE(joined(q.args));
    Sandbox box(q.program);
    box.use_endpoint(test_endpoint);
    for (const bool terminal : {false, true}) {
      std::vector<Reply> replies = q.replies;
      for (Reply& reply : replies)
        reply.text = expand(reply.text, Form::json);
      ScriptedTransport daemon(replies);
      RunOptions options;
      options.transport = &daemon;
      options.err_is_terminal = terminal;
      std::vector<std::string> args;
      for (const std::string& arg : q.args)
        args.push_back(expand(arg, Form::raw));
      const RunResult result = box.run(args, options);
      EXPECT_EQ(result.err, expand(q.err, terminal ? Form::shown : Form::raw)) << terminal;
    }
  }
}

// A refused command line is named at a terminal, with the known word that
// is clearly the closest; into a pipe there is only the usage text (and the
// --force line, as ever).
TEST(TerminalRefusals, NameWhatWasRefused) {
  const std::string force = "Error: --force is only valid for 'node exit'\n";
  const std::string action = "Error: unknown action ";
  struct Refusal {
    std::vector<std::string> args;
    std::string usage;
    std::string named;  // the line a terminal gets after what a pipe gets
    std::string piped_err = {};
  };
  // clang-format off
  const std::vector<Refusal> refusals = {
      {{"servce", "list"}, top_usage(), "Error: unknown system 'servce'; did you mean 'service'?\n"},
      {{""}, top_usage(), "Error: unknown system ''\n"},
      {{"nod\x1b"}, top_usage(), "Error: unknown system 'nod\\x1b'; did you mean 'node'?\n"},
      {{"node", "dsable", "-n", "1"}, node_usage(), action + "'dsable' for node; did you mean 'disable'?\n"},
      {{"node", "lsit"}, node_usage(), action + "'lsit' for node; did you mean 'list'?\n"},
      // Two actions as close (enable, disable), or none close enough.
      {{"node", "sable", "-n", "1"}, node_usage(), action + "'sable' for node\n"},
      {{"cluster", "list"}, cluster_usage(), action + "'list' for cluster\n"},
      {{"node", "disable"}, node_usage(), "Error: 'node disable' needs a node (-n)\n"},
      {{"node", "list", "--id=2"}, node_usage(), "Error: 'node list' takes no node (-n)\n"},
      {{"service", "move", "--name=db", "--node="}, service_usage(),
       "Error: 'service move' needs a node (-n) that is not empty\n"},
      {{"service", "move", "--node=2"}, service_usage(), "Error: 'service move' needs a service name (-s)\n"},
      {{"service", "help", "-s", "db"}, service_usage(), "Error: 'service help' takes no service name (-s)\n"},
      // The --force line names a known action's refusal well enough.
      {{"node", "disable", "-n", "1", "-f"}, node_usage(), "", force},
      {{"node", "dsable", "-n", "1", "-f"}, node_usage(), action + "'dsable' for node; did you mean 'disable'?\n",
       force},
  };
  // clang-format on
  Sandbox box;
  box.use_endpoint(test_endpoint);
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(joined(r.args));
    for (const bool terminal : {false, true}) {
      ScriptedTransport daemon;
      RunOptions options;
      options.transport = &daemon;
      options.err_is_terminal = terminal;
      expect_run(box.run(r.args, options), r.usage, r.piped_err + (terminal ? r.named : ""), 12);
      EXPECT_TRUE(daemon.requests.empty());
    }
  }
}

// The endpoint comes from a file: in the notice about the wait and in the
// line about the missing reply.
TEST(TerminalText, TheEndpointIsNeutralisedWhereverItIsQuoted) {
  Sandbox box;
  box.use_endpoint(expand("tcp://h<osc>:1", Form::raw));
  for (const bool terminal : {false, true}) {
    ScriptedTransport daemon({stay_silent()});
    RunOptions options;
    options.transport = &daemon;
    options.err_is_terminal = terminal;
    const std::string wait =
        terminal
            ? "Waiting for the daemon at tcp://h<osc>:1: connected, no answer yet. Giving up after 3 s.\n"
            : "";
    expect_run(
        box.run({"node", "list", "--timeout=3"}, options), ".\n",
        expand(wait + "Error: no reply from tcp://h<osc>:1 within 3 s\n", terminal ? Form::shown : Form::raw),
        11);
  }
}

// The configuration step's lines quote the files: at a terminal they are
// neutralised, and a fault met while reading a member names the member and
// the file after the library's message, which stays as it is.
TEST(TerminalText, ConfigurationLinesQuoteTheFilesSafelyAndSayWhere) {
  const std::string no_endpoint = "Error: mgmt-url is not configured\n";
  const std::string node = R"({"id": 1, "internal_addr": "a", "ruxd_port": 1, "nodename": "n"})";
  const std::string valid = R"({"cluster": {"mgmt-url": "tcp://127.0.0.1:1"}, "nodes": [)" + node;
  struct ConfigCase {
    std::string settings;  // after the line that names the sandbox's ruxd.json
    std::string config;    // marked, as JSON
    std::string err;       // marked; "<settings>" stands for the settings file
    std::string member;    // the JSON pointer a terminal is told of
  };
  // clang-format off
  const std::vector<ConfigCase> cases = {
      {"", valid + ", " + node + R"(, {"id": 3, "internal_addr": "c", "ruxd_port": "7000"}]})",
       "ruxd:config: [json.exception.type_error.302] type must be number, but is string\n", "/nodes/2/ruxd_port"},
      {"", R"({"nodes": [)", "ruxd:config: " + json_parse_error(R"({"nodes": [)") + "\n", ""},
      {"", valid + R"(], "services": [{"name": "d<osc>"}, {"name": "d<osc>"}]})",
       "ruxd:config: negotiation error:\n  -- services[1]: duplicate service name \"d<osc>\"\n", ""},
      {"Timeout = 5<osc><c1>\n", valid + "]}",
       "Error: <settings>: Timeout is not a whole number of seconds: 5<osc><c1>\n", ""},
  };
  // clang-format on
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.config);
    Sandbox box;
    box.write_settings("[RUXD]\nConfig=" + box.config_path.string() + "\n" + expand(c.settings, Form::raw));
    box.write("ruxd.json", expand(c.config, Form::json));
    std::string err = c.err;
    if (const auto at = err.find("<settings>"); at != std::string::npos) {
      err.replace(at, 10, (box.dir / "tarnex-viravi.config").string());
    }
    const std::string tail = c.err.starts_with("ruxd") ? no_endpoint : "";
    for (const bool terminal : {false, true}) {
      RunOptions options;
      options.err_is_terminal = terminal;
      const std::string where = "ruxd:config: in " + box.config_path.string() + " at " + c.member + "\n";
      expect_run(box.run({"node", "list"}, options), "",
                 expand(err, terminal ? Form::shown : Form::raw) +
                     (terminal && !c.member.empty() ? where : "") + tail,
                 1);
    }
  }
  // A path from the settings file, with a raw C1 byte in it.
  Sandbox box;
  const std::string path = (box.dir / "x<c1><osc>.json").string();
  box.write_settings("[RUXD]\nConfig=" + expand(path, Form::raw) + "\n");
  expect_piped_and_at_terminal(
      {{"node", "list"}, {}, "", "ruxd:config: cannot open config file: " + path + "\n" + no_endpoint, 1},
      box);
}

}  // namespace
}  // namespace tarnex::testing
