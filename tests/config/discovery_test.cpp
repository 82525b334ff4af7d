#include "config/discovery.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace tarnex {
namespace {

using tarnex::testing::TempDir;

TEST(FindSettingsFile, FirstDirectoryWhereItExistsInAnyFormWins) {
  TempDir tmp;
  const std::filesystem::path first = tmp.path / "first";
  const std::filesystem::path second = tmp.path / "second";
  const std::filesystem::path third = tmp.path / "third";
  std::filesystem::create_directories(first);
  std::filesystem::create_directories(second);
  std::filesystem::create_directories(third);
  const std::filesystem::path dirs[] = {first, second, third};

  EXPECT_EQ(find_settings_file("tv", dirs, 3), "tv.config") << "nothing anywhere: bare name";
  EXPECT_EQ(find_settings_file("tv", dirs, 3, WorkingDirectory::not_searched), "") << "nor the bare name";

  tmp.write("third/tv.config", "");
  EXPECT_EQ(find_settings_file("tv", dirs, 3), third / "tv.config");

  // A directory of that name counts as existing and stops the search.
  std::filesystem::create_directories(second / "tv.config");
  EXPECT_EQ(find_settings_file("tv", dirs, 3), second / "tv.config");

  tmp.write("first/tv.config", "");
  EXPECT_EQ(find_settings_file("tv", dirs, 3), first / "tv.config");
  EXPECT_EQ(find_settings_file("other", dirs, 3), "other.config");
}

TEST(FindSettingsFile, CandidateWhoseStatusCannotBeReadIsSkipped) {
  TempDir tmp;
  // A regular file used as a directory: the status query fails (ENOTDIR).
  const std::filesystem::path not_a_dir = tmp.write("plain", "x");
  tmp.write("good/tv.config", "");
  const std::filesystem::path dirs[] = {not_a_dir, tmp.path / "good"};
  EXPECT_EQ(find_settings_file("tv", dirs, 2), tmp.path / "good" / "tv.config");
}

TEST(ReadSettingsFile, ConfigValueOrDefault) {
  struct Case {
    const char* content;
    const char* expected;
  };
  const Case cases[] = {
      {"[RUXD]\nConfig=/srv/c.json\n", "/srv/c.json"},
      {"[ruxd]\nconfig = relative.json\n", "relative.json"},
      {"; comment\n[Other]\nConfig=/x\n[RUXD]\nConfig=/y\n", "/y"},
      {"[RUXD]\nConfig=\n", ""},
      {"[RUXD]\nPath=/x\n", default_config_path},
      {"[RUXD]\nConfig=/x\nthis line is malformed\n", default_config_path},
      {"", default_config_path},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    EXPECT_EQ(read_settings_file(tmp.write("tv.config", c.content)).config_path, c.expected) << c.content;
  }
  TempDir tmp;
  EXPECT_EQ(read_settings_file(tmp.path / "missing.config").config_path, default_config_path);
}

struct Loaded {
  std::string mgmt_url;
  std::string err;
};

// Runs the whole configuration step with a program directory holding a
// settings file that names `config_text` (or an explicit settings text).
Loaded load_with(const std::string& config_text, const std::string* settings_text = nullptr) {
  TempDir tmp;
  const std::filesystem::path config = tmp.write("config.json", config_text);
  tmp.write("tarnex-viravi.config",
            settings_text != nullptr ? *settings_text : "[RUXD]\nConfig=" + config.string() + "\n");
  const Configuration configuration = load_configuration("tarnex-viravi", tmp.path);
  std::string err;
  for (const std::string& message : configuration.messages)
    err += message + "\n";
  return {configuration.mgmt_url, err};
}

TEST(LoadConfiguration, ValidConfigurationGivesTheEndpoint) {
  Loaded loaded = load_with(R"({"cluster": {"mgmt-url": "tcp://127.0.0.1:5555"},
      "nodes": [{"id": 1, "internal_addr": "10.0.0.1", "ruxd_port": 1, "nodename": "a"}]})");
  EXPECT_EQ(loaded.mgmt_url, "tcp://127.0.0.1:5555");
  EXPECT_EQ(loaded.err, "");
}

