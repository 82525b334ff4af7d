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
#include "daemon/message.hpp"
#include "daemon/transport.hpp"
#include "daemon/zmq_transport.hpp"

namespace tarnex::monitor {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

std::string seconds_text(milliseconds bound) {
  const auto count = bound.count();
  std::string text = std::to_string(count / 1000);
  if (count % 1000 != 0) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(count % 1000));
    std::string digits = fraction;
    while (digits.back() == '0')
      digits.pop_back();
    text += digits;
  }
  return text + " s";
}

// One request on a fresh connection, answered before `deadline`.
std::optional<std::string> exchange(const Source& source, const std::string& request,
                                    Clock::time_point deadline, std::string* error) {
  try {
    const std::unique_ptr<Connection> connection = source.transport->open(false);
    if (!connection->send(source.endpoint, request)) {
      *error = "the request to " + shown(source.endpoint) + " could not be sent";
      return std::nullopt;
    }
    for (;;) {
      const milliseconds left = duration_cast<milliseconds>(deadline - source.now());
      if (left.count() <= 0) break;
      if (std::optional<std::string> reply = connection->receive(left)) return reply;
    }
    *error = "no reply from " + shown(source.endpoint) + " within " + seconds_text(source.bound);
  } catch (const std::exception& failure) {
    *error = "the exchange with " + shown(source.endpoint) + " failed: " + shown(failure.what());
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
  const Configuration configuration = load_configuration("tarnex-viravi", program_dir);
  if (!configuration.mgmt_url.empty()) return configuration.mgmt_url;
  error->clear();
  for (const std::string& line : configuration.messages)
    *error += (error->empty() ? "" : "\n") + shown(line);
  if (error->empty())
    *error = "the daemon configuration " + shown(configuration.config_path) + " names no endpoint";
  return std::nullopt;
}

bool read_replies(const std::string& nodes_reply, const std::string& services_reply, Snapshot* snapshot,
                  std::string* error) {
  try {
    const Json nodes = parse_strict(nodes_reply, "reply");
    const Json services = parse_strict(services_reply, "reply");
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

std::optional<Snapshot> take_snapshot(const Source& source, std::string* error) {
  std::string node_request_text;
  std::string service_request_text;
  try {
    const Json request = node_request("status", std::nullopt, false);
    node_request_text = serialize_request(request);
    service_request_text = serialize_request(pools_request(request));
  } catch (const std::exception& failure) {
    *error = std::string("the status requests cannot be built: ") + failure.what();
    return std::nullopt;
  }
  const Clock::time_point start = source.now();
  const Clock::time_point deadline = source.since.value_or(start) + source.bound;
  const std::optional<std::string> nodes = exchange(source, node_request_text, deadline, error);
  if (!nodes) return std::nullopt;
  const std::optional<std::string> services = exchange(source, service_request_text, deadline, error);
  if (!services) return std::nullopt;
  Snapshot snapshot;
  snapshot.took = source.now() - start;
  if (!read_replies(*nodes, *services, &snapshot, error)) return std::nullopt;
  return snapshot;
}

}  // namespace tarnex::monitor
