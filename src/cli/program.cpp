#include "cli/program.hpp"

#include "cli/command_line.hpp"
#include "cli/dispatch.hpp"
#include "cli/usage.hpp"
#include "config/discovery.hpp"
#include "exit_status.hpp"

namespace tarnex {

int run_program(const std::vector<std::string>& args, const ProgramIo& io) {
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
  for (const std::string& message : configuration.messages)
    std::fprintf(io.err, "%s\n", message.c_str());
  if (configuration.mgmt_url.empty()) {
    std::fputs("Error: mgmt-url is not configured\n", io.err);
    return exit_bad_input;
  }
  line.options.mgmt_url = configuration.mgmt_url;

  CommandContext context;
  context.out = io.out;
  context.err = io.err;
  context.program_name = line.program_name;
  context.daemon.transport = io.transport;
  context.daemon.endpoint = line.options.mgmt_url;
  // A JSON document on standard output must stay parseable: its dots go to
  // standard error.
  context.daemon.progress = line.options.output == "json" ? io.err : io.out;
  context.daemon.err = io.err;
  context.daemon.progress_interval = io.progress_interval;
  return run_system(line.options, line.program_name, context);
}

}  // namespace tarnex
