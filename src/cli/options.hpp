#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnex {

// The parsed command line and the endpoint taken from the configuration.
// Filled while the command line is read, then passed down read-only.
struct CliOptions {
  std::string mgmt_url;
  std::string system;
  // True when a system operand was given at all, even as the empty text: only
  // a missing operand may default to "cluster".
  bool system_given = false;
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

inline constexpr const char* version_string = "c318bb68";

}  // namespace tarnex
