// The client as a process never opens a file for writing, and memcheck
// finds nothing over a handful of commands.
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/responder.hpp"
#include "support/sandbox.hpp"

namespace tarnex::testing {
namespace {

// The calls that open, create, rename or remove a file, as strace shows them.
std::vector<std::string> writing_calls(const std::string& trace) {
  static const std::vector<std::string> write_flags = {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC",
                                                       "O_APPEND"};
  std::vector<std::string> found;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    const bool opens = line.find("open(") != std::string::npos || line.find("openat(") != std::string::npos ||
                       line.find("openat2(") != std::string::npos;
    bool writes = !opens && line.find('(') != std::string::npos && line.find("+++") == std::string::npos &&
                  line.find("---") == std::string::npos;
    for (const std::string& flag : write_flags)
      writes = writes || (opens && line.find(flag) != std::string::npos);
    if (writes) found.push_back(line);
  }
  return found;
}

const char* const traced_calls =
    "trace=open,openat,openat2,creat,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,link,linkat,"
    "symlink,"
    "symlinkat,truncate,mknod,mknodat";

TEST(Security, OpensNoFileForWriting) {
  // LeakSanitizer cannot work under ptrace; the rest of a sanitized build can.
  const std::string no_leak_check = "ASAN_OPTIONS=detect_leaks=0";
  const std::filesystem::path strace = find_on_path("strace");
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  {
    Sandbox probe;
    ProcessRun run = probe.command({"--version"});
    run.prefix = {strace.string(), "-f", "-o", "/dev/null"};
    run.environment = {no_leak_check};
    if (run_process(run).exit_status != 0) GTEST_SKIP() << "strace cannot trace here";
  }
  const std::vector<std::vector<std::string>> commands = {
      {"cluster", "status"},        {"cluster", "status", "-o", "json"},
      {"node", "status", "--id=2"}, {"service", "move", "-s", "db", "-n", "bravo"},
      {"node", "--help"},           {"bogus"},
      {"cluster", "exit"},
  };
  const std::string nodes =
      R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    Responder daemon({{nodes},
                      {R"({"response": [{"name": "db", "enabled": true}]})"},
                      {R"({"response": {}})"},
                      {R"({"response": {}})"}});
    Sandbox box;
    box.use_endpoint(daemon.endpoint());
    const std::filesystem::path trace = box.dir / "trace";
    ProcessRun run = box.command(command);
    run.prefix = {strace.string(), "-f", "-qq", "-o", trace.string(), "-e", traced_calls};
    run.environment = {no_leak_check};
    const RunResult result = run_process(run);
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exit_status == 0 || result.exit_status == 12) << result.err;
    std::ifstream in(trace);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("open"), std::string::npos) << "nothing traced";
    EXPECT_EQ(writing_calls(text), std::vector<std::string>{}) << text;
  }
  // The checker itself sees what it must.
  EXPECT_EQ(
      writing_calls("12 openat(AT_FDCWD, \"/tmp/x\", O_WRONLY|O_CREAT|O_TRUNC, 0666) = 3\n"
                    "12 unlink(\"/tmp/y\") = 0\n12 openat(AT_FDCWD, \"/etc/z\", O_RDONLY|O_CLOEXEC) = 3\n"
                    "12 +++ exited with 0 +++\n")
          .size(),
      2U);
}

#ifndef TARNEX_FAULTS_SANITIZED
TEST(Security, MemcheckFindsNothing) {
  const std::filesystem::path valgrind = find_on_path("valgrind");
  if (valgrind.empty()) GTEST_SKIP() << "valgrind is not installed";
  const std::string nodes =
      R"({"response": [{"id": 2, "nodename": "bravo", "state": "ONLINE", "enabled": true}]})";
  struct Run {
    std::vector<std::string> args;
    std::vector<std::string> replies;
    int status;
  };
  const std::vector<Run> runs = {
      {{"cluster", "status"},
       {nodes, R"({"response": [{"name": "db", "run_node": 2, "pools": [{"name": "p"}]}]})"},
       0},
      {{"cluster", "status", "-o", "json"}, {nodes, R"({"error": 1, "errorMessage": "down"})"}, 11},
      {{"node", "status", "--id=bravo"}, {nodes}, 0},
      {{"service", "move", "-s", "db", "-n", "2"},
       {nodes, R"({"response": [{"name": "db", "enabled": true}]})", R"({"response": {}})",
        R"({"response": {}})"},
       0},
      {{"node", "list"}, {"{\"response\": [" + std::string(600, '[')}, 11},
      {{"service", "--help"}, {}, 0},
  };
  // All at once: each run is mostly valgrind starting up.
  struct Running {
    std::unique_ptr<Responder> daemon;
    std::unique_ptr<Sandbox> box;
    std::unique_ptr<ChildProcess> child;
  };
  std::vector<Running> running;
  for (const Run& r : runs) {
    Running& started =
        running.emplace_back(Running{std::make_unique<Responder>(answers(r.replies)),
                                     std::make_unique<Sandbox>(), std::make_unique<ChildProcess>()});
    started.box->use_endpoint(started.daemon->endpoint());
    ProcessRun run = started.box->command(r.args);
    run.prefix = {valgrind.string(),
                  "-q",
                  "--error-exitcode=1",
                  "--leak-check=full",
                  "--show-leak-kinds=definite,possible",
                  "--errors-for-leak-kinds=definite,possible"};
    start_child(*started.child, run);
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i].args[0] + " " + runs[i].args[1]);
    const RunResult result = finish_child(*running[i].child, 0, std::chrono::seconds(90));
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, runs[i].status) << result.err;
    EXPECT_EQ(result.err.find("=="), std::string::npos) << result.err;
  }
}
#endif

}  // namespace
}  // namespace tarnex::testing
