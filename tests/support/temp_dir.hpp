#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tarnex::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the value goes out of scope.
struct TempDir {
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `content` to `name` inside the directory (making the directories
  // on the way) and returns its path.
  std::filesystem::path write(const std::filesystem::path& name, const std::string& content) const {
    std::filesystem::path file = path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << content;
    if (!stream.flush()) throw std::runtime_error("cannot write " + file.string());
    return file;
  }

  std::filesystem::path path;
};

}  // namespace tarnex::testing
