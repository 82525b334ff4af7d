#include "config/discovery.hpp"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <system_error>

#include "config/cluster_config.hpp"
#include "config/ini.hpp"
#include "config/validate.hpp"

namespace tarnex {

std::filesystem::path program_directory(const std::string& argv0, const char* search_path) {
  std::error_code error;
  if (argv0.find('/') != std::string::npos) {
    std::filesystem::path absolute = std::filesystem::absolute(argv0, error);
    return error ? std::filesystem::path() : absolute.parent_path();
  }
  if (!argv0.empty() && search_path != nullptr) {
    std::string_view rest = search_path;
    for (;;) {
      const std::size_t colon = rest.find(':');
      const std::string_view entry = rest.substr(0, colon);
      // An empty entry is the current directory, as for the shell.
      const std::filesystem::path dir = std::filesystem::absolute(entry.empty() ? "." : entry, error);
      const std::filesystem::path candidate = dir / argv0;
      if (!error && std::filesystem::is_regular_file(candidate, error) &&
          access(candidate.c_str(), X_OK) == 0) {
        return dir.lexically_normal();
      }
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : executable.parent_path();
}

std::filesystem::path find_settings_file(const std::string& program, const std::filesystem::path* search_dirs,
                                         std::size_t count) {
  const std::string file_name = program + ".config";
  for (std::size_t i = 0; i < count; ++i) {
    if (search_dirs[i].empty()) continue;  // no directory known: never the current one by accident
    std::filesystem::path candidate = search_dirs[i] / file_name;
    std::error_code error;
    // Anything that exists stops the search, whatever its type; a candidate
    // we may not even look at (unsearchable directory) is passed over.
    if (std::filesystem::exists(candidate, error)) return candidate;
  }
  return file_name;
}

Settings read_settings_file(const std::filesystem::path& settings) {
  // Only a regular file is read: opening a FIFO would wait for a writer for
  // ever. Anything else counts as a settings file that cannot be opened.
  Settings result;
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(settings, ignored)) return result;
  std::ifstream in(settings, std::ios::binary);
  if (!in.is_open()) return result;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return result;
  const std::optional<IniValues> values = read_ini(text.view(), &result.error);
  if (!values) return result;
  static const std::string section = ini_key("RUXD", "");
  static const std::string config_key = ini_key("RUXD", "Config");
  static const std::string timeout_key = ini_key("RUXD", "Timeout");
  for (const auto& [key, value] : *values) {
    if (key == config_key) {
      result.config_path = value;
    } else if (key == timeout_key) {
      result.timeout = value;
    } else if (key.starts_with(section)) {
      result.unknown_names.push_back(key.substr(section.size()));
    }
  }
  return result;
}

Configuration load_configuration(const std::string& program_name, const std::filesystem::path& program_dir) {
  const std::filesystem::path search_dirs[] = {program_dir, "/usr/local/etc", "/etc"};
  Configuration result;
  result.settings_path = find_settings_file(program_name, search_dirs, std::size(search_dirs));
  const Settings settings = read_settings_file(result.settings_path);
  if (!settings.error.empty()) {
    result.messages.push_back("ruxd:config: " + result.settings_path.string() + ":" + settings.error +
                              "; Config is not taken from this file");
  }
  result.unknown_settings = settings.unknown_names;
  result.timeout = settings.timeout;
  result.config_path = settings.config_path;
  std::string error;
  const std::optional<ClusterConfig> config =
      load_cluster_config(result.config_path, &error, &result.failed_member);
  if (!config) {
    result.messages.push_back("ruxd:config: " + error);
    return result;
  }
  const std::vector<std::string> errors = validate_cluster_config(*config);
  if (errors.empty()) {
    result.mgmt_url = config->cluster.mgmt_url.value_or("");
    return result;
  }
  result.messages.reserve(errors.size() + 1);
  result.messages.emplace_back("ruxd:config: negotiation error:");
  for (const std::string& line : errors)
    result.messages.push_back("  -- " + line);
  return result;
}

}  // namespace tarnex
