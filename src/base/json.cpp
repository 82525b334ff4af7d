#include "base/json.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

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

char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

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

}  // namespace tarnex
