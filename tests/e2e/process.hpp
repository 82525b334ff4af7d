#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnex::e2e {

// What one run of a program left behind. `exit_status` is the status passed
// to exit(), or -1 when the process did not exit normally (then `signal`
// names the signal that ended it, or `timed_out` says we killed it).
struct ProcessResult {
  std::string out;
  std::string err;
  int exit_status = -1;
  int signal = 0;
  bool timed_out = false;
};

// Runs `program` with the argument vector `argv` (argv[0] included, so a
// test can choose the name the program sees) in `directory`, stdin from
// /dev/null, capturing stdout and stderr. The child is killed once `limit`
// has passed; nothing here waits longer than that.
ProcessResult run_process(const std::filesystem::path& program, const std::vector<std::string>& argv,
                          const std::filesystem::path& directory, std::chrono::milliseconds limit);

}  // namespace tarnex::e2e
