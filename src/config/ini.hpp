#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarnex {

// The values of an INI text, keyed "section=name" in lower case, as the INI
// library's reader keys them.
using IniValues = std::map<std::string, std::string>;

// Reads an INI text by the rules of the INI library (the reference its tests
// compare with), but with lines of any length (the library splits lines
// longer than its 200-byte buffer, and the pieces then fail to parse):
// "[section]" lines; "name = value" or "name: value" lines; comment lines
// starting with ';' or '#'; a ';' after white space starts a comment (not
// on a continuation line); a line that starts with white space continues the
// previous value, joined with a newline, as is a name given twice; a byte-order mark at the start is
// skipped; a NUL ends its line. Returns nothing when a line is none of
// these, with "<number of the first such line>: not a valid settings line"
// in *error. With `spellings`, each key's name as first written goes there
// under that key.
std::optional<IniValues> read_ini(std::string_view text, std::string* error, IniValues* spellings = nullptr);

// The key under which read_ini files `name` of `section`.
std::string ini_key(std::string_view section, std::string_view name);

}  // namespace tarnex
