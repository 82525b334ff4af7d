// Arbitrary argument vectors through option reading and dispatch, with a
// daemon stand-in that records what is sent and answers every request with a
// message. Each decision is checked against the command catalogue's rows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/command_line.hpp"
#include "cli/dispatch.hpp"
#include "cli/usage.hpp"
#include "commands/catalogue.hpp"
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

// The node reference as it travels: digits as a number, anything else as text.
bool names_node(const Json& request, const char* key, const std::optional<std::string>& node) {
  if (!node) return !request.contains(key);
  if (!request.contains(key)) return false;
  const Json& sent = request.at(key);
  return sent.is_string() ? sent.get<std::string>() == *node : sent.is_number_integer();
}

bool suits(tarnex::Use use, const std::optional<std::string>& value) {
  switch (use) {
    case tarnex::Use::refused:
      return !value;
    case tarnex::Use::required:
      return value.has_value();
    case tarnex::Use::required_not_empty:
      return value && !value->empty();
    default:
      return true;
  }
}

// What dispatch decided, seen in what was sent, must be what the
// catalogue's row for the command line allows.
void check_decision(const tarnex::CliOptions& options, int status, const std::vector<Json>& sent) {
  const std::string system = options.system.value_or("cluster");
  const tarnex::CommandRow* row = tarnex::find_command(system, options.action);
  const bool accepted = row != nullptr && suits(row->node, options.node) &&
                        suits(row->service, options.service) && (!options.force || row->force);
  if (status == 12) {
    check(!accepted && sent.empty());
    return;
  }
  check(accepted);
  // A request that cannot be built (invalid UTF-8, an id beyond 64 bits)
  // ends the command before anything is sent.
  if (sent.empty()) {
    check(status == 11);
    return;
  }
  const Json& first = sent.front();
  const auto passed = [](tarnex::Use use, const std::optional<std::string>& value) {
    return use == tarnex::Use::ignored ? std::nullopt : value;
  };
  switch (row->reach) {
    case tarnex::Reach::composed:
      // The stand-in's replies hold no records, so the checks before any
      // step of a composed action refuse: it asks and changes nothing.
      check(status == 11);
      for (const Json& request : sent)
        check(request.at("cmd") == "status");
      return;
    case tarnex::Reach::overview:
      // The nodes, then the services.
      check(sent.size() == 2 && first.at("call") == "node" && first.at("cmd") == row->command &&
            sent.back().at("call") == "service");
      return;
    case tarnex::Reach::request:
      break;
  }
  check(sent.size() == 1 && first.at("call") == row->system);
  check(first.at("cmd") == row->command);
  check(first.value("force", false) == (options.force && row->force));
  if (system == "node") check(names_node(first, "id", passed(row->node, options.node)));
  if (system == "service") {
    check(names_node(first, "nodeId", passed(row->node, options.node)));
    const auto service = passed(row->service, options.service);
    check(service ? first.at("serviceName") == *service : !first.contains("serviceName"));
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

  const tarnex::Stream sink{tarnex::fuzz::sink(), false};
  tarnex::CommandLine line;
  const tarnex::Asked asked = tarnex::read_command_line(args, sink, line);
  if (asked != tarnex::Asked::command) {
    tarnex::print_usage(sink, line.options.system.value_or(""), line.program_name);
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
  const int status = tarnex::run_system(line.options, line.program_name, context);
  // Every request is the daemon's, and every ending one of the four statuses.
  check(status == 0 || status == 11 || status == 12);
  check_decision(line.options, status, daemon.requests);
  return 0;
}
