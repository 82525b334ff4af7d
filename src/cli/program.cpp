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
#include "commands/changes.hpp"
#include "config/discovery.hpp"
#include "daemon/terminal_text.hpp"
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
void note_unknown_settings(FILE* err, const Configuration& configuration) {
  static const std::vector<std::string_view> known = {"config", "timeout"};  // as the INI rules key them
  const std::string path = neutralised(configuration.settings_path.string(), true, TextKind::name);
  for (const std::string& name : configuration.unknown_settings) {
    std::fprintf(err, "ruxd:config: %s: [RUXD] %s is not a known setting", path.c_str(),
                 neutralised(name, true, TextKind::name).c_str());
    if (const auto close = close_word(name, known)) {
      const std::string_view meant = *close == "config" ? "Config" : "Timeout";
      std::fprintf(err, "; did you mean %.*s?", static_cast<int>(meant.size()), meant.data());
    }
    std::fputc('\n', err);
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
  switch (read_command_line(args, io.err, line)) {
    case Asked::version:
      std::fprintf(io.out, "%s version: %s\n", line.program_name.c_str(), version_string);
      return exit_success;
    case Asked::help:
      print_usage(io.out, line.options.system, line.program_name);
      return exit_success;
    case Asked::bad_option:
      print_usage(io.out, line.options.system, line.program_name);
      return exit_bad_input;
    case Asked::command:
      break;
  }

  // Read once per run, and only for a command: help, version and bad options
  // never open a file.
  const Configuration configuration = load_configuration(line.program_name, line.program_dir);
  // The lines quote the files; at a terminal they are neutralised, and a
  // mapping fault also says which member of which file it met.
  const auto shown = [&io](const std::string& text) {
    return neutralised(text, io.err_is_terminal, TextKind::name);
  };
  if (io.err_is_terminal) note_unknown_settings(io.err, configuration);
  for (const std::string& message : configuration.messages)
    std::fprintf(io.err, "%s\n", shown(message).c_str());
  if (io.err_is_terminal && !configuration.failed_member.empty()) {
    std::fprintf(io.err, "ruxd:config: in %s at %s\n", shown(configuration.config_path).c_str(),
                 shown(configuration.failed_member).c_str());
  }
  if (configuration.mgmt_url.empty()) {
    std::fputs("Error: mgmt-url is not configured\n", io.err);
    return exit_bad_input;
  }
  line.options.mgmt_url = configuration.mgmt_url;
  if (!line.options.timeout && configuration.timeout) {
    line.options.timeout = parse_timeout(*configuration.timeout);
    if (!line.options.timeout) {
      std::fprintf(io.err, "Error: %s: Timeout is not a whole number of seconds: %s\n",
                   shown(configuration.settings_path.string()).c_str(),
                   shown(*configuration.timeout).c_str());
      return exit_bad_input;
    }
  }

  CommandContext context;
  context.out = io.out;
  context.err = io.err;
  context.out_is_terminal = io.out_is_terminal;
  context.err_is_terminal = io.err_is_terminal;
  context.program_name = line.program_name;
  context.daemon.transport = io.transport;
  context.daemon.endpoint = line.options.mgmt_url;
  // A JSON document on standard output must stay parseable: its dots go to
  // standard error.
  context.daemon.progress = line.options.output == "json" ? io.err : io.out;
  context.daemon.err = io.err;
  context.daemon.err_is_terminal = io.err_is_terminal;
  context.daemon.progress_interval = io.progress_interval;
  context.daemon.timeout = std::chrono::seconds(line.options.timeout.value_or(0));
  context.daemon.explain_wait = io.err_is_terminal;
  if (changes_state(line.options.action)) broken_pipe_tolerated.emplace();
  return run_system(line.options, line.program_name, context);
}

}  // namespace

int run_program(const std::vector<std::string>& args, const ProgramIo& io) {
  std::optional<BrokenPipeTolerated> broken_pipe_tolerated;
  int status = run(args, io, broken_pipe_tolerated);
  // What could not be written is no success: a script would take an empty
  // or cut document for a good one. (The dots in JSON mode go to standard
  // error, checked with it.)
  std::string reason;
  if (!all_written(io.out, reason)) {
    std::fprintf(io.err, "Error: cannot write standard output: %s\n", reason.c_str());
    if (status == exit_success) status = exit_bad_input;
  }
  if (!all_written(io.err, reason) && status == exit_success) status = exit_bad_input;
  return status;
}

}  // namespace tarnex
