#include "config/cluster_config.hpp"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

namespace tarnex {

namespace {

using nlohmann::json;

// Cuts a fraction toward zero and keeps the low-order bits, as an integer
// source would. Done here because a plain cast of an out-of-range double is
// undefined; the parser never yields infinities or NaN.
template <typename T>
T wrap_fraction(double value) {
  static_assert(std::is_unsigned_v<T> && sizeof(T) <= sizeof(std::uint32_t));
  constexpr double modulus = static_cast<double>(std::uint64_t{1} << (8 * sizeof(T)));
  double wrapped = std::fmod(std::trunc(value), modulus);
  if (wrapped < 0) wrapped += modulus;
  return static_cast<T>(static_cast<std::uint64_t>(wrapped));
}

// Where the mapping is in the document: one step per level, a member's key
// or an array index. A read pushes its step and pops it once it succeeded, so
// a read that throws leaves the path to the member that failed.
struct Step {
  const char* key = nullptr;  // nullptr: an array element
  std::size_t index = 0;
};
using Trail = std::vector<Step>;

// Reads the member `key` of `object` with `read`, its step on the trail
// while it runs.
template <typename Read>
auto member(Trail& trail, const char* key, Read&& read) {
  trail.push_back({key, 0});
  auto value = read();
  trail.pop_back();
  return value;
}

// Reads each element of `array` with `read`, its index on the trail while
// it runs.
template <typename Read>
auto elements(Trail& trail, const json& array, Read&& read) {
  std::vector<decltype(read(array))> result;
  result.reserve(array.size());
  trail.push_back({nullptr, 0});
  for (const json& element : array) {
    result.push_back(read(element));
    ++trail.back().index;
  }
  trail.pop_back();
  return result;
}

// Any JSON number or boolean; other kinds get the library's own type error.
template <typename T>
T number_value(const json& value) {
  if (value.is_number_float()) return wrap_fraction<T>(value.get<double>());
  return value.get<T>();
}

template <typename T>
T required_number(const json& object, const char* key, Trail& trail) {
  return member(trail, key, [&] { return number_value<T>(object.at(key)); });
}

std::string required_string(const json& object, const char* key, Trail& trail) {
  return member(trail, key, [&] { return object.at(key).get<std::string>(); });
}

// A boolean with a default; a member of any other kind is a type error.
bool flag(const json& object, const char* key, bool fallback, Trail& trail) {
  return member(trail, key, [&] { return object.value(key, fallback); });
}

std::optional<std::string> optional_string(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// Only numbers written without sign, fraction or exponent qualify.
template <typename T>
std::optional<T> optional_unsigned(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_unsigned()) return std::nullopt;
  return static_cast<T>(it->get<std::uint64_t>());
}

// Numbers without fraction or exponent, signed or not.
std::optional<std::int32_t> optional_int32(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  return static_cast<std::int32_t>(it->get<std::int64_t>());
}

// A list of names the daemon relies on: one non-string element fails the load.
std::vector<std::string> strict_string_list(const json& object, const char* key, Trail& trail) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return {};
  return member(trail, key, [&] {
    return elements(trail, *it, [](const json& element) { return element.get<std::string>(); });
  });
}

// A list where the daemon itself ignores what is not a string.
std::vector<std::string> string_elements(const json& array) {
  std::vector<std::string> result;
  for (const json& element : array) {
    if (element.is_string()) result.push_back(element.get<std::string>());
  }
  return result;
}

ClusterSection read_cluster_section(const json& object, Trail& trail) {
  ClusterSection section;
  if (const auto it = object.find("type"); it != object.end() && !it->is_null()) {
    // Any kind but a string is a type error.
    section.type = member(trail, "type", [&] { return it->get<std::string>(); });
  }
  section.redundancy_n_plus = optional_unsigned<std::uint32_t>(object, "redundancy_n_plus");
  section.start_delay = optional_int32(object, "start_delay");
  section.mgmt_url = optional_string(object, "mgmt-url");
  return section;
}

NodeConfig read_node(const json& object, Trail& trail) {
  NodeConfig node;
  node.id = required_number<std::uint32_t>(object, "id", trail);
  node.internal_addr = required_string(object, "internal_addr", trail);
  node.ruxd_port = required_number<std::uint16_t>(object, "ruxd_port", trail);
  node.nodename = required_string(object, "nodename", trail);
  node.assigned_target = optional_string(object, "assigned_target").value_or(std::string());
  node.enabled = flag(object, "enabled", true, trail);
  node.devices = strict_string_list(object, "devices", trail);
  node.site_id = optional_unsigned<std::uint32_t>(object, "site-id");
  node.leadership_disabled = flag(object, "leadership_disabled", false, trail);
  node.runner_port = optional_unsigned<std::uint16_t>(object, "runner_port");
  return node;
}

ExternalIp read_external_ip(const json& object) {
  ExternalIp ip;
  ip.interface = optional_string(object, "interface").value_or(std::string());
  ip.ip = optional_string(object, "ip").value_or(std::string());
  ip.label = optional_string(object, "label").value_or(std::string());
  ip.netmask = optional_string(object, "netmask").value_or(std::string());
  return ip;
}

ServiceConfig read_service(const json& object, Trail& trail) {
  ServiceConfig service;
  service.name = required_string(object, "name", trail);
  service.enabled = flag(object, "enabled", true, trail);
  if (const auto it = object.find("ext_ips"); it != object.end() && it->is_array()) {
    service.ext_ips.reserve(it->size());
    // An element that is not an object still counts, with every field empty.
    for (const json& element : *it)
      service.ext_ips.push_back(read_external_ip(element));
  }
  service.pools = strict_string_list(object, "pools", trail);
  service.pri0 = optional_unsigned<std::uint32_t>(object, "pri0");
  service.pri1 = optional_unsigned<std::uint32_t>(object, "pri1");
  return service;
}

ServiceGroupConfig read_service_group(const json& object, Trail& trail) {
  ServiceGroupConfig group;
  group.name = required_string(object, "name", trail);
  group.services = strict_string_list(object, "services", trail);
  return group;
}

// The daemon accepts the node id of a preference as text too, read the way
// strtoul reads it.
std::uint32_t preference_node_id(const json& value) {
  if (!value.is_string()) return number_value<std::uint32_t>(value);
  const auto& text = value.get_ref<const std::string&>();
  unsigned long id = 0;
  try {
    id = std::stoul(text, nullptr, 10);
  } catch (const std::invalid_argument&) {
    // The library's own text ("stoul") tells an operator nothing.
    throw std::invalid_argument("preference node id is not a number: " + text);
  } catch (const std::out_of_range&) {
    throw std::out_of_range("preference node id out of uint32_t range: " + text);
  }
  if (id > std::numeric_limits<std::uint32_t>::max()) {
    throw std::out_of_range("preference node id out of uint32_t range: " + text);
  }
  return static_cast<std::uint32_t>(id);
}

DistributionPreference read_preference(const json& object, Trail& trail) {
  DistributionPreference preference;
  preference.service = required_string(object, "service", trail);
  preference.node = member(trail, "node", [&] { return preference_node_id(object.at("node")); });
  return preference;
}

HaSection read_ha_section(const json& object) {
  HaSection ha;
  if (const auto it = object.find("disks"); it != object.end() && it->is_array()) {
    ha.disks = string_elements(*it);
  }
  ha.candidate_timeout_sec = optional_int32(object, "candidate_timeout_sec");
  ha.leader_period_sec = optional_int32(object, "leader_period_sec");
  return ha;
}

template <typename Record>
std::vector<Record> read_records(const json& root, const char* key, Record (*read)(const json&, Trail&),
                                 Trail& trail) {
  const auto it = root.find(key);
  if (it == root.end() || !it->is_array()) return {};
  return member(trail, key, [&] {
    return elements(trail, *it, [&](const json& element) { return read(element, trail); });
  });
}

ClusterConfig map_config(const json& root, Trail& trail) {
  ClusterConfig config;
  if (!root.is_object()) return config;
  if (const auto it = root.find("cluster"); it != root.end() && it->is_object()) {
    config.cluster = member(trail, "cluster", [&] { return read_cluster_section(*it, trail); });
  }
  config.nodes = read_records(root, "nodes", read_node, trail);
  config.services = read_records(root, "services", read_service, trail);
  config.service_groups = read_records(root, "service_groups", read_service_group, trail);
  config.distribution_preferences = read_records(root, "distribution_preferences", read_preference, trail);
  if (const auto it = root.find("ha"); it != root.end() && it->is_object()) {
    config.ha = read_ha_section(*it);
  }
  if (const auto it = root.find("pools"); it != root.end() && it->is_object()) {
    for (const auto& pool : it->items()) {
      if (pool.value().is_array()) config.pools.emplace(pool.key(), string_elements(pool.value()));
    }
  }
  return config;
}

// The JSON pointer of a trail, "/nodes/2/ruxd_port".
std::string pointer_text(const Trail& trail) {
  json::json_pointer pointer;
  for (const Step& step : trail)
    pointer.push_back(step.key != nullptr ? std::string(step.key) : std::to_string(step.index));
  return pointer.to_string();
}

// Reads the text once without building anything, to give up once arrays and
// objects nest deeper than max_config_depth: the parser itself copes with any
// depth, yet each level of a document costs memory, and a file of nothing but
// opening brackets would take gigabytes before it failed. A syntax error only
// ends the walk; the library reports it when it reads the text for real.
class NestingCheck : public json::json_sax_t {
 public:
  bool null() override { return true; }
  bool boolean(bool /*value*/) override { return true; }
  bool number_integer(number_integer_t /*value*/) override { return true; }
  bool number_unsigned(number_unsigned_t /*value*/) override { return true; }
  bool number_float(number_float_t /*value*/, const string_t& /*text*/) override { return true; }
  bool string(string_t& /*value*/) override { return true; }
  bool binary(binary_t& /*value*/) override { return true; }
  bool start_object(std::size_t /*size*/) override { return enter(); }
  bool key(string_t& /*value*/) override { return true; }
  bool end_object() override { return leave(); }
  bool start_array(std::size_t /*size*/) override { return enter(); }
  bool end_array() override { return leave(); }
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                   const json::exception& /*error*/) override {
    return false;
  }

