#include "output/tables.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/capture.hpp"

namespace tarnex {
namespace {

using testing::CapturedOutput;

std::string tables(const Json& nodes, const Json& services) {
  CapturedOutput output;
  print_tables({output.stream(), false}, nodes, services);
  return output.text();
}

std::string tables(const char* nodes, const char* services) {
  return tables(nodes == nullptr ? Json() : Json::parse(nodes),
                services == nullptr ? Json() : Json::parse(services));
}

const char* const example_nodes = R"({"response": [
  {"id": 2, "nodename": "bravo-2", "enabled": false},
  {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true}
]})";

const char* const example_services = R"({"response": [
  {"name": "x", "enabled": false},
  {"name": "web", "run_node": 1, "state": "ONLINE", "enabled": true},
  {"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true,
   "pools": [{"name": "p1", "state": "ONLINE"}, {"name": "p2", "state": "ONLINE"}]}
]})";

TEST(PrintTables, ClusterOverview) {
  EXPECT_EQ(tables(example_nodes, example_services),
            "NODES:\n"
            "NAME      ID     STATE    STATUS  SERVICES\n"
            "alpha      1    ONLINE   enabled  [ db, web ]\n"
            "bravo-2    2            DISABLED  [ ]\n"
            "\n"
            "SERVICES:\n"
            "NAME NODE     STATE    STATUS  POOLS\n"
            "db     1    ONLINE   enabled  [ p1(ONLINE), p2(ONLINE) ]\n"
            "web    1    ONLINE   enabled  [ ]\n"
            "x      -            DISABLED  [ ]\n");
}

TEST(PrintTables, NodesOnly) {
  EXPECT_EQ(tables(example_nodes, nullptr),
            "NAME      ID     STATE    STATUS  \n"
            "alpha      1    ONLINE   enabled\n"
            "bravo-2    2            DISABLED\n");
  // An error reply for the services is the same as none.
  EXPECT_EQ(tables(example_nodes, R"({"error": 5, "errorMessage": "ZMQ: x"})"),
            tables(example_nodes, nullptr));
}

TEST(PrintTables, ServicesOnly) {
  EXPECT_EQ(tables(nullptr, example_services),
            "NAME NODE     STATE    STATUS  POOLS\n"
            "db     1    ONLINE   enabled  [ p1(ONLINE), p2(ONLINE) ]\n"
            "web    1    ONLINE   enabled  [ ]\n"
            "x      -            DISABLED  [ ]\n");
  EXPECT_EQ(tables(R"({"response": []})", example_services), tables(nullptr, example_services));
}

TEST(PrintTables, NothingToShowPrintsNothing) {
  const char* const empty_replies[] = {"null",
                                       R"({"response": []})",
                                       R"({"error": 1})",
                                       R"({"response": {}})",
                                       R"([{"id": 1}])",
                                       R"({"response": [{"nodename": "no-id"}, {"id": -3}]})"};
  for (const char* nodes : empty_replies) {
    EXPECT_EQ(tables(nodes, R"({"response": []})"), "") << nodes;
    EXPECT_EQ(tables(nodes, nullptr), "") << nodes;
  }
}

TEST(PrintTables, FirstRecordOfAnIdOrNameWinsButPoolsAccumulate) {
  EXPECT_EQ(tables(R"({"response": [
                     {"id": 1, "nodename": "first", "state": "ONLINE", "enabled": true},
                     {"id": 1, "nodename": "second-longer", "state": "OFFLINE"}]})",
                   R"({"response": [
                     {"name": "db", "run_node": 1, "state": "UP", "enabled": true, "pools": [{"name": "a", "state": "X"}]},
                     {"name": "db", "run_node": 2, "state": "DOWN", "pools": [{"name": "b", "state": "Y"}]},
                     {"name": "db"}]})"),
            "NODES:\n"
            "NAME    ID     STATE    STATUS  SERVICES\n"
            "first    1    ONLINE   enabled  [ db ]\n"
            "\n"
            "SERVICES:\n"
            "NAME NODE     STATE    STATUS  POOLS\n"
            "db    1        UP   enabled  [ a(X), b(Y) ]\n");
}

TEST(PrintTables, IdsSortNumericallyNamesByteWise) {
  EXPECT_EQ(tables(R"({"response": [
                     {"id": 10, "nodename": "ten"}, {"id": "2", "nodename": "two"}, {"id": 0, "nodename": "zero"},
                     {"id": "x", "nodename": "bad"}, {"nodename": "none"}, {"id": -3, "nodename": "neg"}]})",
                   R"({"response": [
                     {"name": "b", "run_node": 0}, {"name": "a", "run_node": 10}, {"name": "B", "run_node": 10},
                     {"name": "A", "run_node": "2"}]})"),
            "NODES:\n"
            "NAME   ID     STATE    STATUS  SERVICES\n"
            "zero    0            DISABLED  [ b ]\n"
            "two     2            DISABLED  [ A ]\n"
            "ten    10            DISABLED  [ B, a ]\n"
            "\n"
            "SERVICES:\n"
            "NAME NODE     STATE    STATUS  POOLS\n"
            "A    2            DISABLED  [ ]\n"
            "B   10            DISABLED  [ ]\n"
            "a   10            DISABLED  [ ]\n"
            "b    -            DISABLED  [ ]\n");
}

