// Running out of memory while handling a request: the daemon answers with an
// error instead of dying.

#include <string>

#include <gtest/gtest.h>

#include "sim_cluster.hpp"

namespace tarnex::testing {
// limited_new.cpp: the next operator new for more than `largest` bytes fails
// with std::bad_alloc (0: none does).
void refuse_next_allocation_over(std::size_t largest);
}  // namespace tarnex::testing

namespace tarnex::sim {
namespace {

TEST(SimClusterMemory, AnAllocationThatFailsWhileHandlingARequestBecomesAnErrorReply) {
  SimCluster cluster = build_sim_cluster(ClusterConfig{});
  std::string request = R"({"call":"node","cmd":"status","id":[)";
  while (request.size() < kMaxParsedRequestBytes - 10)
    request += "0,";
  request += "0]}";
  testing::refuse_next_allocation_over(256 << 10);
  const auto reply = handle_request_text(cluster, request);
  testing::refuse_next_allocation_over(0);
  EXPECT_EQ(reply, R"({"error":1,"errorMessage":"request refused: out of memory"})");
  EXPECT_EQ(handle_request_text(cluster, R"({"call":"node","cmd":"status"})"), R"({"response":[]})");
}

}  // namespace
}  // namespace tarnex::sim
