// The settings-file search as only a started program shows it: through
// argv[0] and the working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string no_endpoint = "Error: mgmt-url is not configured\n";
const std::string default_path = "/usr/local/etc/ruxd/config.json";
const std::string exit_request = R"({"call":"cluster","cmd":"exit"})";

// Runs the built client in `directory` under `argv0`.
RunResult run_from(const Sandbox& box, const std::filesystem::path& directory, const std::string& argv0,
                   const std::vector<std::string>& args) {
  ProcessRun run = box.command(args);
  run.directory = directory;
  run.argv[0] = argv0;
  return run_process(run);
}

// A candidate that exists in any form ends the search, even a directory: the
// settings file in the working directory is then not consulted.
TEST(SettingsFile, ADirectoryInThePlaceOfTheFileStopsTheSearch) {
  if (std::filesystem::exists(default_path)) GTEST_SKIP() << default_path << " exists on this machine";
  Responder daemon;
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  std::filesystem::remove(box.dir / "tarnex-viravi.config");
  std::filesystem::create_directory(box.dir / "tarnex-viravi.config");
  box.write("work/tarnex-viravi.config", "[RUXD]\nConfig=" + box.config_path.string() + "\n");
  expect_run(run_from(box, box.dir / "work", box.program.string(), {"cluster", "exit"}), "",
             "ruxd:config: cannot open config file: " + default_path + "\n" + no_endpoint, 1);
  EXPECT_TRUE(daemon.requests().empty());
}

// Started under a bare name (as through PATH) the program directory is the
// working directory, and a relative Config path is opened from there too.
TEST(SettingsFile, BareProgramNameSearchesTheWorkingDirectory) {
  Responder daemon({{"{}"}});
  Sandbox box;  // its own settings file names a missing configuration
  box.write("work/tarnex-viravi.config", "[RUXD]\nConfig=conf/ruxd.json\n");
  box.write("work/conf/ruxd.json", daemon_config_with_url(json_quote(daemon.endpoint())));
  expect_run(run_from(box, box.dir / "work", "tarnex-viravi", {"cluster", "exit"}), "", "", 0);
  EXPECT_EQ(daemon.requests(), std::vector<std::string>{exit_request});
}

}  // namespace
}  // namespace tarnex::testing
