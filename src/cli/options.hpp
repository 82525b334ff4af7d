#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnex {

// The command line as parsed, and nothing else.
struct CliOptions {
  // The system operand; given as the empty text (an unset shell variable)
  // is not the same as not given, which means "cluster".
  std::optional<std::string> system;
  std::string action = "status";
  std::optional<std::string> node;
  std::optional<std::string> service;
  std::string output = "table";
  bool force = false;
  std::optional<std::uint32_t> timeout;  // --timeout, seconds to wait for each reply; 0: for ever
};

// A timeout as written on the command line or in the settings file: a whole
// number of seconds, digits only. Nothing for any other text.
std::optional<std::uint32_t> parse_timeout(const std::string& text);

// The build string the -v line shows; the top CMakeLists.txt defines it.
inline constexpr const char* version_string = TARNEX_BUILD_STRING;

}  // namespace tarnex
