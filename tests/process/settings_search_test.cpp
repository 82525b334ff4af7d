// The settings-file search as only a started program shows it: through
// argv[0] and the working directory, and as a user the files shut out.
#include <unistd.h>

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

// Runs the built client in `directory` under `argv0`.
RunResult run_from(const Sandbox& box, const std::filesystem::path& directory, const std::string& argv0,
                   const std::vector<std::string>& args) {
  ProcessRun run = box.command(args);
  run.directory = directory;
  run.argv[0] = argv0;
  return run_process(run);
}

// A candidate that exists in any form ends the search, even a directory: the
// settings file in the working directory is then not consulted, and the one
// found cannot be used.
TEST(SettingsFile, ADirectoryInThePlaceOfTheFileStopsTheSearch) {
  Responder daemon;
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  std::filesystem::remove(box.dir / "tarnex-viravi.config");
  std::filesystem::create_directory(box.dir / "tarnex-viravi.config");
  box.write("work/tarnex-viravi.config", "[RUXD]\nConfig=" + box.config_path.string() + "\n");
  expect_run(run_from(box, box.dir / "work", box.program.string(), {"cluster", "exit"}), "",
             "ruxd:config: " + (box.dir / "tarnex-viravi.config").string() +
                 ": cannot read settings file: Is a directory\n" + no_endpoint,
             1);
  EXPECT_TRUE(daemon.requests().empty());
}

// A settings file the user running the program may not read (a plugin run
// as the monitoring user) is no reason to take the default configuration.
TEST(SettingsFile, ASettingsFileThatCannotBeReadEndsTheRun) {
  if (!can_drop_privileges()) GTEST_SKIP() << "cannot run the client as nobody";
  Responder daemon;
  Sandbox box;
  box.use_endpoint(daemon.endpoint());
  ProcessRun run = box.command({"cluster", "exit"});
  run.argv[0] = box.program.string();
  box.open_up();
  const std::filesystem::path settings = box.dir / "tarnex-viravi.config";
  std::filesystem::permissions(settings, std::filesystem::perms::none);
  run.unprivileged = true;
  const RunResult result = run_process(run);
  ASSERT_NE(result.exit_status, exec_failed_status) << "could not start the client";
  expect_run(
      result, "",
      "ruxd:config: " + settings.string() + ": cannot read settings file: Permission denied\n" + no_endpoint,
      1);
  EXPECT_TRUE(daemon.requests().empty());
}

// A working directory the user may not search hides no settings file: with
// none anywhere else, the default configuration is read as before. (A name
// of its own, so that no settings file in the system directories answers.)
TEST(SettingsFile, AWorkingDirectoryThatCannotBeSearchedHoldsNoSettingsFile) {
  // Only root can start a program in a directory it may then not search.
  if (geteuid() != 0 || !can_drop_privileges()) GTEST_SKIP() << "needs root to run the client as nobody";
  const std::string default_path = "/usr/local/etc/ruxd/config.json";
  if (std::filesystem::exists(default_path)) GTEST_SKIP() << default_path << " exists on this machine";
  Sandbox box("tarnex-cwd-locked");
  std::filesystem::remove(box.dir / "tarnex-cwd-locked.config");
  box.write("locked/tarnex-cwd-locked.config", "[RUXD]\nConfig=" + box.config_path.string() + "\n");
  ProcessRun run = box.command({"cluster", "exit"});
  run.argv[0] = box.program.string();
  run.directory = box.dir / "locked";
  box.open_up();
  std::filesystem::permissions(box.dir / "locked", std::filesystem::perms::none);
  run.unprivileged = true;
  const RunResult result = run_process(run);
  std::filesystem::permissions(box.dir / "locked", std::filesystem::perms::owner_all);
  ASSERT_NE(result.exit_status, exec_failed_status) << "could not start the client";
  expect_run(result, "", "ruxd:config: cannot open config file: " + default_path + "\n" + no_endpoint, 1);
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
