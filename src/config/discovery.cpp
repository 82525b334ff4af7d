#include "config/discovery.hpp"

#include <INIReader.h>

#include <exception>
#include <iterator>
#include <system_error>

#include "config/cluster_config.hpp"
#include "config/validate.hpp"

namespace tarnex {

std::filesystem::path find_settings_file(const std::string& program, const std::filesystem::path* search_dirs,
                                         std::size_t count) {
  const std::string file_name = program + ".config";
  for (std::size_t i = 0; i < count; ++i) {
    std::filesystem::path candidate = search_dirs[i] / file_name;
    std::error_code error;
    // Anything that exists stops the search, whatever its type; a candidate
    // we may not even look at (unsearchable directory) is passed over.
    if (std::filesystem::exists(candidate, error)) return candidate;
  }
  return file_name;
}

std::string read_settings_file(const std::filesystem::path& settings) {
  // Only a regular file is read: opening a FIFO would wait for a writer for
  // ever. Anything else counts as a settings file that cannot be opened.
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(settings, ignored)) return default_config_path;
  INIReader reader(settings.string());
  if (reader.ParseError() != 0) return default_config_path;
  return reader.Get("RUXD", "Config", default_config_path);
}

Configuration load_configuration(const std::string& program_name, const std::filesystem::path& program_dir) {
  const std::filesystem::path search_dirs[] = {program_dir, "/usr/local/etc", "/etc"};
  const std::string path =
      read_settings_file(find_settings_file(program_name, search_dirs, std::size(search_dirs)));
  Configuration result;
  try {
    const ClusterConfig config = load_cluster_config(path);
    const std::vector<std::string> errors = validate_cluster_config(config);
    if (errors.empty()) {
      result.mgmt_url = config.cluster.mgmt_url.value_or("");
      return result;
    }
    result.messages.reserve(errors.size() + 1);
    result.messages.emplace_back("ruxd:config: negotiation error:");
    for (const std::string& line : errors)
      result.messages.push_back("  -- " + line);
  } catch (const std::exception& error) {
    result.messages.push_back(std::string("ruxd:config: ") + error.what());
  } catch (...) {
    result.messages.push_back("ruxd:config: " + path + ": unknown exception");
  }
  return result;
}

}  // namespace tarnex