 private:
  bool enter() {
    if (++depth_ > max_config_depth) {
      throw std::runtime_error("config file nested deeper than " + std::to_string(max_config_depth) +
                               " levels");
    }
    return true;
  }
  bool leave() {
    --depth_;
    return true;
  }

  std::size_t depth_ = 0;
};

}  // namespace

namespace {

ClusterConfig read_cluster_config(const std::string& path, std::string* failed_member) {
  // Only a regular file can be a configuration. Opening a FIFO would wait for
  // a writer for ever, and a directory opens fine on some systems and only
  // fails on the first read; neither is more usable than a missing path.
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) {
    throw std::runtime_error("cannot open config file: " + path);
  }
  std::ifstream in(path);
  if (!in.is_open() || !in.good()) throw std::runtime_error("cannot open config file: " + path);
  NestingCheck nesting;
  json::sax_parse(in, &nesting, json::input_format_t::json, false, false);
  in.clear();
  in.seekg(0);
  // One value; whatever follows it is not examined (not strict).
  json document;
  in >> document;
  Trail trail;
  try {
    return map_config(document, trail);
  } catch (...) {
    if (failed_member != nullptr) *failed_member = pointer_text(trail);
    throw;
  }
}

}  // namespace

std::optional<ClusterConfig> load_cluster_config(const std::string& path, std::string* error,
                                                 std::string* failed_member) {
  try {
    return read_cluster_config(path, failed_member);
  } catch (const std::exception& failure) {
    *error = failure.what();
  } catch (...) {
    *error = path + ": unknown exception";
  }
  return std::nullopt;
}

}  // namespace tarnex
