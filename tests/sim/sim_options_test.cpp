#include "sim_options.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarnex::sim {
namespace {

// The problem found in `args`, or the empty text when they are read.
std::string problem_in(const std::vector<std::string>& args, SimOptions& options) {
  std::string error;
  const bool read = parse_sim_options(args, &options, &error);
  EXPECT_EQ(read, error.empty()) << error;
  return error;
}

TEST(SimOptions, ReadsEachOptionInBothSpellingsAndKeepsDefaultsOtherwise) {
  SimOptions options;
  options.config_path = "default.json";
  ASSERT_EQ(problem_in({}, options), "");
  EXPECT_EQ(options.config_path, "default.json");
  EXPECT_FALSE(options.bind.has_value());
  EXPECT_EQ(options.delay_ms, 0);

  ASSERT_EQ(problem_in({"--config", "a.json", "--bind=tcp://127.0.0.1:5", "--delay-ms", "2500"}, options),
            "");
  EXPECT_EQ(options.config_path, "a.json");
  EXPECT_EQ(options.bind, "tcp://127.0.0.1:5");
  EXPECT_EQ(options.delay_ms, 2500);
  EXPECT_FALSE(options.help);

  EXPECT_EQ(options.op_ms, 500);
  EXPECT_EQ(options.greeting_ms, 10000);
  EXPECT_FALSE(options.inject.has_value());

  ASSERT_EQ(problem_in({"--config=b.json", "--bind", "ipc:///tmp/x", "--delay-ms=0", "-h", "--op-ms", "0",
                        "--greeting-ms=250", "--inject=node 2 offline"},
                       options),
            "");
  EXPECT_EQ(options.config_path, "b.json");
  EXPECT_EQ(options.bind, "ipc:///tmp/x");
  EXPECT_EQ(options.delay_ms, 0);
  EXPECT_EQ(options.op_ms, 0);
  EXPECT_EQ(options.greeting_ms, 250);
  EXPECT_EQ(options.inject, "node 2 offline");
  EXPECT_TRUE(options.help);
}

TEST(SimOptions, RefusesBadCommandLines) {
  struct Case {
    std::vector<std::string> args;
    const char* problem;
  };
  const char* const bad_delay = "--delay-ms needs a whole number of milliseconds from 0 to 3600000, not ";
  for (const auto& c : std::vector<Case>{
           {{"--config"}, "--config needs a value"},
           {{"--bind="}, "--bind needs a value"},
           {{"--delay-ms", ""}, "--delay-ms needs a value"},
           {{"--delay-ms", "-5"}, ""},
           {{"--delay-ms", "1.5"}, ""},
           {{"--delay-ms", "3600001"}, ""},
           {{"--delay-ms", "99999999999999999999"}, ""},
           {{"--delay", "5"}, "unknown option: --delay"},
           {{"--op-ms", "1s"}, "--op-ms needs a whole number of milliseconds from 0 to 3600000, not 1s"},
           {{"--inject="}, "--inject needs a value"},
           {{"--configx=a"}, "unknown option: --configx=a"},
           {{"cluster.json"}, "unexpected argument: cluster.json"},
           {{"-x"}, "unknown option: -x"},
           {{"--help=yes"}, "unknown option: --help=yes"},
           {{"--", "-h"}, "unknown option: --"},
           {{"--conf"}, "unknown option: --conf"},
       }) {
    SCOPED_TRACE(c.args.back());
    SimOptions options;
    const std::string expected = *c.problem != '\0' ? c.problem : bad_delay + c.args.back();
    EXPECT_EQ(problem_in(c.args, options), expected);
  }
  SimOptions options;
  EXPECT_EQ(problem_in({"--delay-ms", "3600000"}, options), "");
  EXPECT_EQ(options.delay_ms, max_delay_ms);
}

}  // namespace
}  // namespace tarnex::sim
