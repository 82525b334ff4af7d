#include "daemon/message.hpp"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace tarnex {

namespace {

// The value the pointer names, or nullptr: a missing member, an index that is
// not one or is out of range, and a token left over at a value that is
// neither object nor array all name nothing.
const Json* resolve(const Json& value, const JsonPointer& pointer) noexcept {
  try {
    return value.contains(pointer) ? &value.at(pointer) : nullptr;
  } catch (...) {
    // An index too large for size_t: it names nothing either.
    return nullptr;
  }
}

bool all_digits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Daemon members keep the wire names; "list" and "info" are client-side
// synonyms of "status".
std::string wire_command(const std::string& action) {
  if (action == "list" || action == "info") return "status";
  return action;
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

std::string json_get_string(const Json& value, const JsonPointer& pointer, const std::string& fallback) {
  const Json* found = resolve(value, pointer);
  if (found == nullptr) return fallback;
  switch (found->type()) {
    case Json::value_t::string:
      return found->get_ref<const Json::string_t&>();
    case Json::value_t::number_integer:
      return std::to_string(found->get<Json::number_integer_t>());
    case Json::value_t::number_unsigned:
      return std::to_string(found->get<Json::number_unsigned_t>());
    case Json::value_t::number_float:
      // std::to_string of a double is the "%f" form: six decimals.
      return std::to_string(found->get<Json::number_float_t>());
    default:
      return fallback;
  }
}

std::int64_t json_get_int(const Json& value, const JsonPointer& pointer, std::int64_t fallback) {
  const Json* found = resolve(value, pointer);
  if (found == nullptr) return fallback;
  switch (found->type()) {
    case Json::value_t::number_integer:
      return found->get<Json::number_integer_t>();
    case Json::value_t::number_unsigned: {
      // Values beyond the signed range would wrap to a negative id.
      const auto number = found->get<Json::number_unsigned_t>();
      if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return fallback;
      return static_cast<std::int64_t>(number);
    }
    case Json::value_t::string: {
      const auto& text = found->get_ref<const Json::string_t&>();
      if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return fallback;
      std::int64_t number = 0;
      const auto result = std::from_chars(text.data(), text.data() + text.size(), number, 10);
      if (result.ec != std::errc{}) return fallback;
      return number;
    }
    default:
      return fallback;
  }
}

bool json_get_bool(const Json& value, const JsonPointer& pointer, bool fallback) {
  const Json* found = resolve(value, pointer);
  if (found == nullptr) return fallback;
  switch (found->type()) {
    case Json::value_t::boolean:
      return found->get<bool>();
    case Json::value_t::number_integer:
      return found->get<Json::number_integer_t>() != 0;
    case Json::value_t::number_unsigned:
      return found->get<Json::number_unsigned_t>() != 0;
    case Json::value_t::number_float:
      return found->get<Json::number_float_t>() != 0.0;
    case Json::value_t::string: {
      std::string text = found->get<std::string>();
      std::transform(text.begin(), text.end(), text.begin(), ascii_lower);
      return text == "true" || text == "1";
    }
    default:
      return fallback;
  }
}

Json encode_node_reference(const std::string& reference) {
  if (!all_digits(reference)) return Json(reference);
  std::int64_t number = 0;
  const auto result = std::from_chars(reference.data(), reference.data() + reference.size(), number, 10);
  if (result.ec != std::errc{}) throw std::out_of_range("node id out of range: " + reference);
  return Json(number);
}

Json node_request(const std::string& action, const std::optional<std::string>& node, bool force) {
  Json request = {{"call", "node"}, {"cmd", wire_command(action)}};
  if (node) request["id"] = encode_node_reference(*node);
  if (action == "exit" && force) request["force"] = true;
  return request;
}

Json service_request(const std::string& action, const std::optional<std::string>& service,
                     const std::optional<std::string>& node) {
  Json request = {{"call", "service"}, {"cmd", wire_command(action)}};
  if (service) request["serviceName"] = *service;
  if (node) request["nodeId"] = encode_node_reference(*node);
  return request;
}

Json cluster_request(const std::string& action) {
  return Json{{"call", "cluster"}, {"cmd", action}};
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
