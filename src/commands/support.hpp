#pragma once

#include <cstdio>
#include <exception>
#include <string>

#include "commands/exit_status.hpp"

namespace tarnex {

// Runs a command body under the one handler every command has: exceptions
// become "Exception: %s" (or "Unknown exception") and status 11.
template <typename Body>
int run_guarded(Body&& body) {
  try {
    return body();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Exception: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown exception\n");
  }
  return exit_request_failed;
}

// Writes a text from the daemon and a newline, byte for byte.
inline void print_text_line(const std::string& text, FILE* out = stdout) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
}

}  // namespace tarnex
