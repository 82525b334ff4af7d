#include "daemon/message.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace tarnex {

namespace {

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Deepest nesting of arrays and objects in a JSON text, stopping early once
// past `limit`. Brackets inside strings do not count.
std::size_t nesting_depth(const std::string& text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) {
        deepest = depth;
        if (deepest > limit) break;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

Json parse_strict(const std::string& text, const std::string& what) {
  if (nesting_depth(text, max_message_depth) > max_message_depth) {
    throw std::runtime_error(what + " nested deeper than " + std::to_string(max_message_depth) + " levels");
  }
  Json value = Json::parse(text, nullptr, true, false);
  // The parser takes a NUL byte for the end of its input, so a complete value
  // followed by a NUL and anything else would pass. A NUL anywhere else has
  // already failed the parse, so one found now is trailing content.
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
    throw Json::parse_error::create(
        101, nul + 1, "syntax error while parsing value - unexpected NUL byte; expected end of input",
        static_cast<const Json*>(nullptr));
  }
  return value;
}

Json encode_node_reference(const std::string& reference) {
  if (!all_digits(reference)) return Json(reference);
  std::int64_t number = 0;
  const auto result = std::from_chars(reference.data(), reference.data() + reference.size(), number, 10);
  if (result.ec != std::errc{}) throw std::out_of_range("node id out of range: " + reference);
  return Json(number);
}

Json node_request(std::string_view command, const std::optional<std::string>& node, bool force) {
  Json request = {{"call", "node"}, {"cmd", command}};
  if (node) request["id"] = encode_node_reference(*node);
  if (force) request["force"] = true;
  return request;
}

Json service_request(std::string_view command, const std::optional<std::string>& service,
                     const std::optional<std::string>& node) {
  Json request = {{"call", "service"}, {"cmd", command}};
  if (service) request["serviceName"] = *service;
  if (node) request["nodeId"] = encode_node_reference(*node);
  return request;
}

Json cluster_request(std::string_view command) {
  return Json{{"call", "cluster"}, {"cmd", command}};
}

Json pools_request(Json node_status_request) {
  node_status_request["call"] = "service";
  node_status_request["adv"] = "pools";
  return node_status_request;
}

std::string serialize_request(const Json& request) {
  return request.dump(-1, ' ', false, Json::error_handler_t::strict);
}

}  // namespace tarnex
