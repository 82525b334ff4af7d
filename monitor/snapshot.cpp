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
                             std::string* error) {
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
  if (!reply.is_object() || !reply.contains("response") || !reply.at("response").is_array()) {
    *error = "the daemon's reply holds no response list";
    return nullptr;
  }
  return &reply.at("response");
}

// Only ids 1..1023 name a node, judged on the low 32 bits taken as signed,
// as the client's tables judge them.
int placed_node(std::int64_t run_node) {
  const auto low =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(run_node)));
  return low >= 1 && low <= 1023 ? low : 0;
}

void read_nodes(const Json& response, std::vector<NodeRecord>& nodes) {
  static const JsonPointer id_pointer{"/id"};
  static const JsonPointer name_pointer{"/nodename"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};
  for (const Json& record : response) {
    const std::int64_t id = json_get_int(record, id_pointer, -1);
    if (id < 0) continue;
    nodes.push_back({id, json_get_string(record, name_pointer, ""),
                     json_get_string(record, state_pointer, ""),
                     json_get_bool(record, enabled_pointer, false)});
  }
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const NodeRecord& a, const NodeRecord& b) { return a.id < b.id; });
  nodes.erase(std::unique(nodes.begin(), nodes.end(),
                          [](const NodeRecord& a, const NodeRecord& b) { return a.id == b.id; }),
              nodes.end());
}

// Pools come as the elements of an array, the member values of an object, or
// a single non-null value.
void read_pools(const Json& record, std::vector<PoolRecord>& pools) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer state_pointer{"/state"};
  if (!record.is_object() || !record.contains("pools")) return;
  const Json& value = record.at("pools");
  const auto add = [&](const Json& pool) {
    pools.push_back({json_get_string(pool, name_pointer, ""), json_get_string(pool, state_pointer, "")});
  };
  if (value.is_array() || value.is_object()) {
    for (const Json& pool : value)
      add(pool);
  } else if (!value.is_null()) {
    add(value);
  }
}

void read_services(const Json& response, std::vector<ServiceRecord>& services) {
  static const JsonPointer name_pointer{"/name"};
  static const JsonPointer run_node_pointer{"/run_node"};
  static const JsonPointer state_pointer{"/state"};
  static const JsonPointer enabled_pointer{"/enabled"};
  std::vector<ServiceRecord> records;
  records.reserve(response.size());
  for (const Json& record : response) {
    ServiceRecord service{json_get_string(record, name_pointer, ""),
                          placed_node(json_get_int(record, run_node_pointer, -1)),
                          json_get_string(record, state_pointer, ""),
                          json_get_bool(record, enabled_pointer, false),
                          {},
                          record.is_object() && record.contains("error"),
                          {}};
    read_pools(record, service.pools);
    records.push_back(std::move(service));
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const ServiceRecord& a, const ServiceRecord& b) { return a.name < b.name; });
  for (ServiceRecord& record : records) {
    if (!services.empty() && services.back().name == record.name) {
      if (!record.error) services.back().more_states.push_back(std::move(record.state));
      auto& pools = services.back().pools;
      pools.insert(pools.end(), std::make_move_iterator(record.pools.begin()),
                   std::make_move_iterator(record.pools.end()));
    } else {
      services.push_back(std::move(record));
    }
  }
}

}  // namespace

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
    const Json* node_list = response_of(nodes, error);
    if (node_list == nullptr) return false;
    const Json* service_list = response_of(services, error);
    if (service_list == nullptr) return false;
    read_nodes(*node_list, snapshot->nodes);
    read_services(*service_list, snapshot->services);
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

std::optional<Snapshot> take_snapshot(const Source& source, std::string* error) {
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
  const std::optional<Json> nodes = exchange(source, node_status, deadline, error);
  if (!nodes) return std::nullopt;
  const std::optional<Json> services = exchange(source, service_status, deadline, error);
  if (!services) return std::nullopt;
  Snapshot snapshot;
  snapshot.took = source.now() - start;
  if (!read_parsed(*nodes, *services, &snapshot, error)) return std::nullopt;
  return snapshot;
}

}  // namespace tarnex::monitor
