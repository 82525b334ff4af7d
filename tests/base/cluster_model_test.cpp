#include "base/cluster_model.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnex {
namespace {

// Every known word reads back as its state; anything else, even the same
// word in another case, is a state the table does not know.
TEST(ClusterModel, StateWordsReadBackAndUnknownWordsStayOther) {
  for (const auto& entry : node_state_words())
    EXPECT_EQ(node_state(entry.word), entry.state) << entry.word;
  for (const auto& entry : service_state_words())
    EXPECT_EQ(service_state(entry.word), entry.state) << entry.word;
  for (const auto& entry : pool_state_words())
    EXPECT_EQ(pool_state(entry.word), entry.state) << entry.word;
  EXPECT_EQ(node_state("online"), NodeState::other);
  EXPECT_EQ(service_state("REBALANCING"), ServiceState::other);
  EXPECT_EQ(service_state(""), ServiceState::other);
  EXPECT_EQ(state_word(ServiceState::failed), "FAILED");
  EXPECT_EQ(state_word(PoolState::other), "");
}

TEST(ClusterModel, PlacedNodeTakesOnlyIdsOneToThousandTwentyThree) {
  struct Case {
    std::int64_t run_node;
    int placed;
  };
  const std::vector<Case> cases{
      {1, 1},
      {1023, 1023},
      {0, 0},
      {1024, 0},
      {-1, 0},
      {(std::int64_t{1} << 32) + 5, 5},
      {-(std::int64_t{1} << 32), 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(placed_node(c.run_node), c.placed) << c.run_node;
}

TEST(ClusterModel, ReadRulesKeepEveryRecordOrMergeThemAsTheTablesDo) {
  const Json nodes = Json::parse(R"({"response":[
      {"id":2,"nodename":"b","state":"ONLINE","enabled":true},
      {"nodename":"no-id"},
      {"id":1,"nodename":"a","state":"OFFLINE"},
      {"id":2,"nodename":"b-again"}]})");
  const std::vector<Node> all = read_nodes(nodes, {});
  ASSERT_EQ(all.size(), 4U);
  EXPECT_EQ(all[1].id, -1);
  EXPECT_EQ(all[3].source, &nodes["response"][3]);
  const std::vector<Node> merged = read_nodes(nodes, {.merged = true, .only_numbered = true});
  ASSERT_EQ(merged.size(), 2U);
  EXPECT_EQ(merged[0].name, "a");
  EXPECT_EQ(merged[1].name, "b");  // the first record of an id wins
  EXPECT_TRUE(merged[1].enabled);

  const Json services = Json::parse(R"({"response":[
      {"name":"z","run_node":3,"state":"ONLINE","enabled":true,"pools":[{"name":"p1","state":"ONLINE"}]},
      {"name":"a","error":5},
      {"name":"z","state":"FAILED","pools":{"x":{"name":"p2","state":"DEGRADED"}}},
      {"name":"m","pools":"odd"}]})");
  const std::vector<Service> read = read_services(services, {.merged = true});
  ASSERT_EQ(read.size(), 3U);
  EXPECT_TRUE(read[0].error);
  EXPECT_FALSE(read[0].enabled);
  EXPECT_EQ(read[1].name, "m");
  EXPECT_EQ(read[1].pools.size(), 1U);  // a single value is one pool
  EXPECT_EQ(read[2].state, "ONLINE");   // the first record gives the row...
  ASSERT_EQ(read[2].pools.size(), 2U);  // ...and every record adds its pools
  EXPECT_EQ(read[2].pools[1].state, "DEGRADED");

  EXPECT_TRUE(read_services(Json::parse(R"({"response":{}})"), {}).empty());
  EXPECT_TRUE(read_nodes(Json::parse("[]"), {}).empty());
}

}  // namespace
}  // namespace tarnex
