// Arbitrary argument vectors through option reading and dispatch, with a
// daemon stand-in that records what is sent and answers every request with a
// message. Each decision is checked against the accepted combinations of the
// command line, written out here on their own.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/command_line.hpp"
#include "cli/dispatch.hpp"
#include "cli/usage.hpp"
#include "fuzz_support.hpp"

namespace {

using Json = nlohmann::json;

struct Recorder : tarnex::Transport {
  struct Sent : tarnex::Connection {
    explicit Sent(Recorder& owner) : recorder(owner) {}
    bool send(const std::string& /*endpoint*/, const std::string& request) override {
      recorder.requests.push_back(Json::parse(request));
      return true;
    }
    std::optional<std::string> receive(std::chrono::milliseconds /*wait*/) override {
      return std::string(R"({"response": {"message": "ok"}})");
    }
    Recorder& recorder;
  };
  std::unique_ptr<tarnex::Connection> open(bool /*watch_peer*/) override {
    return std::make_unique<Sent>(*this);
  }
  std::vector<Json> requests;
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool one_of(const std::string& word, std::initializer_list<const char*> words) {
  for (const char* candidate : words) {
    if (word == candidate) return true;
  }
  return false;
}

std::string wire_command(const std::string& action) {
  return action == "list" || action == "info" ? "status" : action;
}

// The node reference as it travels: digits as a number, anything else as text.
bool names_node(const Json& request, const char* key, const std::optional<std::string>& node) {
  if (!node) return !request.contains(key);
  if (!request.contains(key)) return false;
  const Json& sent = request.at(key);
  return sent.is_string() ? sent.get<std::string>() == *node : sent.is_number_integer();
}

// What dispatch decided, seen in what was sent, must be allowed by the
// accepted combinations.
void check_decision(const tarnex::CliOptions& options, int status, const std::vector<Json>& sent) {
  const std::string system = options.system_given ? options.system : "cluster";
  const std::string& action = options.action;
  if (status == 12) {
    check(sent.empty());
    return;
  }
  // A request that cannot be built (invalid UTF-8, an id beyond 64 bits)
  // ends the command before anything is sent.
  if (sent.empty()) {
    check(status == 11);
    return;
  }
  const Json& first = sent.front();
  if (options.force) check(system == "node" && action == "exit" && first.value("force", false));
  if (system == "cluster") {
    check(one_of(action, {"status", "exit"}));
    check(sent.size() == (action == "status" ? 2U : 1U));
  } else if (system == "node") {
    check(sent.size() == 1 && first.at("call") == "node" && first.at("cmd") == wire_command(action));
    check(options.node ? one_of(action, {"status", "info", "disable", "enable", "break", "exit"})
                       : one_of(action, {"list", "status", "info"}));
    check(names_node(first, "id", options.node));
  } else if (action == "move") {
    check(system == "service" && options.service && options.node && !options.node->empty());
    check(first.at("call") == "node" && first.at("cmd") == "status");
  } else {
    check(system == "service" && sent.size() == 1 && first.at("call") == "service");
    check(first.at("cmd") == wire_command(action));
    if (!options.service) {
      check(one_of(action, {"list", "status", "info", "help"}) && !first.contains("serviceName"));
    } else {
      check(first.at("serviceName") == *options.service);
      check(one_of(action, {"status", "info", "disable", "enable", "break", "stop", "start"}));
    }
    check(names_node(first, "nodeId", action == "start" ? options.node : std::nullopt));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tarnex::fuzz::silence_stdout();
  return 0;
}

// The input is the argument vector, NUL-separated, argv[0] first.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t max_args = 64;
  std::vector<std::string> args;
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= size && args.size() < max_args; ++i) {
    if (i == size || text[i] == '\0') {
      args.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }

  FILE* sink = tarnex::fuzz::sink();
  tarnex::CommandLine line;
  const tarnex::Asked asked = tarnex::read_command_line(args, sink, line);
  if (asked != tarnex::Asked::command) {
    tarnex::print_usage(sink, line.options.system, line.program_name);
    return 0;
  }
  Recorder daemon;
  tarnex::CommandContext context;
  context.out = sink;
  context.err = sink;
  context.program_name = line.program_name;
  context.daemon.transport = &daemon;
  context.daemon.endpoint = "tcp://127.0.0.1:1";  // what the configuration step would supply
  context.daemon.progress = sink;
  context.daemon.err = sink;
  line.options.mgmt_url = context.daemon.endpoint;
  const int status = tarnex::run_system(line.options, line.program_name, context);
  // Every request is the daemon's, and every ending one of the four statuses.
  check(status == 0 || status == 11 || status == 12);
  check_decision(line.options, status, daemon.requests);
  return 0;
}
