#pragma once

// Helpers shared by the fuzz targets: a sink for output nobody reads, and a
// file in memory that the code under test can open by path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarnex::fuzz {

// Output of the code under test goes here; writing to /dev/null still runs
// every formatting path.
inline FILE* sink() {
  static FILE* null_file = std::fopen("/dev/null", "w");
  if (null_file == nullptr) std::abort();
  return null_file;
}

// Standard output and standard error of the code under test lead nowhere:
// libFuzzer's own reports are kept by -close_fd_mask, and a replay of one
// input still shows a crash report (sanitizers write to the original fd 2).
inline void silence_stdout() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

// A regular file in memory, rewritten for every input and reachable by a
// path, so loaders that take a path read exactly the input.
struct MemoryFile {
  MemoryFile() : fd(memfd_create("tarnex-fuzz", MFD_CLOEXEC)) {
    if (fd < 0) std::abort();
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  void fill(const std::uint8_t* data, std::size_t size) const {
    if (ftruncate(fd, 0) != 0) std::abort();
    std::size_t written = 0;
    while (written < size) {
      ssize_t got = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
      if (got <= 0) std::abort();
      written += static_cast<std::size_t>(got);
    }
  }
  int fd;
  std::string path;
};

}  // namespace tarnex::fuzz
