// Reply handling on arbitrary reply texts: the strict parse and the failure
// test, then every consumer of a reply, each under the handler its command
// runs it in. Only crashes, sanitizer reports, leaks and hangs are faults;
// an exception is the command's "Exception: %s" ending.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "commands/lookup.hpp"
#include "commands/replies.hpp"
#include "commands/support.hpp"
#include "daemon/exchange.hpp"
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

void node_commands(const Json& body) {
  static const NodeCase cases[] = {
      {"list", std::nullopt}, {"status", std::nullopt}, {"status", "1"}, {"info", "alpha"},
      {"status", "007"},      {"status", ""},           {"enable", "2"}, {"exit", "node-a"},
  };
  for (const NodeCase& c : cases) {
    tarnex::run_guarded(sink(), [&] {
      const Json request = tarnex::node_request(c.action, c.node, false);
      return tarnex::show_node_reply(sink(), sink(), c.action, c.node, request, body);
    });
  }
}

void service_commands(const Json& body) {
  static const NodeCase cases[] = {
      {"list", std::nullopt}, {"help", std::nullopt}, {"status", "db"}, {"stop", "db"}, {"start", "web"},
  };
  for (const NodeCase& c : cases) {
    tarnex::run_guarded(sink(),
                        [&] { return tarnex::show_service_reply(sink(), sink(), c.action, c.node, body); });
  }
  for (const char* target : {"1", "2", "alpha", ""}) {
    std::int64_t id = -1;
    tarnex::run_guarded(sink(), [&] { return tarnex::check_move_target(sink(), body, target, id); });
  }
}

void cluster_status(const Json& body) {
  tarnex::run_guarded(sink(), [&] {
    tarnex::print_tables(body, body, sink());
    tarnex::print_tables(body, Json(), sink());
    tarnex::print_tables(Json(), body, sink());
    return 0;
  });
  tarnex::run_guarded(sink(), [&] {
    const Json document = tarnex::build_status_document(body, body);
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::strict);
    tarnex::print_status_document(document, sink());
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
  tarnex::DaemonReply reply;
  try {
    reply = tarnex::parse_reply(text, sink());
  } catch (const std::exception&) {
    return 0;  // the command's "Exception: %s"
  }
  // Consumers see failed replies too: cluster status shows whatever the other
  // request brought back.
  for (const char* key : {"1", "alpha", ""})
    static_cast<void>(tarnex::lookup_node(reply.body, key));
  node_commands(reply.body);
  service_commands(reply.body);
  cluster_status(reply.body);
  return 0;
}
