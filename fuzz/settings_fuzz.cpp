// Reading the settings file on arbitrary contents.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/discovery.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tarnex::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tarnex::fuzz::MemoryFile settings;
  settings.fill(data, size);
  // Any text is a path (continuation lines join with a newline); only
  // crashes, sanitizer reports, leaks and hangs are faults here.
  const std::string path = tarnex::read_settings_file(settings.path);
  static_cast<void>(path);
  return 0;
}
