#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/usage.hpp"
#include "e2e/usage_texts.hpp"
#include "support/capture.hpp"

namespace tarnex {
namespace {

struct Parsed {
  CliOptions options;
  Asked outcome = Asked::command;
  std::string program_name;
  std::filesystem::path program_dir;
  std::string diagnostics;
};

Parsed parse(const std::vector<std::string>& args) {
  tarnex::testing::CapturedOutput err;
  CommandLine line;
  Parsed parsed;
  parsed.outcome = read_command_line(args, {err.stream(), false}, line);
  parsed.options = line.options;
  parsed.program_name = line.program_name;
  parsed.program_dir = line.program_dir;
  parsed.diagnostics = err.text();
  return parsed;
}

TEST(ParseCommandLine, OptionsFollowFirstAndLastWinsRules) {
  Parsed p = parse({"tv", "-n", "3", "--id", "5", "--name", "a", "-s", "b", "-o", "json", "-o", "table"});
  EXPECT_EQ(p.outcome, Asked::command);
  EXPECT_EQ(p.options.node, "3");
  EXPECT_EQ(p.options.service, "a");
  EXPECT_EQ(p.options.output, "table");
  EXPECT_FALSE(p.options.force);
}

TEST(ParseCommandLine, NodeAndIdAreOneOptionAndEmptyValueIsPresent) {
  EXPECT_EQ(parse({"tv", "--node=7", "--id=8"}).options.node, "7");
  Parsed empty = parse({"tv", "--id="});
  ASSERT_TRUE(empty.options.node.has_value());
  EXPECT_EQ(*empty.options.node, "");
}

TEST(ParseCommandLine, OperandsArePermutedAndExtraOnesIgnored) {
  Parsed p = parse({"tv", "node", "--id=1", "exit", "--force", "extra", "words"});
  EXPECT_EQ(p.outcome, Asked::command);
  EXPECT_EQ(p.options.system, "node");
  EXPECT_EQ(p.options.action, "exit");
  EXPECT_TRUE(p.options.force);
}

TEST(ParseCommandLine, DefaultsWithoutOperands) {
  Parsed p = parse({"tv"});
  EXPECT_FALSE(p.options.system.has_value());
  EXPECT_EQ(p.options.action, "status");
  EXPECT_EQ(p.options.output, "table");
  EXPECT_FALSE(p.options.node.has_value());
}

TEST(ParseCommandLine, ExplicitEmptySystemIsRecordedAsGiven) {
  Parsed p = parse({"tv", "", "exit"});
  EXPECT_EQ(p.options.system, "");
  EXPECT_EQ(p.options.action, "exit");
}

TEST(ParseCommandLine, LastOfHelpVersionAndErrorDecides) {
  struct Case {
    std::vector<std::string> args;
    Asked outcome;
  };
  const Case cases[] = {
      {{"tv", "-h"}, Asked::help},
      {{"tv", "-v"}, Asked::version},
      {{"tv", "-h", "-v"}, Asked::version},
      {{"tv", "-v", "-h"}, Asked::help},
      {{"tv", "-x", "-h"}, Asked::help},
      {{"tv", "-h", "-x"}, Asked::bad_option},
      {{"tv", "--bogus"}, Asked::bad_option},
      {{"tv", "-n"}, Asked::bad_option},
      {{"tv", "--version", "--help"}, Asked::help},
      {{"tv", "service", "-h"}, Asked::help},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse(c.args).outcome, c.outcome) << c.args.back();
  }
}

// The option reader's diagnostics go to the invocation's error stream, named
// after argv[0] as the platform's reader words them.
TEST(ParseCommandLine, DiagnosticsGoToTheGivenStream) {
  const Parsed bad = parse({"./tv", "--bogus", "-n"});
  EXPECT_NE(bad.diagnostics.find("./tv: "), std::string::npos) << bad.diagnostics;
  EXPECT_NE(bad.diagnostics.find("bogus"), std::string::npos) << bad.diagnostics;
  EXPECT_EQ(std::count(bad.diagnostics.begin(), bad.diagnostics.end(), '\n'), 2) << bad.diagnostics;
  EXPECT_EQ(parse({"tv", "-h"}).diagnostics, "");
}

TEST(ParseCommandLine, ProgramNameAndDirectoryComeFromArgv0) {
  Parsed p = parse({"/opt/bin/clu", "-h"});
  EXPECT_EQ(p.program_name, "clu");
  EXPECT_EQ(p.program_dir, "/opt/bin");
  EXPECT_EQ(parse({"tv", "-h"}).program_name, "tv");
  EXPECT_EQ(parse({}).program_name, "tarnex-viravi");
}

TEST(ExpandAppName, ReplacesEveryPlaceholderOnce) {
  EXPECT_EQ(expand_app_name("%APP% x %APP%", "clu"), "clu x clu");
  EXPECT_EQ(expand_app_name("a%APP%b", "%APP%"), "a%APP%b");
  EXPECT_EQ(expand_app_name("  %APP% node list\n", ""), "   node list\n");
  EXPECT_EQ(expand_app_name("%APP%%APP%", "x%APP"), "x%APPx%APP");
  EXPECT_EQ(expand_app_name("no placeholder", "clu"), "no placeholder");
}

std::string usage_for(const std::string& system, const std::string& name) {
  tarnex::testing::CapturedOutput out;
  print_usage({out.stream(), false}, system, name);
  return out.text();
}

// Each system word, as typed, picks its whole text; the program name stands
// wherever the text names the program.
TEST(PrintUsage, PicksTextBySystemWordExactly) {
  using tarnex::testing::cluster_usage;
  using tarnex::testing::node_usage;
  using tarnex::testing::service_usage;
  using tarnex::testing::top_usage;
  struct Case {
    const char* system;
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"", "tv", top_usage("tv")},
      {"", "clu", top_usage("clu")},
      {"cluster", "clu", cluster_usage("clu")},
      {"node", "tv", node_usage("tv")},
      {"service", "tv", service_usage("tv")},
      {"Node", "tv", top_usage("tv")},
      {"storage", "tv", top_usage("tv")},
  };
  for (const Case& c : cases) {
    std::string text = usage_for(c.system, c.name);
    EXPECT_EQ(text, c.text) << c.system;
    EXPECT_EQ(text.find(" \n"), std::string::npos) << "trailing blank in " << c.system;
  }
}

}  // namespace
}  // namespace tarnex
