#pragma once

#include <cstdio>
#include <exception>
#include <string>

#include "commands/context.hpp"
#include "daemon/terminal_text.hpp"
#include "exit_status.hpp"

namespace tarnex {

// Runs a command body under the one handler every command has: exceptions
// become "Exception: %s" (or "Unknown exception") on the context's error
// stream and status 11. The text may quote a reply, so it is neutralised.
template <typename Body>
int run_guarded(const CommandContext& context, Body&& body) {
  try {
    return body();
  } catch (const std::exception& error) {
    std::fprintf(context.err, "Exception: %s\n",
                 neutralised(error.what(), context.err_is_terminal, TextKind::message).c_str());
  } catch (...) {
    std::fprintf(context.err, "Unknown exception\n");
  }
  return exit_request_failed;
}

// Writes a text from the daemon and a newline: byte for byte, or
// neutralised on a terminal.
inline void print_text_line(FILE* out, bool terminal, const std::string& text) {
  const std::string shown = neutralised(text, terminal, TextKind::message);
  std::fwrite(shown.data(), 1, shown.size(), out);
  std::fputc('\n', out);
}

}  // namespace tarnex
