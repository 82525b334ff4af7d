#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.hpp"

namespace tarnex {

// Messages nested deeper than this are refused as malformed: a message is a
// few levels deep, and walking an absurdly deep one would exhaust the stack.
inline constexpr std::size_t max_message_depth = 512;

// Parses one message text strictly: one JSON value and nothing after it, no
// comments, no NUL byte. Throws the JSON library's parse error, or
// std::runtime_error ("<what> nested deeper than 512 levels") for a text
// nested deeper than max_message_depth; the nesting is checked first, by a
// scan that needs no stack.
Json parse_strict(const std::string& text, const std::string& what);

// A node reference made only of ASCII digits travels as a JSON integer
// (signed 64-bit; std::out_of_range when it does not fit), anything else,
// the empty text included, as a JSON string.
Json encode_node_reference(const std::string& reference);

// The requests, by the daemon's command ("status", ...).
Json node_request(std::string_view command, const std::optional<std::string>& node, bool force);
Json service_request(std::string_view command, const std::optional<std::string>& service,
                     const std::optional<std::string>& node);
Json cluster_request(std::string_view command);
// The service query of `cluster status`: its node status request with "call"
// turned to "service" and "adv": "pools" added.
Json pools_request(Json node_status_request);

// Compact wire form: keys ascending, UTF-8 unescaped; throws the JSON
// library's type_error on invalid UTF-8.
std::string serialize_request(const Json& request);

}  // namespace tarnex
