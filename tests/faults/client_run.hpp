#pragma once

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "process.hpp"

namespace tarnex::faults {

// How to run the client beyond the e2e runner: a signal sent once standard
// output holds a given text, and an unprivileged user when the tests run as
// root (file permissions do not stop root).
struct ClientRun {
  std::filesystem::path program;
  std::vector<std::string> argv;  // argv[0] included
  std::filesystem::path directory;
  std::chrono::milliseconds limit{30000};
  int signal = 0;
  std::string signal_after;  // sent once stdout contains this
  bool unprivileged = false;
  std::vector<std::string> prefix;       // a tool the client runs under (strace, valgrind)
  std::vector<std::string> environment;  // NAME=value entries added to the test's own
};

struct ClientResult {
  e2e::ProcessResult process;
  bool core_dumped = false;
  // From the signal to the end of the process (when a signal was sent).
  std::optional<std::chrono::milliseconds> ended_after_signal;
  bool privileges_dropped = false;
};

inline constexpr int exec_failed_status = 125;

ClientResult run_client(const ClientRun& run);

// Whether tests as root can run the client as nobody, or run as non-root
// anyway (then permissions already apply).
bool can_drop_privileges();

// Makes `dir` and everything under it readable (and the program executable)
// by an unprivileged user.
void open_up(const std::filesystem::path& dir);

// Full path of a program found on PATH, or empty.
std::filesystem::path find_on_path(const std::string& name);

}  // namespace tarnex::faults
