// The settings reader against the INI library it stands in for: the same
// values and the same first faulty line on every text the library can hold,
// and lines of any length where the library gives up.
#include "config/ini.hpp"

#include <INIReader.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/discovery.hpp"
#include "support/temp_dir.hpp"

namespace tarnex {
namespace {

using tarnex::testing::TempDir;

TEST(ReadIni, AgreesWithTheLibraryOnWhatItCanHold) {
  using namespace std::string_literals;
  const std::vector<std::string> texts = {
      "",
      "[RUXD]\nConfig=/srv/c.json\n",
      "[ruxd]\nconfig = relative.json\n",
      "\xef\xbb\xbf[RUXD]\nConfig = bom.json",
      "; comment\n# other\n[Other]\nConfig=/x\n[RUXD]\nConfig=/y\n",
      "[RUXD]\nConfig=\n",
      "[RUXD]\r\nConfig = crlf.json\r\n",
      "[RUXD]\nConfig: colon.json ; inline comment\n",
      "[RUXD]\nConfig = a;b\nTimeout = 5 ;s\n",
      "[RUXD]\nConfig = first\nConfig = second\n",
      "[RUXD]\nConfig =\nConfig = second\n",
      "[RUXD]\nConfig = first\n  continued ; here\n\tand tab\n",
      "  [RUXD]  trailing\n  Config = indented key\n",
      "[RUXD]\nthis line is malformed\nConfig=/x\n",
      "[RUXD\nConfig=/x\n",
      "[RUXD ; c]\nConfig=/x\n",
      "[RU]XD]\nConfig=/x\n",
      "[]\nConfig=/x\n[RUXD]\n = empty name\nConfig = ok\n",
      "Config=/outside\n[RUXD]\n",
      "[RUXD]\nConfig ;x = y\n",
      "[RUXD]\nCon fig = spaced\nconfig=  \n",
      "[RUXD]\nConfig = a\0b\nTimeout=1\n"s,
      "[RUXD]\nConfig = " + std::string(150, 'p') + "\n",
      "[R" + std::string(60, 'x') + "]\nConfig=/long-section\n",
      "[RUXD]\n" + std::string(60, 'k') + " = v\n  continued\n",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    TempDir tmp;
    const INIReader library(tmp.write("s.ini", text).string());
    std::string error;
    const std::optional<IniValues> values = read_ini(text, &error);
    const int error_line = values ? 0 : std::stoi(error);
    EXPECT_EQ(library.ParseError(), error_line);
    ASSERT_EQ(values.has_value(), error_line == 0);
    if (!values) continue;
    for (const auto& [key, value] : *values) {
      const std::size_t equals = key.rfind('=');
      EXPECT_EQ(library.Get(key.substr(0, equals), key.substr(equals + 1), "<none>"), value) << key;
    }
    for (const char* name : {"Config", "Timeout"}) {
      const auto found = values->find(ini_key("RUXD", name));
      EXPECT_EQ(library.Get("RUXD", name, "<none>"), found == values->end() ? "<none>" : found->second);
    }
  }
}

// The library splits a line longer than its buffer and the pieces fail,
// which made a valid file count as no file at all.
TEST(ReadSettingsFile, LinesOfAnyLength) {
  const std::string long_path = "/srv/" + std::string(400, 'd') + "/config.json";
  struct Case {
    std::string text;
    std::string config;
  };
  const std::vector<Case> cases = {
      {"; " + std::string(300, 'c') + "\n[RUXD]\nConfig = /srv/c.json\n", "/srv/c.json"},
      {"[RUXD]\nConfig = " + long_path + "\n", long_path},
      {"[RUXD]\nConfig = /a ; " + std::string(5000, 'c') + "\n", "/a"},
      {"[RUXD]\nConfig = " + std::string(8192, 'x') + "\n", std::string(8192, 'x')},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    EXPECT_EQ(read_settings_file(tmp.write("tv.config", c.text)).config_path, c.config);
  }
}

}  // namespace
}  // namespace tarnex
