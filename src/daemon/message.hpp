#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace tarnex {

using Json = nlohmann::json;
using JsonPointer = nlohmann::json::json_pointer;

// Tolerant reply field readers: never throw; the fallback is returned when
// the pointer does not resolve or the value has a kind the reader refuses.
std::string json_get_string(const Json& value, const JsonPointer& pointer, const std::string& fallback);
std::int64_t json_get_int(const Json& value, const JsonPointer& pointer, std::int64_t fallback);
bool json_get_bool(const Json& value, const JsonPointer& pointer, bool fallback);

// A node reference made only of ASCII digits travels as a JSON integer
// (signed 64-bit; std::out_of_range when it does not fit), anything else,
// the empty text included, as a JSON string.
Json encode_node_reference(const std::string& reference);

// Request builders of the catalogue. "list" and "info" travel as "status".
Json node_request(const std::string& action, const std::optional<std::string>& node, bool force);
Json service_request(const std::string& action, const std::optional<std::string>& service,
                     const std::optional<std::string>& node);
Json cluster_request(const std::string& action);
// The service query of `cluster status`: its node status request with "call"
// turned to "service" and "adv": "pools" added.
Json pools_request(Json node_status_request);

// Compact wire form: keys ascending, UTF-8 unescaped; throws the JSON
// library's type_error on invalid UTF-8.
std::string serialize_request(const Json& request);

}  // namespace tarnex
