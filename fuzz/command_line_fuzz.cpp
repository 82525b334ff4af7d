// Arbitrary argument vectors through option reading and dispatch. The command
// routines are replaced by recorders (this target links none of the real
// ones), so no request is built and nothing is sent; each decision is checked
// against the rules of the command line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/dispatch.hpp"
#include "cli/options.hpp"
#include "cli/usage.hpp"
#include "commands/commands.hpp"
#include "fuzz_support.hpp"

namespace {

struct Call {
  std::string routine;
  std::string action;
  std::optional<std::string> service;
  std::optional<std::string> node;
  int count = 0;
};

Call& last_call() {
  static Call call;
  return call;
}

int record(const char* routine, const std::string& action, const std::optional<std::string>& service,
           const std::optional<std::string>& node) {
  Call& call = last_call();
  call.routine = routine;
  call.action = action;
  call.service = service;
  call.node = node;
  ++call.count;
  return 0;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool one_of(const std::string& word, std::initializer_list<const char*> words) {
  for (const char* candidate : words) {
    if (word == candidate) return true;
  }
  return false;
}

// What dispatch decided must be allowed by the accepted combinations.
void check_decision(const tarnex::CliOptions& options, int status) {
  const Call& call = last_call();
  check(call.count <= 1);
  if (call.count == 0) {
    check(status == 12);
    return;
  }
  check(status == 0);
  const std::string system = options.system_given ? options.system : "cluster";
  if (options.force) check(call.routine == "run_node_command" && call.action == "exit" && call.node);
  if (call.routine == "cluster_status" || call.routine == "cluster_exit") {
    check(system == "cluster");
    check(options.action == (call.routine == "cluster_status" ? "status" : "exit"));
  } else if (call.routine == "run_node_command") {
    check(system == "node" && call.action == options.action && call.node == options.node);
    check(call.node ? one_of(call.action, {"status", "info", "disable", "enable", "break", "exit"})
                    : one_of(call.action, {"list", "status", "info"}));
  } else if (call.routine == "run_service_command") {
    check(system == "service" && call.action == options.action && call.service == options.service);
    if (!call.service) {
      check(one_of(call.action, {"list", "status", "info", "help"}) && !call.node);
    } else if (call.action == "start") {
      check(call.node == options.node);
    } else {
      check(one_of(call.action, {"status", "info", "disable", "enable", "break", "stop"}) && !call.node);
    }
  } else {
    check(call.routine == "move_service" && system == "service" && options.action == "move");
    check(call.service == options.service && call.node == options.node && !call.node->empty());
  }
}

}  // namespace

namespace tarnex {

int cluster_status() {
  return record("cluster_status", cli_options().action, std::nullopt, std::nullopt);
}
int cluster_exit(const std::string& action) {
  return record("cluster_exit", action, std::nullopt, std::nullopt);
}
int run_node_command(const std::string& action, const std::optional<std::string>& node) {
  return record("run_node_command", action, std::nullopt, node);
}
int run_service_command(const std::string& action, const std::optional<std::string>& service,
                        const std::optional<std::string>& node) {
  return record("run_service_command", action, service, node);
}
int move_service(const std::string& service, const std::string& node) {
  return record("move_service", "move", service, node);
}

}  // namespace tarnex

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
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  tarnex::CliOptions& options = tarnex::cli_options();
  options = tarnex::CliOptions{};
  last_call() = Call{};
  std::filesystem::path program_dir;
  const int outcome = tarnex::parse_command_line(options, argc, argv.data(), program_dir);
  if (outcome == 2) {
    std::printf("%s version: %s\n", tarnex::program_name().c_str(), tarnex::version_string);
  } else if (outcome != 0) {
    tarnex::print_usage();
  } else {
    options.mgmt_url = "tcp://127.0.0.1:1";  // what the configuration step would supply
    check_decision(options, tarnex::run_system());
  }
  check(last_call().count == 0 || outcome == 0);
  return 0;
}
