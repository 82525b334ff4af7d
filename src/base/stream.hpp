#pragma once

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/terminal_text.hpp"

namespace tarnex {

// One piece of what is written, and what it is. A string literal is the
// program's own words; any other text must say what it is, so that nothing
// from the daemon, a file or the command line reaches a terminal raw.
struct Text {
  template <std::size_t N>
  Text(const char (&literal)[N]) : text(literal, N - 1) {}  // NOLINT(google-explicit-constructor)
  Text(std::string_view text, TextKind kind) : text(text), kind(kind) {}

  std::string_view text;
  TextKind kind = TextKind::own;
};

inline Text own(std::string_view text) {
  return {text, TextKind::own};
}
inline Text name(std::string_view text) {
  return {text, TextKind::name};
}
inline Text message(std::string_view text) {
  return {text, TextKind::message};
}
inline Text typed(std::string_view text) {
  return {text, TextKind::typed};
}

// An output stream and whether a person reads it at a terminal. At a
// terminal every text that is not the program's own is neutralised; into a
// pipe or a file every text is written byte for byte.
struct Stream {
  FILE* file = nullptr;
  bool terminal = false;
};

// The text as `stream` shows it.
std::string shown(const Stream& stream, const Text& text);

// Writes the pieces in order; print_line adds a newline.
void print(const Stream& stream, std::initializer_list<Text> pieces);
void print_line(const Stream& stream, std::initializer_list<Text> pieces);

}  // namespace tarnex
