#include "base/terminal_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnex {
namespace {

// Which bytes reach a terminal as escapes: controls in every form, and
// nothing that is a character of its own.
TEST(Neutralised, EscapesEveryControlAndNothingElse) {
  struct Case {
    std::string text;
    std::string message;  // as shown in a message
    std::string name;     // as shown in a name or a cell
  };
  const std::vector<Case> cases = {
      {"\x1b]0;PWNED\x07\x1b[2J", "\\x1b]0;PWNED\\x07\\x1b[2J", "\\x1b]0;PWNED\\x07\\x1b[2J"},
      {std::string("a\0b\rc\bd\x7f", 8), "a\\x00b\\x0dc\\x08d\\x7f", "a\\x00b\\x0dc\\x08d\\x7f"},
      {"two\nlines\tand tab", "two\nlines\tand tab", "two\\x0alines\\x09and tab"},
      // C1 as UTF-8 (U+0080, U+009B, U+009F) and as raw bytes of an 8-bit set.
      {"\xc2\x80|\xc2\x9b"
       "2J|\xc2\x9f",
       "\\xc2\\x80|\\xc2\\x9b2J|\\xc2\\x9f", "\\xc2\\x80|\\xc2\\x9b2J|\\xc2\\x9f"},
      {"\x9b"
       "2J\x85",
       "\\x9b2J\\x85", "\\x9b2J\\x85"},
      // Valid UTF-8 stays, even where its bytes lie in 0x80 to 0x9F: U+00A0,
      // é, Û (C3 9B), U+201B, a CJK character, U+10FFFF.
      {"\xc2\xa0 \xc3\xa9 \xc3\x9b \xe2\x80\x9b \xe6\x97\xa5 \xf4\x8f\xbf\xbf",
       "\xc2\xa0 \xc3\xa9 \xc3\x9b \xe2\x80\x9b \xe6\x97\xa5 \xf4\x8f\xbf\xbf",
       "\xc2\xa0 \xc3\xa9 \xc3\x9b \xe2\x80\x9b \xe6\x97\xa5 \xf4\x8f\xbf\xbf"},
      // What reorders or hides text, at the edges of its ranges: U+200B,
      // U+200F, U+2028, U+202E, U+2066, U+2069, U+FEFF; and the characters
      // next to them, which stay: U+200A, U+2010, U+2027, U+202F, U+2065,
      // U+206A, U+FEFE.
      {"\xe2\x80\x8b\xe2\x80\x8f|\xe2\x80\xa8\xe2\x80\xae|\xe2\x81\xa6\xe2\x81\xa9|\xef\xbb\xbf",
       R"(\xe2\x80\x8b\xe2\x80\x8f|\xe2\x80\xa8\xe2\x80\xae|\xe2\x81\xa6\xe2\x81\xa9|\xef\xbb\xbf)",
       R"(\xe2\x80\x8b\xe2\x80\x8f|\xe2\x80\xa8\xe2\x80\xae|\xe2\x81\xa6\xe2\x81\xa9|\xef\xbb\xbf)"},
      {"\xe2\x80\x8a\xe2\x80\x90\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xef\xbb\xbe",
       "\xe2\x80\x8a\xe2\x80\x90\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xef\xbb\xbe",
       "\xe2\x80\x8a\xe2\x80\x90\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xef\xbb\xbe"},
      // Ill-formed sequences: overlong, surrogate, beyond U+10FFFF, cut
      // short. Their bytes count one by one, and only 0x80 to 0x9F are C1.
      {"\xc0\x9b|\xe0\x80\x9b|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x80",
       "\xc0\\x9b|\xe0\\x80\\x9b|\xed\xa0\\x80|\xf4\\x90\\x80\\x80|\xe2\\x80",
       "\xc0\\x9b|\xe0\\x80\\x9b|\xed\xa0\\x80|\xf4\\x90\\x80\\x80|\xe2\\x80"},
      {"\xc2", "\xc2", "\xc2"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(neutralised(c.text, true, TextKind::message), c.message);
    EXPECT_EQ(neutralised(c.text, true, TextKind::name), c.name);
    EXPECT_EQ(neutralised(c.text, false, TextKind::name), c.text);
    EXPECT_EQ(neutralised(c.text, false, TextKind::message), c.text);
  }
}

}  // namespace
}  // namespace tarnex
