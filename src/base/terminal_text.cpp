#include "base/terminal_text.hpp"

#include <cstddef>

namespace tarnex {
namespace {

// The length of the valid UTF-8 sequence that starts at `at`: 1 for ASCII,
// 0 when no valid sequence starts there.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 4;
  unsigned char low = 0x80;  // the range of the second byte (overlong forms, surrogates, beyond U+10FFFF)
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead == 0xF0) {
    low = 0x90;
  } else if (lead == 0xF4) {
    high = 0x8F;
  } else if (lead < 0xF1 || lead > 0xF3) {
    return 0;
  }
  if (text.size() - at < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

bool is_control(std::string_view text, std::size_t at, std::size_t length, TextKind kind) {
  const auto lead = static_cast<unsigned char>(text[at]);
  switch (length) {
    case 0:  // a byte of an 8-bit character set, where 0x80 to 0x9F are C1
      return lead >= 0x80 && lead <= 0x9F;
    case 1:
      if (kind == TextKind::message && (lead == '\n' || lead == '\t')) return false;
      return lead < 0x20 || lead == 0x7F;
    case 2:  // U+0080 to U+009F
      return lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
    case 3:
      return reorders_or_hides(static_cast<char32_t>(
          ((lead & 0x0F) << 12) | ((static_cast<unsigned char>(text[at + 1]) & 0x3F) << 6) |
          (static_cast<unsigned char>(text[at + 2]) & 0x3F)));
    default:
      return false;
  }
}

}  // namespace

bool reorders_or_hides(char32_t code) {
  return (code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
}

std::string neutralised(std::string_view text, bool terminal, TextKind kind) {
  if (!terminal || kind == TextKind::own) return std::string(text);
  static constexpr char digits[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_length(text, at);
    const std::size_t end = at + (length == 0 ? 1 : length);
    if (is_control(text, at, length, kind)) {
      for (; at < end; ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        shown += "\\x";
        shown += digits[byte >> 4];
        shown += digits[byte & 0x0F];
      }
    } else {
      shown.append(text, at, end - at);
      at = end;
    }
  }
  return shown;
}

}  // namespace tarnex
