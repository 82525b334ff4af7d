#pragma once

#include <string>
#include <string_view>

namespace tarnex {

// What a text is, as far as the control characters it may keep at a
// terminal go.
enum class TextKind {
  own,      // the program's own words: written as they are
  message,  // free text from the daemon or a file: newline and tab stay
  name,     // a name, a table cell, part of a line: no control character stays
  typed,    // a word the operator typed: as a name
};

// The one way a text from the daemon or a file reaches a stream. Not at a
// terminal it comes back unchanged, byte for byte. At a terminal every byte
// of a control character is written as "\x" and two lower-case hex digits:
// C0 controls and DEL, C1 controls as raw bytes (0x80 to 0x9F outside a
// valid UTF-8 sequence) and as UTF-8 (U+0080 to U+009F: "\xc2\x9b"), and
// the characters that reorder or hide text (U+202E: "\xe2\x80\xae"). A
// message keeps its newlines and tabs. Valid UTF-8 of any other character,
// and any other byte, stays as it is.
std::string neutralised(std::string_view text, bool terminal, TextKind kind);

// The characters that make a terminal show text in another order than it is
// read, or not at all: the bidirectional controls (U+202A to U+202E, U+2066
// to U+2069), the zero-width characters (U+200B to U+200F, U+FEFF) and the
// line and paragraph separators (U+2028, U+2029).
bool reorders_or_hides(char32_t code);

}  // namespace tarnex
