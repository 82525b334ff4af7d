// Running out of memory while handling a request: the daemon answers with an
// error instead of dying.

#include <string>

#include <gtest/gtest.h>

#include "limited_new.hpp"
#include "sim_cluster.hpp"

namespace tarnex::sim {
namespace {

TEST(SimClusterMemory, AnAllocationThatFailsWhileHandlingARequestBecomesAnErrorReply) {
  ClusterConfig config;
  config.nodes.push_back(NodeConfig{});
  SimCluster cluster = build_sim_cluster(config);
  std::string request = R"({"call":"node","cmd":"status","id":[)";
  while (request.size() < kMaxParsedRequestBytes - 10)
    request += "0,";
  request += "0]}";

  testing::refuse_next_allocation_over(256 << 10);
  const auto reply = handle_request_text(cluster, request);
  testing::refuse_next_allocation_over(0);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, R"({"error":1,"errorMessage":"request refused: out of memory"})");
  EXPECT_EQ(Json::parse(handle_request_text(cluster, R"({"call":"node","cmd":"status"})").value())["response"]
                .size(),
            1U);
}

}  // namespace
}  // namespace tarnex::sim
