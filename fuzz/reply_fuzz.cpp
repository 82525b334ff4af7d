// Reply handling on arbitrary reply texts: the strict parse and the failure
// test, then every consumer of a reply, each under the handler its command
// runs it in. Only crashes, sanitizer reports, leaks and hangs are faults;
// an exception is the command's "Exception: %s" ending. Everything runs as
// into a pipe and as onto a terminal, where no control character may pass.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/terminal_text.hpp"
#include "commands/catalogue.hpp"
#include "commands/context.hpp"
#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/requests.hpp"
#include "commands/service_steps.hpp"
#include "commands/support.hpp"
#include "fuzz_support.hpp"
#include "output/json_output.hpp"
#include "output/tables.hpp"

namespace {

using tarnex::Json;
using tarnex::fuzz::sink;
using Reference = std::optional<std::string>;

struct NodeCase {
  const char* action;
  Reference node;
};

tarnex::CommandContext context_for(bool terminal) {
  tarnex::CommandContext context;
  context.out = {sink(), terminal};
  context.err = {sink(), terminal};
  return context;
}

// The rows of the catalogue, as each command of `system` shows its reply.
template <typename Visit>
void for_each_row(std::string_view system, Visit&& visit) {
  for (const tarnex::CommandRow& row : tarnex::command_catalogue()) {
    if (row.system == system) visit(row);
  }
}

// At a terminal no byte of a control character is left; a message keeps
// only its newlines and tabs.
void check_neutralised(const std::string& text) {
  for (const tarnex::TextKind kind : {tarnex::TextKind::message, tarnex::TextKind::name}) {
    const std::string shown = tarnex::neutralised(text, true, kind);
    for (std::size_t i = 0; i < shown.size(); ++i) {
      const auto byte = static_cast<unsigned char>(shown[i]);
      const bool kept = kind == tarnex::TextKind::message && (byte == '\n' || byte == '\t');
      const auto next = i + 1 < shown.size() ? static_cast<unsigned char>(shown[i + 1]) : 0;
      const bool c1 = byte == 0xC2 && next >= 0x80 && next <= 0x9F;
      if ((byte < 0x20 && !kept) || byte == 0x7F || c1) __builtin_trap();
    }
  }
  if (tarnex::neutralised(text, false, tarnex::TextKind::name) != text) __builtin_trap();
}

void node_commands(const tarnex::CommandContext& context, const Json& body) {
  static const Reference nodes[] = {std::nullopt, "1", "alpha", "007", "", "node-a"};
  for_each_row("node", [&](const tarnex::CommandRow& row) {
    for (const Reference& node : nodes) {
      tarnex::run_guarded(context, [&] {
        const Json request = tarnex::node_request(row.command, node, false);
        return tarnex::show_node_reply(context, row.show, node, request, body);
      });
    }
  });
}

void service_commands(const tarnex::CommandContext& context, const Json& body) {
  static const Reference services[] = {std::nullopt, "db", "web"};
  for_each_row("service", [&](const tarnex::CommandRow& row) {
    for (const Reference& service : services) {
      tarnex::run_guarded(context,
                          [&] { return tarnex::show_service_reply(context, row.show, service, body); });
    }
  });
  for (const char* target : {"1", "2", "alpha", ""}) {
    tarnex::run_guarded(context, [&] { return tarnex::check_target_node(context, body, target) ? 0 : 11; });
    tarnex::run_guarded(context,
                        [&] { return tarnex::check_service(context, body, target, "move") ? 0 : 11; });
  }
}

void cluster_status(const tarnex::CommandContext& context, const Json& body) {
  tarnex::run_guarded(context, [&] {
    tarnex::print_tables(context.out, body, body);
    tarnex::print_tables(context.out, body, Json());
    tarnex::print_tables(context.out, Json(), body);
    return 0;
  });
  tarnex::run_guarded(context, [&] {
    const Json document = tarnex::build_status_document(body, body);
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::strict);
    tarnex::print_status_document(context.out, document);
    // Scripts parse the document: it must always be one JSON value.
    if (!Json::accept(text)) __builtin_trap();
    return 0;
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tarnex::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  check_neutralised(text);
  Json body;
  try {
    body = tarnex::parse_reply(text, {sink(), size % 2 == 0}).body;
  } catch (const std::exception&) {
    return 0;  // the command's "Exception: %s"
  }
  // Consumers see failed replies too: cluster status shows whatever the other
  // request brought back.
  for (const char* key : {"1", "alpha", ""})
    static_cast<void>(tarnex::lookup_node(body, key));
  for (const bool terminal : {false, true}) {
    const tarnex::CommandContext context = context_for(terminal);
    node_commands(context, body);
    service_commands(context, body);
    cluster_status(context, body);
  }
  return 0;
}
