#include "config/ini.hpp"

#include <cstddef>

namespace tarnex {
namespace {

// The INI library keeps section names and the name a continuation line
// belongs to in buffers of this size, cutting longer ones.
constexpr std::size_t name_buffer = 50;

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view strip_left(std::string_view text) {
  while (!text.empty() && is_space(text.front()))
    text.remove_prefix(1);
  return text;
}

std::string_view strip_right(std::string_view text) {
  while (!text.empty() && is_space(text.back()))
    text.remove_suffix(1);
  return text;
}

// Where the first of `stops` is, or a ';' that follows white space, or the
// end of the text.
std::size_t find_stop_or_comment(std::string_view text, std::string_view stops) {
  bool after_space = false;
  std::size_t at = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (stops.find(c) != std::string_view::npos || (after_space && c == ';')) break;
    after_space = is_space(c);
  }
  return at;
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void add_value(IniValues& values, std::string_view section, std::string_view name, std::string_view value) {
  std::string& held = values[ini_key(section, name)];
  if (!held.empty()) held += '\n';
  held += value;
}

}  // namespace

std::string ini_key(std::string_view section, std::string_view name) {
  std::string key;
  key.reserve(section.size() + name.size() + 1);
  for (const char c : section)
    key += ascii_lower(c);
  key += '=';
  for (const char c : name)
    key += ascii_lower(c);
  return key;
}

std::optional<IniValues> read_ini(std::string_view text, std::string* error, IniValues* spellings) {
  IniValues values;
  std::string section;
  std::string previous_name;
  int line_number = 0;
  int bad_line = 0;
  while (!text.empty()) {
    const std::size_t end_of_line = text.find('\n');
    std::string_view line = text.substr(0, end_of_line);
    text.remove_prefix(end_of_line == std::string_view::npos ? text.size() : end_of_line + 1);
    ++line_number;
    line = line.substr(0, line.find('\0'));
    if (line_number == 1 && line.starts_with("\xef\xbb\xbf")) line.remove_prefix(3);
    const std::string_view start = strip_left(strip_right(line));
    const bool indented = start.data() != line.data();

    if (start.empty() || start.front() == ';' || start.front() == '#') continue;
    if (!previous_name.empty() && indented) {
      add_value(values, section, previous_name, start);
    } else if (start.front() == '[') {
      const std::size_t close = find_stop_or_comment(start.substr(1), "]") + 1;
      if (close < start.size() && start[close] == ']') {
        section = start.substr(1, close - 1).substr(0, name_buffer - 1);
        previous_name.clear();
      } else if (bad_line == 0) {
        bad_line = line_number;
      }
    } else {
      const std::size_t separator = find_stop_or_comment(start, "=:");
      if (separator < start.size() && (start[separator] == '=' || start[separator] == ':')) {
        const std::string_view name = strip_right(start.substr(0, separator));
        std::string_view value = start.substr(separator + 1);
        value = strip_right(strip_left(value.substr(0, find_stop_or_comment(value, {}))));
        previous_name = name.substr(0, name_buffer - 1);
        add_value(values, section, name, value);
        if (spellings != nullptr) spellings->try_emplace(ini_key(section, name), name);
      } else if (bad_line == 0) {
        bad_line = line_number;
      }
    }
  }
  if (bad_line == 0) return values;
  *error = std::to_string(bad_line) + ": not a valid settings line";
  return std::nullopt;
}

}  // namespace tarnex
