#include "cli/program.hpp"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/close_word.hpp"
#include "cli/command_line.hpp"
#include "cli/dispatch.hpp"
#include "cli/usage.hpp"
#include "commands/catalogue.hpp"
#include "config/discovery.hpp"
#include "exit_status.hpp"

namespace tarnex {
namespace {

bool reader_gone(FILE* stream) {
  pollfd polled{fileno(stream), POLLOUT, 0};
  return poll(&polled, 1, 0) == 1 && (polled.revents & POLLERR) != 0;
}

// Flushes `stream` and says whether everything written to it went out; the
// reason goes to `reason` when not.
bool all_written(FILE* stream, std::string& reason) {
  errno = 0;
  const bool flushed = std::fflush(stream) == 0;
  int error = errno;
  if (flushed && std::ferror(stream) == 0) return true;
  // A write that failed earlier left no reason behind; a pipe whose reader
  // went away still tells it.
  if (error == 0 && reader_gone(stream)) error = EPIPE;
  reason = error != 0 ? std::strerror(error) : "write error";
  return false;
}

// Names in the settings file's [RUXD] that nothing reads, with the setting
// meant when the name is a near miss.
void note_unknown_settings(const Stream& err, const Configuration& configuration) {
  static const std::vector<std::string_view> known = {"config", "timeout"};  // as the INI rules key them
  for (const std::string& setting : configuration.unknown_settings) {
    print(err, {"ruxd:config: ", name(configuration.settings_path.string()), ": [RUXD] ", name(setting),
                " is not a known setting"});
    // Names are compared without regard to case, as the INI rules match them.
    std::string lower = setting;
    for (char& c : lower)
      c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (const auto close = close_word(lower, known)) {
      print(err, {"; did you mean ", *close == "config" ? Text("Config") : Text("Timeout"), "?"});
    }
    print_line(err, {});
  }
}

// While a command that changes the cluster runs, and until its output is
// checked, a reader that went away must not end it between two requests (a
// move between its stop and its start): SIGPIPE is ignored, writes fail
// instead, and the run reports the lost output once every request is made.
// A SIGPIPE that was ignored already stays so.
class BrokenPipeTolerated {
 public:
  BrokenPipeTolerated() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    changed_ = sigaction(SIGPIPE, &ignore, &saved_) == 0;
  }
  ~BrokenPipeTolerated() {
    if (changed_) sigaction(SIGPIPE, &saved_, nullptr);
  }
  BrokenPipeTolerated(const BrokenPipeTolerated&) = delete;
  BrokenPipeTolerated& operator=(const BrokenPipeTolerated&) = delete;

 private:
  struct sigaction saved_ {};
  bool changed_ = false;
};

int run(const std::vector<std::string>& args, const ProgramIo& io,
        std::optional<BrokenPipeTolerated>& broken_pipe_tolerated) {
  CommandLine line;
  const CliOptions& options = line.options;
  switch (read_command_line(args, io.err, line)) {
    case Asked::version:
      print_line(io.out, {typed(line.program_name), " version: ", own(version_string)});
      return exit_success;
    case Asked::help:
      print_usage(io.out, options.system.value_or(""), line.program_name);
      return exit_success;
    case Asked::bad_option:
      print_usage(io.out, options.system.value_or(""), line.program_name);
      return exit_bad_input;
    case Asked::command:
      break;
  }

  // Read once per run, and only for a command: help, version and bad options
  // never open a file.
  const Configuration configuration = load_configuration(line.program_name, line.program_dir);
  // The lines quote the files; at a terminal a mapping fault also says which
  // member of which file it met.
  if (io.err.terminal) note_unknown_settings(io.err, configuration);
  for (const std::string& line_text : configuration.messages)
    print_line(io.err, {name(line_text)});
  if (io.err.terminal && !configuration.failed_member.empty()) {
    print_line(io.err, {"ruxd:config: in ", name(configuration.config_path), " at ",
                        name(configuration.failed_member)});
  }
  if (configuration.mgmt_url.empty()) {
    print_line(io.err, {"Error: mgmt-url is not configured"});
    return exit_bad_input;
  }
  std::optional<std::uint32_t> timeout = options.timeout;
  if (!timeout && configuration.timeout) {
    timeout = parse_timeout(*configuration.timeout);
    if (!timeout) {
      print_line(io.err, {"Error: ", name(configuration.settings_path.string()),
                          ": Timeout is not a whole number of seconds: ", name(*configuration.timeout)});
      return exit_bad_input;
    }
  }

  CommandContext context;
  context.out = io.out;
  context.err = io.err;
  context.program_name = line.program_name;
  context.daemon.transport = io.transport;
  context.daemon.endpoint = configuration.mgmt_url;
  // A JSON document on standard output must stay parseable: its dots go to
  // standard error.
  context.daemon.progress = options.output == "json" ? io.err : io.out;
  context.daemon.err = io.err;
  context.daemon.progress_interval = io.progress_interval;
  context.daemon.timeout = std::chrono::seconds(timeout.value_or(0));
  context.daemon.unbounded_wait = "Ctrl-C stops; --timeout=SECONDS limits the wait";
  const CommandRow* row = find_command(options.system.value_or("cluster"), options.action);
  if (row != nullptr && row->changes) broken_pipe_tolerated.emplace();
  return run_system(options, line.program_name, context);
}

}  // namespace

int run_program(const std::vector<std::string>& args, const ProgramIo& io) {
  std::optional<BrokenPipeTolerated> broken_pipe_tolerated;
  int status = run(args, io, broken_pipe_tolerated);
  // What could not be written is no success: a script would take an empty
  // or cut document for a good one. (The dots in JSON mode go to standard
  // error, checked with it.)
  std::string reason;
  if (!all_written(io.out.file, reason)) {
    print_line(io.err, {"Error: cannot write standard output: ", own(reason)});
    if (status == exit_success) status = exit_bad_input;
  }
  if (!all_written(io.err.file, reason) && status == exit_success) status = exit_bad_input;
  return status;
}

}  // namespace tarnex
