#pragma once

#include <cstdio>
#include <exception>
#include <string>

#include "exit_status.hpp"

namespace tarnex {

// Runs a command body under the one handler every command has: exceptions
// become "Exception: %s" (or "Unknown exception") on `err` and status 11.
template <typename Body>
int run_guarded(FILE* err, Body&& body) {
  try {
    return body();
  } catch (const std::exception& error) {
    std::fprintf(err, "Exception: %s\n", error.what());
  } catch (...) {
    std::fprintf(err, "Unknown exception\n");
  }
  return exit_request_failed;
}

// Writes a text from the daemon and a newline, byte for byte.
inline void print_text_line(FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
}

}  // namespace tarnex
