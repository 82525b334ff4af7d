#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace tarnex {

using Json = nlohmann::json;
using JsonPointer = nlohmann::json::json_pointer;

// Tolerant field readers for the daemon's replies: never throw; the
// fallback is returned when the pointer does not resolve or the value has a
// kind the reader refuses. A string reads numbers in their decimal form, an
// integer reads decimal strings, a bool reads numbers and "true"/"1".
std::string json_get_string(const Json& value, const JsonPointer& pointer, const std::string& fallback);
std::int64_t json_get_int(const Json& value, const JsonPointer& pointer, std::int64_t fallback);
bool json_get_bool(const Json& value, const JsonPointer& pointer, bool fallback);

}  // namespace tarnex
