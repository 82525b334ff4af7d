// Reading the settings file on arbitrary contents, with the INI library as
// the oracle: on every file whose lines fit the library's line buffer, the
// settings reader must find what the library finds.
#include <INIReader.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/discovery.hpp"
#include "config/ini.hpp"
#include "fuzz_support.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// The library reads a line through a 200-byte buffer: longer ones split.
bool fits_the_library(std::string_view text) {
  constexpr std::size_t longest = 198;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if ((end == std::string_view::npos ? text.size() : end) > longest) return false;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tarnex::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tarnex::fuzz::MemoryFile settings;
  settings.fill(data, size);
  const tarnex::Settings read = tarnex::read_settings_file(settings.path);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!fits_the_library(text)) return 0;
  const INIReader library(settings.path);
  std::string error;
  const std::optional<tarnex::IniValues> values = tarnex::read_ini(text, &error);
  const int error_line = values ? 0 : std::stoi(error);
  check(library.ParseError() == error_line);
  check(values.has_value() == (error_line == 0));
  if (!values) return 0;
  for (const auto& [key, value] : *values) {
    const std::size_t equals = key.rfind('=');
    check(library.Get(key.substr(0, equals), key.substr(equals + 1), "\x01") == value);
  }
  const std::string none = "\x01";
  check(library.Get("RUXD", "Config", none) == (values->count("ruxd=config") ? read.config_path : none));
  check(library.Get("RUXD", "Timeout", none) == read.timeout.value_or(none));
  return 0;
}
