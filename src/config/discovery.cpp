#include "config/discovery.hpp"

#include <INIReader.h>

#include <exception>
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

void load_configuration(CliOptions& options, const std::filesystem::path& program_dir, FILE* err) {
  const std::filesystem::path search_dirs[] = {program_dir, "/usr/local/etc", "/etc"};
  const std::string path =
      read_settings_file(find_settings_file(program_name(), search_dirs, std::size(search_dirs)));
  try {
    ClusterConfig config = load_cluster_config(path);
    std::vector<std::string> errors = validate_cluster_config(config);
    if (!errors.empty()) {
      std::fprintf(err, "ruxd:config: negotiation error:\n");
      for (const std::string& line : errors)
        std::fprintf(err, "  -- %s\n", line.c_str());
      return;
    }
    options.mgmt_url = config.cluster.mgmt_url.value_or("");
  } catch (const std::exception& error) {
    std::fprintf(err, "ruxd:config: %s\n", error.what());
  } catch (...) {
    std::fprintf(err, "ruxd:config: %s: unknown exception\n", path.c_str());
  }
}

}  // namespace tarnex
