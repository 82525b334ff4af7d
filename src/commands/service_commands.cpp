#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "cli/options.hpp"
#include "commands/commands.hpp"
#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
#include "output/tables.hpp"

namespace tarnex {
namespace {

// The hint written when a stop signal ends the program while a move waits for
// its start (the daemon died after the stop, say): without it the operator
// would be left with a stopped service and no word of it.
std::atomic<const char*> interrupt_hint{nullptr};
std::atomic<std::size_t> interrupt_hint_size{0};
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(stop_signals)];
bool armed[std::size(stop_signals)] = {};

extern "C" void write_interrupt_hint(int signal_number) {
  if (const char* text = interrupt_hint.load()) {
    const ssize_t written = write(STDERR_FILENO, text, interrupt_hint_size.load());
    static_cast<void>(written);
  }
  // The handler was reset on entry and the signal is not blocked: this ends
  // the program the way the signal would have.
  raise(signal_number);
}

// A signal that was ignored when the program started stays ignored.
void arm_interrupt_hint(const std::string& hint) {
  interrupt_hint_size.store(hint.size());
  interrupt_hint.store(hint.c_str());
  struct sigaction action {};
  action.sa_handler = write_interrupt_hint;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(stop_signals); ++i) {
    armed[i] = sigaction(stop_signals[i], nullptr, &saved_actions[i]) == 0 &&
               saved_actions[i].sa_handler != SIG_IGN && sigaction(stop_signals[i], &action, nullptr) == 0;
  }
}

void disarm_interrupt_hint() {
  for (std::size_t i = 0; i < std::size(stop_signals); ++i) {
    if (armed[i]) sigaction(stop_signals[i], &saved_actions[i], nullptr);
    armed[i] = false;
  }
  interrupt_hint.store(nullptr);
}

std::string move_recovery_hint(const std::string& service, const std::string& id_text) {
  static constexpr char format[] =
      "Service %s was stopped, but the start on node %s did not complete.\n"
      "Check the actual state: %s service status --name=%s\n";
  const int size = std::snprintf(nullptr, 0, format, service.c_str(), id_text.c_str(), program_name().c_str(),
                                 service.c_str());
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, service.c_str(), id_text.c_str(), program_name().c_str(),
                service.c_str());
  text.pop_back();
  return text;
}

void print_service_line(const Json& record) {
  static const JsonPointer name_pointer("/name");
  static const JsonPointer run_node_pointer("/run_node");
  static const JsonPointer state_pointer("/state");
  static const JsonPointer enabled_pointer("/enabled");
  const std::string name = json_get_string(record, name_pointer, "");
  print_service_row(
      stdout, static_cast<int>(name.size()), name, json_get_string(record, run_node_pointer, "-"),
      json_get_string(record, state_pointer, ""), json_get_bool(record, enabled_pointer, false));
  print_pool_list(stdout, record);
  std::fputc('\n', stdout);
}

void print_help_list(const Json& entries) {
  static const JsonPointer self("");
  std::printf("COMMAND\n");
  for (const Json& entry : entries)
    print_text_line(json_get_string(entry, self, ""));
}

// Shows the records of a reply to a request naming one service; the first
// element that reports an error ends the walk with status 11.
int print_named_records(const std::string& action, const std::string& service, const Json& records) {
  static const JsonPointer error_message_pointer("/errorMessage");
  static const JsonPointer name_pointer("/name");
  const bool show = action == "info" || action == "status";
  for (const Json& record : records) {
    if (record.is_object() && record.contains("error")) {
      std::fprintf(stderr, "Error: %s: %s\n", json_get_string(record, error_message_pointer, "").c_str(),
                   json_get_string(record, name_pointer, service).c_str());
      return exit_request_failed;
    }
    if (show) print_service_line(record);
  }
  return exit_success;
}

}  // namespace

int show_service_reply(const std::string& action, const std::optional<std::string>& service,
                       const Json& body) {
  static const JsonPointer message_pointer("/response/message");
  if (!body.is_object()) return exit_success;

  auto response = body.find("response");
  if (response != body.end() && response->is_array()) {
    if (action == "help") {
      print_help_list(*response);
      return exit_success;
    }
    if (!service) {
      print_tables(Json(), body);
      return exit_success;
    }
    return print_named_records(action, *service, *response);
  }
  if (response != body.end() && response->is_object() && body.contains(message_pointer)) {
    // The one strictly read member: a message that is not a string is an error.
    print_text_line(response->at("message").get<std::string>());
  }
  return exit_success;
}

int run_service_command(const std::string& action, const std::optional<std::string>& service,
                        const std::optional<std::string>& node) {
  return run_guarded([&] {
    DaemonReply reply = send_request(service_request(action, service, node));
    if (reply.exit_code != 0) return reply.exit_code;
    return show_service_reply(action, service, reply.body);
  });
}

std::optional<std::int64_t> check_move_target(const Json& nodes, const std::string& node) {
  static const JsonPointer id_pointer("/id");
  static const JsonPointer enabled_pointer("/enabled");
  static const JsonPointer state_pointer("/state");

  const Json* record = lookup_node(nodes, node);
  if (record == nullptr) {
    std::fprintf(stderr, "Error: node can not be found: %s\n", node.c_str());
    return std::nullopt;
  }
  const std::int64_t id = json_get_int(*record, id_pointer, -1);
  if (id < 0) {
    std::fprintf(stderr, "Error: cannot resolve node id: %s\n", node.c_str());
    return std::nullopt;
  }
  if (!json_get_bool(*record, enabled_pointer, false)) {
    std::fprintf(stderr, "Error: cannot run service on disabled node: %s\n", node.c_str());
    return std::nullopt;
  }
  const std::string state = json_get_string(*record, state_pointer, "");
  if (state != "ONLINE") {
    std::fprintf(stderr, "Error: cannot run service on node %s: state is %s\n", node.c_str(),
                 state.empty() ? "unknown" : state.c_str());
    return std::nullopt;
  }
  return id;
}

int move_service(const std::string& service, const std::string& node) {
  return run_guarded([&] {
    DaemonReply nodes = send_request(node_request("status", std::nullopt, false));
    if (nodes.exit_code != 0) return nodes.exit_code;
    const std::optional<std::int64_t> id = check_move_target(nodes.body, node);
    if (!id) return exit_request_failed;
    const std::string id_text = std::to_string(*id);

    int stopped = run_service_command("stop", service, std::nullopt);
    if (stopped != exit_success) return stopped;
    const std::string hint = move_recovery_hint(service, id_text);
    // What the stop printed must not be lost if a signal ends the start.
    std::fflush(stdout);
    arm_interrupt_hint(hint);
    int started = run_service_command("start", service, id_text);
    disarm_interrupt_hint();
    if (started == exit_success) return exit_success;
    std::fputs(hint.c_str(), stderr);
    return started;
  });
}

}  // namespace tarnex