TEST(LoadConfiguration, ValidWithoutEndpointSaysNothing) {
  Loaded loaded = load_with("{}");
  EXPECT_EQ(loaded.mgmt_url, "");
  EXPECT_EQ(loaded.err, "");
}

TEST(LoadConfiguration, NegotiationErrorsAreListedAndEndpointDropped) {
  Loaded loaded = load_with(R"({"cluster": {"mgmt-url": "tcp://x:1", "redundancy_n_plus": 1},
      "nodes": [{"id": 1, "internal_addr": "", "ruxd_port": 1, "nodename": "a"}]})");
  EXPECT_EQ(loaded.mgmt_url, "");
  EXPECT_EQ(loaded.err,
            "ruxd:config: negotiation error:\n"
            "  -- nodes[0]: empty internal_addr\n"
            "  -- cluster: redundancy_n_plus 1 must be less than the number of nodes (1)\n");
}

TEST(LoadConfiguration, LoaderFailuresArePrefixed) {
  Loaded bad_type = load_with(R"({"cluster": {"type": 3, "mgmt-url": "tcp://x:1"}})");
  EXPECT_EQ(bad_type.mgmt_url, "");
  EXPECT_EQ(bad_type.err,
            "ruxd:config: [json.exception.type_error.302] type must be string, but is number\n");

  Loaded syntax = load_with("{ // comment\n}");
  EXPECT_EQ(syntax.mgmt_url, "");
  EXPECT_TRUE(syntax.err.starts_with("ruxd:config: [json.exception.parse_error.101]")) << syntax.err;

  const std::string empty_path = "[RUXD]\nConfig=\n";
  Loaded unopenable = load_with("{}", &empty_path);
  EXPECT_EQ(unopenable.err, "ruxd:config: cannot open config file: \n");
}

// The working directory is the client's last resort and never the
// monitors'. (A name of its own, so that no settings file in the system
// directories answers for it.)
TEST(LoadConfiguration, WorkingDirectoryOnlyWhenSearched) {
  TempDir tmp;
  const std::string url = "tcp://127.0.0.1:5556";
  const std::filesystem::path config = tmp.write("config.json", R"({"cluster": {"mgmt-url": ")" + url + R"("},
      "nodes": [{"id": 1, "internal_addr": "10.0.0.1", "ruxd_port": 1, "nodename": "a"}]})");
  tmp.write("tarnex-search-test.config", "[RUXD]\nConfig=" + config.string() + "\n");
  std::filesystem::create_directory(tmp.path / "bin");
  const std::filesystem::path was = std::filesystem::current_path();
  std::filesystem::current_path(tmp.path);
  const Configuration client =
      load_configuration("tarnex-search-test", tmp.path / "bin", WorkingDirectory::searched_last);
  const Configuration monitor =
      load_configuration("tarnex-search-test", tmp.path / "bin", WorkingDirectory::not_searched);
  std::filesystem::current_path(was);
  EXPECT_EQ(client.mgmt_url, url);
  EXPECT_EQ(client.settings_path, "tarnex-search-test.config");
  EXPECT_NE(monitor.mgmt_url, url);
  EXPECT_EQ(monitor.settings_path, "");
}

// A bare name is found as the shell found it; never in the working
// directory unless PATH says so.
TEST(ProgramDirectory, BareNameIsWherePathFindsIt) {
  const testing::TempDir temp;
  const std::filesystem::path bin = temp.path / "bin";
  std::filesystem::create_directories(bin / "tv.d");
  std::ofstream(bin / "tv") << "";
  std::ofstream(bin / "plain") << "";
  std::filesystem::permissions(bin / "tv", std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  const std::string path = "/nonexistent:" + bin.string();
  EXPECT_EQ(program_directory("tv", path.c_str()), bin);
  EXPECT_EQ(program_directory("plain", path.c_str()), self) << "not executable";
  EXPECT_EQ(program_directory("tv.d", path.c_str()), self) << "a directory";
  EXPECT_EQ(program_directory("tv", nullptr), self);
}

}  // namespace
}  // namespace tarnex
