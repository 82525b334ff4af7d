// The settings-file search as only a started program shows it: through
// argv[0] and the working directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/requests.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

const std::string no_endpoint = "Error: mgmt-url is not configured\n";
const std::string default_path = "/usr/local/etc/ruxd/config.json";

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

// Started under a bare name, the program directory is where PATH finds the
// program, as the shell did, else where the running executable is: a
// settings file in the working directory never wins over the program's own.
TEST(SettingsFile, BareProgramNameSearchesWherePathFindsTheProgram) {
  Responder daemon({{"{}"}, {"{}"}, {"{}"}});
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  box.write("work/tarnex-viravi.config", "[RUXD]\nConfig=elsewhere.json\n");
  box.write("work/elsewhere.json", daemon_config_with_url(json_quote("tcp://127.0.0.1:1")));
  std::filesystem::create_directory(box.dir / "work" / "empty");
  for (const std::string& path :
       {"/nonexistent:" + box.dir.string(), "empty:" + box.dir.string() + "/", std::string("/nonexistent")}) {
    SCOPED_TRACE(path);
    ProcessRun run = box.command({"cluster", "exit", "--timeout=5"});
    run.directory = box.dir / "work";
    run.argv[0] = "tarnex-viravi";
    run.environment.push_back("PATH=" + path);
    expect_run(run_process(run), "", "", 0);
  }
  EXPECT_EQ(daemon.requests(),
            (std::vector<std::string>{cluster_exit_request, cluster_exit_request, cluster_exit_request}));
}

}  // namespace
}  // namespace tarnex::testing
