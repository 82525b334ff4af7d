#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "daemon/transport.hpp"
#include "support/process.hpp"
#include "support/reply.hpp"
#include "support/temp_dir.hpp"

namespace tarnex::testing {

// How one run in this process differs from the usual one.
struct RunOptions {
  std::optional<std::string> argv0;  // default: the sandbox's program path
  Transport* transport = nullptr;    // default: ZeroMQ
  std::chrono::milliseconds progress_interval{2000};
  bool out_is_terminal = false;
  bool err_is_terminal = false;
  FILE* out = nullptr;  // default: captured in the result
};

// A fresh temporary directory with the program's place in it (`program`, a
// copy of the built client once a test runs it as a process), a settings
// file beside it (so the search never reaches /etc or /usr/local/etc) that
// names `ruxd.json` in the same directory, and nothing else until the test
// writes the daemon configuration. Removed with all its contents at the end
// of the test.
struct Sandbox {
  explicit Sandbox(const std::string& program_name = "tarnex-viravi");

  TempDir temp;
  std::filesystem::path dir;  // temp.path
  std::string name;
  std::filesystem::path program;      // dir / name
  std::filesystem::path config_path;  // dir / "ruxd.json"

  // Writes `text` to `relative` under the sandbox; returns the absolute path.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& text) const;
  // The settings file beside the program, replaced by `text`.
  void write_settings(const std::string& text) const;
  // A valid daemon configuration whose "mgmt-url" is `endpoint`.
  void use_endpoint(const std::string& endpoint) const;

  // Runs the whole program in this process as `<program> args...`.
  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
  // The run of the built client as a process, `./<name> args...` in the
  // sandbox, for a test that sets more of it before run_process.
  ProcessRun command(const std::vector<std::string>& args) const;

  // Makes the sandbox and everything under it readable (the program
  // executable) by an unprivileged user.
  void open_up() const;

 private:
  void copy_client() const;
};

// A valid daemon configuration (one node) with the given "mgmt-url" member
// text, already JSON-encoded (so a test can pass 5 or "" as well).
std::string daemon_config_with_url(const std::string& url_json);

// The JSON-encoded form of a text, for building configurations.
std::string json_quote(const std::string& text);

// Compares a run's whole stdout, stderr and exit status with the expected
// ones; a time-out or a signal is reported as such.
void expect_run(const RunResult& result, const std::string& out, const std::string& err, int status);

// A command that ended in an exception whose text comes from a library and
// is not fixed: nothing on stdout, one "Exception: ..." line, status 11.
void expect_exception_line(const RunResult& result);

// The text of the JSON library's parse error for `text` when parsed
// strictly, as the client must report it.
std::string json_parse_error(const std::string& text);

// The text of the JSON library's error when it serialises the request
// {"call": call, "cmd": cmd, key: value} compactly and strictly.
std::string json_dump_error(const std::string& call, const std::string& cmd, const std::string& key,
                            const std::string& value);

// One run of the program against a scripted daemon: its arguments, the
// replies, and the requests and output expected.
struct ExchangeCase {
  std::vector<std::string> args;
  std::vector<Reply> replies;
  std::vector<std::string> requests;
  std::string out;
  std::string err;
  int status;
};

// The arguments quoted and joined, for naming a case in a failure.
std::string joined(const std::vector<std::string>& args);

// Runs the case in a fresh sandbox with the program under `program_name`,
// in this process against a scripted daemon, and compares the whole output,
// the exit status and the requests on the wire.
void expect_exchange(const ExchangeCase& c, const std::string& program_name = "tarnex-viravi");

// expect_exchange for each case, named by its arguments.
void run_exchange_cases(const std::vector<ExchangeCase>& cases);

}  // namespace tarnex::testing
