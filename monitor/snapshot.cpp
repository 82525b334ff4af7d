#include "monitor/snapshot.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <system_error>
#include <utility>

#include "base/terminal_text.hpp"
#include "config/discovery.hpp"
#include "daemon/exchange.hpp"
#include "daemon/message.hpp"
#include "daemon/transport.hpp"
#include "daemon/zmq_transport.hpp"

namespace tarnex::monitor {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

// One request on a fresh connection, answered before `deadline`: its parsed
// reply, or nothing with the reason.
std::optional<Json> exchange(const Source& source, const Json& request, Clock::time_point deadline,
                             std::string* error, bool* no_reply) {
  ExchangeSettings settings;
  settings.transport = source.transport;
  settings.endpoint = source.endpoint;
  // What is left of the bound, at least a millisecond: no timeout would be
  // a wait for ever.
  settings.timeout = std::max(duration_cast<milliseconds>(deadline - source.now()), milliseconds(1));
  ExchangeResult result;
  try {
    result = carry_request(settings, request);
  } catch (const std::exception& failure) {
    result = {Json(), ExchangeFailure::send_failed, failure.what(), true};
  }
  switch (result.failure) {
    case ExchangeFailure::none:
      return std::move(result.reply);
    case ExchangeFailure::no_reply:
      *no_reply = true;
      *error = "no reply from " + shown(source.endpoint) + " within " + seconds_text(source.bound);
      break;
    case ExchangeFailure::not_json:
      *error = "the daemon's reply cannot be read: " + shown(result.text);
      break;
    default:
      *error = "the exchange with " + shown(source.endpoint) + " failed: " + shown(result.text);
      break;
  }
  return std::nullopt;
}

// The reply's "response" array, or nothing with the reason.
const Json* response_of(const Json& reply, std::string* error) {
  static const JsonPointer error_pointer{"/error"};
  static const JsonPointer message_pointer{"/errorMessage"};
  if (reply.is_object() && reply.contains("error")) {
    *error = "the daemon refused the status request: " +
             shown(json_get_string(reply, message_pointer, "error " + reply.at(error_pointer).dump()));
    return nullptr;
  }
  const Json* response = response_list(reply);
  if (response == nullptr) *error = "the daemon's reply holds no response list";
  return response;
}

// The monitors' reading: nodes and services as the client's tables read
// them; nothing of the replies is kept.
void read_records(const Json& nodes, const Json& services, Snapshot* snapshot) {
  static const ReadRules rules{.merged = true, .only_numbered = true};
  snapshot->nodes = read_nodes(nodes, rules);
  snapshot->services = read_services(services, rules);
  for (NodeRecord& node : snapshot->nodes)
    node.source = nullptr;
  for (ServiceRecord& service : snapshot->services)
    service.source = nullptr;
}

}  // namespace

std::string version_line(std::string_view program) {
  return std::string(program) + " " TARNEX_PACKAGE_VERSION " (tarnex-viravi build " TARNEX_BUILD_STRING ")\n";
}

std::string shown(std::string_view text) {
  return neutralised(text, true, TextKind::name);
}

std::optional<double> parse_decimal(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (error != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::unique_ptr<Transport> daemon_transport() {
  return std::make_unique<ZmqTransport>();
}

std::optional<std::string> find_endpoint(const std::filesystem::path& program_dir, std::string* error) {
  const Configuration configuration =
      load_configuration("tarnex-viravi", program_dir, WorkingDirectory::not_searched);
  if (!configuration.mgmt_url.empty()) return configuration.mgmt_url;
  error->clear();
  for (const std::string& line : configuration.messages)
    *error += (error->empty() ? "" : "\n") + shown(line);
  if (error->empty())
    *error = "the daemon configuration " + shown(configuration.config_path) + " names no endpoint";
  return std::nullopt;
}

namespace {

bool read_parsed(const Json& nodes, const Json& services, Snapshot* snapshot, std::string* error) {
  try {
    if (response_of(nodes, error) == nullptr || response_of(services, error) == nullptr) return false;
    read_records(nodes, services, snapshot);
    return true;
  } catch (const std::exception& failure) {
    *error = "the daemon's reply cannot be read: " + shown(failure.what());
    return false;
  }
}

}  // namespace

bool read_replies(const std::string& nodes_reply, const std::string& services_reply, Snapshot* snapshot,
                  std::string* error) {
  try {
    return read_parsed(parse_strict(nodes_reply, "reply"), parse_strict(services_reply, "reply"), snapshot,
                       error);
  } catch (const std::exception& failure) {
    *error = "the daemon's reply cannot be read: " + shown(failure.what());
    return false;
  }
}

std::optional<Snapshot> take_snapshot(const Source& source, std::string* error, bool* silent) {
  Json node_status;
  Json service_status;
  try {
    node_status = node_request("status", std::nullopt, false);
    service_status = pools_request(node_status);
    serialize_request(node_status);
    serialize_request(service_status);
  } catch (const std::exception& failure) {
    *error = std::string("the status requests cannot be built: ") + failure.what();
    return std::nullopt;
  }
  const Clock::time_point start = source.now();
  const Clock::time_point deadline = source.since.value_or(start) + source.bound;
  bool no_reply = false;
  const std::optional<Json> nodes = exchange(source, node_status, deadline, error, &no_reply);
  std::optional<Json> services;
  if (nodes) services = exchange(source, service_status, deadline, error, &no_reply);
  if (silent != nullptr) *silent = no_reply;
  if (!services) return std::nullopt;
  Snapshot snapshot;
  snapshot.took = source.now() - start;
  if (!read_parsed(*nodes, *services, &snapshot, error)) return std::nullopt;
  return snapshot;
}

}  // namespace tarnex::monitor
