// Configuration and settings files that are not what a person would write:
// FIFOs that would block the open, and absurdly deep nesting.
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "config/cluster_config.hpp"
#include "config/discovery.hpp"
#include "support/temp_dir.hpp"

namespace tarnex {
namespace {

using tarnex::testing::TempDir;

std::string nested_arrays(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

std::string load_error(const std::string& path) {
  std::string error;
  return load_cluster_config(path, &error) ? "<loaded>" : error;
}

// Opening a FIFO for reading waits for a writer: it must be refused before
// it is opened, like any other path that is not a regular file. (A hang here
// ends in the test's time-out.)
TEST(HostileFiles, FifoIsNeitherConfigurationNorSettings) {
  TempDir tmp;
  const std::string fifo = (tmp.path / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(load_error(fifo), "cannot open config file: " + fifo);
  EXPECT_EQ(read_settings_file(fifo).config_path, default_config_path);
  EXPECT_EQ(load_error("/dev/null"), "cannot open config file: /dev/null");
}

TEST(HostileFiles, NestingIsLimited) {
  TempDir tmp;
  const std::string limit = std::to_string(max_config_depth);
  const std::string refused = "config file nested deeper than " + limit + " levels";
  struct Case {
    std::string document;
    std::string error;
  };
  const Case cases[] = {
      // The limit counts the top-level object as one level.
      {R"({"x": )" + nested_arrays(max_config_depth - 1) + "}", "<loaded>"},
      {R"({"x": )" + nested_arrays(max_config_depth) + "}", refused},
      {nested_arrays(1000000), refused},
      // Never closed: refused at the limit instead of building a million levels.
      {std::string(64 << 20, '['), refused},
      // What follows the first value is not examined, however deep.
      {"{} " + std::string(100000, '['), "<loaded>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document.substr(0, 40));
    EXPECT_EQ(load_error(tmp.write("deep.json", c.document).string()), c.error);
  }
}

// Syntax and type faults are told in the library's own words.
TEST(HostileFiles, SyntaxAndTypeErrorsKeepTheirTypes) {
  TempDir tmp;
  EXPECT_EQ(load_error(tmp.write("a.json", "").string()).rfind("[json.exception.parse_error.", 0), 0U);
  EXPECT_EQ(load_error(tmp.write("b.json", "[[[1,]]]").string()).rfind("[json.exception.parse_error.", 0),
            0U);
  EXPECT_EQ(
      load_error(tmp.write("c.json", R"({"nodes": [1]})").string()).rfind("[json.exception.type_error.", 0),
      0U);
  EXPECT_EQ(load_error(tmp.write("d.json", R"({"cluster": {"mgmt-url": "tcp://x:1"}} trailing)").string()),
            "<loaded>");
}

}  // namespace
}  // namespace tarnex
