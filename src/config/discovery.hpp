#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnex {

inline constexpr const char* default_config_path = "/usr/local/etc/ruxd/config.json";

// The directory the program was started from, searched first for its
// settings file. A path with a slash is taken as given, made absolute,
// symlinks not followed. A bare name is looked up as the shell looked it up:
// the first entry of `search_path` (PATH) holding an executable file of that
// name, an empty entry meaning the current directory; failing that, the
// directory of the running executable. Empty when none can be told.
std::filesystem::path program_directory(const std::string& argv0, const char* search_path);

// The settings file to read: "<program name>.config" in the first directory
// of `search_dirs` where it exists in any form, else the bare name (current
// directory). A candidate whose status cannot be read, and an empty entry of
// `search_dirs`, are skipped.
std::filesystem::path find_settings_file(const std::string& program, const std::filesystem::path* search_dirs,
                                         std::size_t count);

// What a settings file says, from its "RUXD" section.
struct Settings {
  std::string config_path = default_config_path;  // "Config"
  std::optional<std::string> timeout;             // "Timeout", as written
  std::string error;  // why the values are not taken ("2: not a valid settings line"); empty: they are
  std::vector<std::string> unknown_names;  // names in [RUXD] other than Config and Timeout, as written
};

// Reads a settings file (read_ini: lines of any length). A file that is not
// a regular file or cannot be read gives the defaults; so does one that is
// not valid INI, with `error` set.
Settings read_settings_file(const std::filesystem::path& settings);

// What the configuration step found: the daemon's endpoint, or the lines
// that say why there is none to use; and the settings file's timeout.
struct Configuration {
  std::string mgmt_url;               // empty when there is none to use
  std::vector<std::string> messages;  // for standard error, in order, without newlines
  // Names in the settings file's [RUXD] that the program does not know, in
  // lower case as the INI rules key them; for a person at a terminal.
  std::vector<std::string> unknown_settings;
  std::filesystem::path settings_path;
  std::optional<std::string> timeout;  // the settings file's "Timeout", as written
  std::string config_path;             // the daemon configuration file, as the settings name it
  // When mapping the daemon configuration failed on a member: its JSON
  // pointer ("/nodes/2/ruxd_port"); empty otherwise.
  std::string failed_member;
};

// Finds the settings file of `program_name` (its directory first, then
// /usr/local/etc and /etc), then loads and validates the daemon configuration
// it names. Never throws for anything a file holds.
Configuration load_configuration(const std::string& program_name, const std::filesystem::path& program_dir);

}  // namespace tarnex
