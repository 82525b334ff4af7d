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

// Whether the settings search ends in the working directory. The client
// looks there last, for a file kept beside a person's work; the monitors
// never do, as anyone who can write their working directory could name
// another cluster to them.
enum class WorkingDirectory { searched_last, not_searched };

// The settings file to read: "<program name>.config" in the first directory
// of `search_dirs` where it exists in any form, else the bare name (working
// directory) or, when that is not searched, the empty path. A candidate
// whose status cannot be read, and an empty entry of `search_dirs`, are
// skipped.
std::filesystem::path find_settings_file(const std::string& program, const std::filesystem::path* search_dirs,
                                         std::size_t count,
                                         WorkingDirectory working = WorkingDirectory::searched_last);

// The largest settings file read; a larger one cannot be used.
inline constexpr std::size_t max_settings_size = std::size_t{1} << 20;

// What a settings file says, from its "RUXD" section.
struct Settings {
  std::string config_path = default_config_path;  // "Config"
  std::optional<std::string> timeout;             // "Timeout", as written
  // Why the file cannot be used, with its path first: "<path>: cannot read
  // settings file: Permission denied", "<path>:2: not a valid settings
  // line". Empty when it can, or when there is no such file.
  std::string error;
  std::vector<std::string> unknown_names;  // names in [RUXD] other than Config and Timeout, as first written
};

// Reads a settings file (read_ini: lines of any length). A file that does
// not exist gives the defaults. One that exists but cannot be used (not
// readable, a directory or anything else but a regular file, larger than
// max_settings_size, a line that is not valid INI) gives the defaults with
// `error` set. Never waits for a writer.
Settings read_settings_file(const std::filesystem::path& settings);

// What the configuration step found: the daemon's endpoint, or the lines
// that say why there is none to use; and the settings file's timeout.
struct Configuration {
  std::string mgmt_url;               // empty when there is none to use
  std::vector<std::string> messages;  // for standard error, in order, without newlines
  // Names in the settings file's [RUXD] that the program does not know, as
  // first written; for a person at a terminal.
  std::vector<std::string> unknown_settings;
  std::filesystem::path settings_path;
  std::optional<std::string> timeout;  // the settings file's "Timeout", as written
  std::string config_path;             // the daemon configuration file, as the settings name it
  // When mapping the daemon configuration failed on a member: its JSON
  // pointer ("/nodes/2/ruxd_port"); empty otherwise.
  std::string failed_member;
};

// Finds the settings file of `program_name` (its directory first, then
// /usr/local/etc and /etc, then the working directory when `working` says
// so), then loads and validates the daemon configuration it names. A
// settings file that exists but cannot be used leaves no endpoint, and the
// daemon configuration is not read. Never throws for anything a file holds.
Configuration load_configuration(const std::string& program_name, const std::filesystem::path& program_dir,
                                 WorkingDirectory working = WorkingDirectory::searched_last);

}  // namespace tarnex