TEST(PrintTables, NodeCellShowsOnlyIdsOneTo1023OfTheLow32Bits) {
  EXPECT_EQ(tables(nullptr, R"({"response": [
                     {"name": "s01", "run_node": 1024}, {"name": "s02", "run_node": 0}, {"name": "s03", "run_node": -1},
                     {"name": "s04"}, {"name": "s05", "run_node": 1023}, {"name": "s06", "run_node": 1},
                     {"name": "s07", "run_node": 4294967297}, {"name": "s08", "run_node": -4294967295},
                     {"name": "s09", "run_node": 2147483653}, {"name": "s10", "run_node": 18446744073709551615},
                     {"name": "s11", "run_node": 5.0}, {"name": "s12", "run_node": "7th"}]})"),
            "NAME NODE     STATE    STATUS  POOLS\n"
            "s01    -            DISABLED  [ ]\n"
            "s02    -            DISABLED  [ ]\n"
            "s03    -            DISABLED  [ ]\n"
            "s04    -            DISABLED  [ ]\n"
            "s05 1023            DISABLED  [ ]\n"
            "s06    1            DISABLED  [ ]\n"
            "s07    1            DISABLED  [ ]\n"
            "s08    1            DISABLED  [ ]\n"
            "s09    -            DISABLED  [ ]\n"
            "s10    -            DISABLED  [ ]\n"
            "s11    -            DISABLED  [ ]\n"
            "s12    7            DISABLED  [ ]\n");
}

TEST(PrintTables, StatusCellAndWideCells) {
  EXPECT_EQ(tables(R"({"response": [
                     {"id": 1, "nodename": "a", "enabled": "true"}, {"id": 2, "nodename": "b", "enabled": 1},
                     {"id": 3, "nodename": "c", "enabled": "yes"}, {"id": 4, "nodename": "d", "enabled": null},
                     {"id": 123456, "nodename": "e", "state": "RECONFIGURING", "enabled": "TRUE"}]})",
                   nullptr),
            "NAME   ID     STATE    STATUS  \n"
            "a    1             enabled\n"
            "b    2             enabled\n"
            "c    3            DISABLED\n"
            "d    4            DISABLED\n"
            "e 123456 RECONFIGURING   enabled\n");
}

TEST(PrintTables, ServiceRecordsOfOddShapeShareTheEmptyName) {
  EXPECT_EQ(tables(nullptr,
                   R"({"response": ["text", 5, {"state": "UP", "pools": [{"name": "p", "state": "S"}]}]})"),
            "NAME NODE     STATE    STATUS  POOLS\n"
            "    -            DISABLED  [ p(S) ]\n");
}

TEST(PrintTables, PoolsOfEveryShape) {
  EXPECT_EQ(tables(nullptr, R"({"response": [
                     {"name": "array", "pools": [{"name": "p1", "state": "A"}, {"name": "p2"}, {}]},
                     {"name": "object", "pools": {"z": {"name": "pz", "state": "Z"}, "a": {"name": "pa", "state": 1}}},
                     {"name": "single", "pools": {"name": "solo", "state": "ONLINE"}},
                     {"name": "scalar", "pools": "p"},
                     {"name": "null", "pools": null},
                     {"name": "empty", "pools": []}]})"),
            "NAME   NODE     STATE    STATUS  POOLS\n"
            "array     -            DISABLED  [ p1(A), p2(), () ]\n"
            "empty     -            DISABLED  [ ]\n"
            "null      -            DISABLED  [ ]\n"
            "object    -            DISABLED  [ pa(1), pz(Z) ]\n"
            "scalar    -            DISABLED  [ () ]\n"
            "single    -            DISABLED  [ (), () ]\n");
}

// Text is printed with "%s", so an embedded NUL ends it; the pools after it
// must still come out whole.
TEST(PrintTables, PoolTextWithEmbeddedNul) {
  EXPECT_EQ(tables(nullptr, R"({"response": [{"name": "s", "pools": [
                     {"name": "a\u0000b", "state": "S\u0000T"}, {"name": "c", "state": "U"}]}]})"),
            "NAME NODE     STATE    STATUS  POOLS\n"
            "s    -            DISABLED  [ a(S), c(U) ]\n");
}

std::string service_line(const char* record) {
  CapturedOutput output;
  print_service_line({output.stream(), false}, Json::parse(record));
  return output.text();
}

TEST(PrintServiceLine, Pools) {
  const auto pool_list = [](const char* record) {
    const std::string line = service_line(record);
    return line.substr(line.find("  ["));
  };
  EXPECT_EQ(
      pool_list(
          R"({"name": "db", "pools": [{"name": "p1", "state": "ONLINE"}, {"name": "p2", "state": "X"}]})"),
      "  [ p1(ONLINE), p2(X) ]\n");
  EXPECT_EQ(pool_list(R"({"name": "db"})"), "  [ ]\n");
  EXPECT_EQ(pool_list(R"({"pools": null})"), "  [ ]\n");
  EXPECT_EQ(pool_list(R"({"pools": 3})"), "  [ () ]\n");
  EXPECT_EQ(pool_list(R"([{"name": "p1"}])"), "  [ ]\n");
}

TEST(PrintRows, LayoutsForSingleRecords) {
  CapturedOutput output;
  print_node_line({output.stream(), false}, Json::parse(R"({"id": -1, "nodename": "alpha"})"));
  EXPECT_EQ(output.text(), "alpha 18446744073709551615            DISABLED\n");
  EXPECT_EQ(service_line(R"({"name": "db", "state": "ONLINE", "enabled": true})"),
            "db    -    ONLINE   enabled  [ ]\n");
  // A name containing a conversion is printed as text, never as a format.
  EXPECT_EQ(service_line(R"({"name": "%s%n", "run_node": "12345", "state": "%d"})"),
            "%s%n 12345        %d  DISABLED  [ ]\n");
}

}  // namespace
}  // namespace tarnex
