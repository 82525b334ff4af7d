#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/options.hpp"

namespace tarnex {

inline constexpr const char* default_config_path = "/usr/local/etc/ruxd/config.json";

// The settings file to read: "<program name>.config" in the first directory
// of `search_dirs` where it exists in any form, else the bare name (current
// directory). A candidate whose status cannot be read is skipped.
std::filesystem::path find_settings_file(const std::string& program, const std::filesystem::path* search_dirs,
                                         std::size_t count);

// The daemon configuration path named by a settings file, or the default.
std::string read_settings_file(const std::filesystem::path& settings);

// Finds, loads and validates the daemon configuration and sets
// `options.mgmt_url` from it; every problem goes to `err` and leaves the
// endpoint empty.
void load_configuration(CliOptions& options, const std::filesystem::path& program_dir, FILE* err = stderr);

}  // namespace tarnex
