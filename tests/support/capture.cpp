#include "support/capture.hpp"

#include <cstdlib>
#include <stdexcept>

namespace tarnex::testing {

CapturedOutput::CapturedOutput() : file(open_memstream(&buffer, &size)) {
  if (file == nullptr) throw std::runtime_error("open_memstream failed");
}

CapturedOutput::~CapturedOutput() {
  if (file != nullptr) std::fclose(file);
  std::free(buffer);
}

std::string CapturedOutput::text() const {
  std::fflush(file);
  return std::string(buffer, size);
}

}  // namespace tarnex::testing
