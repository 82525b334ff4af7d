#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cli/options.hpp"

namespace tarnex::testing {

// The help texts as the operator must see them, for a program started under
// `app`. Each is kept in tests/golden/usage-<name>.txt, where "%APP%" stands
// for the program name and "%VERSION%" for the version the program declares;
// each ends with the banner line.

// `text` with every `placeholder` replaced by `value`, once: a value that
// itself holds the placeholder is left as it is.
inline std::string replace_placeholder(std::string text, std::string_view placeholder,
                                       const std::string& value) {
  std::string::size_type at = 0;
  while ((at = text.find(placeholder, at)) != std::string::npos) {
    text.replace(at, placeholder.size(), value);
    at += value.size();
  }
  return text;
}

inline std::string golden_usage(const std::string& name, const std::string& app) {
  const std::filesystem::path path =
      std::filesystem::path(TARNEX_SOURCE_DIR) / "tests" / "golden" / ("usage-" + name + ".txt");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return replace_placeholder(replace_placeholder(text.str(), "%VERSION%", version_string), "%APP%", app);
}

inline std::string top_usage(const std::string& app = "tarnex-viravi") {
  return golden_usage("top", app);
}

inline std::string cluster_usage(const std::string& app = "tarnex-viravi") {
  return golden_usage("cluster", app);
}

inline std::string node_usage(const std::string& app = "tarnex-viravi") {
  return golden_usage("node", app);
}

inline std::string service_usage(const std::string& app = "tarnex-viravi") {
  return golden_usage("service", app);
}

}  // namespace tarnex::testing
