#pragma once

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
};

inline constexpr const char* version_string = "c318bb68";

}  // namespace tarnex
