#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarnex {

// A copy of an argument vector for getopt_long, which permutes what it
// reads: the words, and the null-terminated array of pointers to them.
class ArgumentVector {
 public:
  explicit ArgumentVector(std::vector<std::string> words) : words_(std::move(words)) {
    pointers_.reserve(words_.size() + 1);
    for (std::string& word : words_)
      pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
  }
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;

  int argc() const { return static_cast<int>(words_.size()); }
  char** argv() { return pointers_.data(); }
  // The word at `index` as getopt_long has ordered them.
  const char* operator[](int index) const { return pointers_[static_cast<std::size_t>(index)]; }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

}  // namespace tarnex
