#pragma once

#include <cstdio>
#include <string>

namespace tarnex::testing {

// An in-memory FILE* for output routines: write to stream(), then read text().
struct CapturedOutput {
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  FILE* stream() const { return file; }
  std::string text() const;

  FILE* file = nullptr;
  char* buffer = nullptr;
  size_t size = 0;
};

}  // namespace tarnex::testing
