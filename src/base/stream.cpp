#include "base/stream.hpp"

namespace tarnex {

std::string shown(const Stream& stream, const Text& text) {
  return neutralised(text.text, stream.terminal, text.kind);
}

void print(const Stream& stream, std::initializer_list<Text> pieces) {
  for (const Text& piece : pieces) {
    if (piece.kind == TextKind::own || !stream.terminal) {
      std::fwrite(piece.text.data(), 1, piece.text.size(), stream.file);
    } else {
      const std::string text = shown(stream, piece);
      std::fwrite(text.data(), 1, text.size(), stream.file);
    }
  }
}

void print_line(const Stream& stream, std::initializer_list<Text> pieces) {
  print(stream, pieces);
  std::fputc('\n', stream.file);
}

}  // namespace tarnex
