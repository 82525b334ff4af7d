// The daemon configuration step on arbitrary file contents: loader,
// validator and the messages printed for both, as the program runs them.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/cluster_config.hpp"
#include "config/discovery.hpp"
#include "config/validate.hpp"
#include "fuzz_support.hpp"

namespace {

struct Setup {
  tarnex::fuzz::MemoryFile config;
  std::filesystem::path program_dir;
};

// A program directory whose settings file names the in-memory configuration,
// so the search never goes on to the system directories.
Setup& setup() {
  static Setup instance = [] {
    Setup made;
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnex-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    made.program_dir = pattern;
    std::ofstream(made.program_dir / "tarnex-fuzz.config") << "[RUXD]\nConfig=" << made.config.path << "\n";
    return made;
  }();
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tarnex::fuzz::silence_stdout();
  setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Setup& files = setup();
  files.config.fill(data, size);

  // The whole step: discovery, loading, validation, the messages.
  const tarnex::Configuration configuration = tarnex::load_configuration("tarnex-fuzz", files.program_dir);
  const std::string& endpoint = configuration.mgmt_url;
  // Nothing to say and no endpoint would leave the operator with no reason.
  if (endpoint.empty() && configuration.messages.empty() && (data == nullptr || size == 0)) __builtin_trap();

  // The loader and validator on their own, where the step hides the record.
  std::string error;
  if (const auto config = tarnex::load_cluster_config(files.config.path, &error)) {
    const std::vector<std::string> errors = tarnex::validate_cluster_config(*config);
    // A configuration with findings must never hand on an endpoint.
    if (!errors.empty() && !endpoint.empty()) __builtin_trap();
  } else if (!endpoint.empty()) {
    __builtin_trap();
  }
  return 0;
}
