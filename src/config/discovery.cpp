#include "config/discovery.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
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
                                         std::size_t count, WorkingDirectory working) {
  const std::string file_name = program + ".config";
  for (std::size_t i = 0; i < count; ++i) {
    if (search_dirs[i].empty()) continue;  // no directory known: never the current one by accident
    std::filesystem::path candidate = search_dirs[i] / file_name;
    std::error_code error;
    // Anything that exists stops the search, whatever its type; a candidate
    // we may not even look at (unsearchable directory) is passed over.
    if (std::filesystem::exists(candidate, error)) return candidate;
  }
  if (working == WorkingDirectory::not_searched) return {};
  return file_name;
}

namespace {

enum class FileRead { read, absent, failed };

// Reads a whole regular file of at most max_settings_size bytes into *text;
// why it cannot be read goes to *reason. Opened without waiting, so a FIFO
// is refused instead of waiting for a writer.
FileRead read_small_file(const std::filesystem::path& path, std::string* text, std::string* reason) {
  if (path.empty()) return FileRead::absent;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int failure = errno;
    // Where even the status cannot be read (no such file, a directory on the
    // way that may not be searched) there is no file to speak of, as in the
    // search.
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return FileRead::absent;
    *reason = std::strerror(failure);
    return FileRead::failed;
  }
  struct stat status {};
  int failure = fstat(fd, &status) == 0 ? 0 : errno;
  if (failure == 0 && S_ISDIR(status.st_mode)) failure = EISDIR;
  if (failure == 0 && !S_ISREG(status.st_mode)) {
    *reason = "not a regular file";
  } else if (failure == 0) {
    // A file that grows while it is read is cut one byte past the bound,
    // which is enough to refuse it.
    std::array<char, 65536> buffer{};
    while (text->size() <= max_settings_size) {
      const ssize_t got = read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failure = errno;
        break;
      }
      if (got == 0) break;
      text->append(buffer.data(), static_cast<std::size_t>(got));
    }
    if (failure == 0 && text->size() > max_settings_size) *reason = "larger than 1 MiB";
  }
  close(fd);
  if (failure != 0) *reason = std::strerror(failure);
  return reason->empty() ? FileRead::read : FileRead::failed;
}

}  // namespace

Settings read_settings_file(const std::filesystem::path& settings) {
  Settings result;
  std::string text;
  std::string reason;
  switch (read_small_file(settings, &text, &reason)) {
    case FileRead::absent:
      return result;
    case FileRead::failed:
      result.error = settings.string() + ": cannot read settings file: " + reason;
      return result;
    case FileRead::read:
      break;
  }
  std::string line_error;
  IniValues spellings;
  const std::optional<IniValues> values = read_ini(text, &line_error, &spellings);
  if (!values) {
    result.error = settings.string() + ":" + line_error;
    return result;
  }
  static const std::string section = ini_key("RUXD", "");
  static const std::string config_key = ini_key("RUXD", "Config");
  static const std::string timeout_key = ini_key("RUXD", "Timeout");
  for (const auto& [key, value] : *values) {
    if (key == config_key) {
      result.config_path = value;
    } else if (key == timeout_key) {
      result.timeout = value;
    } else if (key.starts_with(section)) {
      result.unknown_names.push_back(spellings[key]);
    }
  }
  return result;
}

Configuration load_configuration(const std::string& program_name, const std::filesystem::path& program_dir,
                                 WorkingDirectory working) {
  const std::filesystem::path search_dirs[] = {program_dir, "/usr/local/etc", "/etc"};
  Configuration result;
  result.settings_path = find_settings_file(program_name, search_dirs, std::size(search_dirs), working);
  const Settings settings = read_settings_file(result.settings_path);
  // A settings file that is there but cannot be used must not send anyone
  // to the cluster the default configuration describes.
  if (!settings.error.empty()) {
    result.config_path = settings.config_path;
    result.messages.push_back("ruxd:config: " + settings.error);
    return result;
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
