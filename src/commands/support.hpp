#pragma once

#include <exception>

#include "commands/context.hpp"
#include "exit_status.hpp"

namespace tarnex {

// Runs a command body under the one handler every command has: exceptions
// become "Exception: <text>" (or "Unknown exception") on the context's
// error stream and status 11. The text may quote a reply.
template <typename Body>
int run_guarded(const CommandContext& context, Body&& body) {
  try {
    return body();
  } catch (const std::exception& error) {
    print_line(context.err, {"Exception: ", message(error.what())});
  } catch (...) {
    print_line(context.err, {"Unknown exception"});
  }
  return exit_request_failed;
}

}  // namespace tarnex
