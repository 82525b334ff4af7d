#include "output/json_output.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/capture.hpp"

namespace tarnex {
namespace {

using testing::CapturedOutput;

std::string document(const char* nodes, const char* services) {
  CapturedOutput output;
  print_status_document({output.stream(), false},
                        build_status_document(Json::parse(nodes), Json::parse(services)));
  return output.text();
}

TEST(StatusDocument, RebuildsNodesAndServicesUnfiltered) {
  EXPECT_EQ(document(R"({"response": [
                       {"id": 1, "nodename": "alpha", "state": "ONLINE", "enabled": true, "extra": 1},
                       {"id": "x", "nodename": "d\u00e9p\u00f4t", "state": {"detail": [], "more": {}}},
                       "text",
                       {"id": -3, "enabled": "yes"}]})",
                     R"({"response": [
                       {"name": "db", "run_node": 1, "state": "ONLINE", "enabled": true,
                        "pools": [{"name": "p1", "state": "ONLINE"}]},
                       {"name": "x"},
                       {"name": "y", "run_node": 1024, "enabled": null},
                       {"name": "z", "run_node": "7"},
                       5]})"),
            R"({
  "cluster": {
    "nodes": [
      {
        "enabled": true,
        "id": 1,
        "name": "alpha",
        "state": "ONLINE"
      },
      {
        "enabled": null,
        "id": "x",
        "name": "dépôt",
        "state": {
          "detail": [],
          "more": {}
        }
      },
      {
        "enabled": null,
        "id": null,
        "name": null,
        "state": null
      },
      {
        "enabled": "yes",
        "id": -3,
        "name": null,
        "state": null
      }
    ],
    "services": [
      {
        "enabled": true,
        "name": "db",
        "nodeId": 1,
        "state": "ONLINE"
      },
      {
        "enabled": "",
        "name": "x",
        "nodeId": -1,
        "state": ""
      },
      {
        "enabled": null,
        "name": "y",
        "nodeId": -1,
        "state": ""
      },
      {
        "enabled": "",
        "name": "z",
        "nodeId": 7,
        "state": ""
      },
      {
        "enabled": "",
        "name": "",
        "nodeId": -1,
        "state": ""
      }
    ]
  }
}
)");
}

TEST(StatusDocument, NodeIdPassesThroughUnlessUnreadableOr1024) {
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"0", 0},        {"2000", 2000}, {"-5", -5},   {"1023", 1023}, {"1024", -1},    {"\"1024\"", -1},
      {"\"abc\"", -1}, {"2.0", -1},    {"true", -1}, {"null", -1},   {"\"12x\"", 12},
  };
  for (const auto& [run_node, expected] : cases) {
    const Json services = Json::parse(R"({"response": [{"name": "s", "run_node": )" + run_node + "}]}");
    const Json built = build_status_document(Json(), services);
    EXPECT_EQ(built.at(JsonPointer("/cluster/services/0/nodeId")), expected) << run_node;
  }
}

TEST(StatusDocument, EmptyOrMissingListsAddNoMember) {
  EXPECT_EQ(
      build_status_document(Json::parse(R"({"response": []})"),
                            Json::parse(R"({"response": [{"name": "s"}]})")),
      Json::parse(R"({"cluster": {"services": [{"enabled": "", "name": "s", "nodeId": -1, "state": ""}]}})"));
  EXPECT_EQ(
      build_status_document(Json::parse(R"({"response": [{"id": 4}]})"), Json::parse(R"({"error": 1})")),
      Json::parse(R"({"cluster": {"nodes": [{"enabled": null, "id": 4, "name": null, "state": null}]}})"));
  for (const auto& [nodes, services] :
       {std::pair{"null", "null"}, std::pair{R"({"response": []})", R"({"response": []})"},
        std::pair{R"({"error": 1})", R"({"response": {"message": "x"}})"},
        std::pair{"[1]", R"("response")"}}) {
    EXPECT_EQ(document(nodes, services), "null\n") << nodes << " " << services;
  }
}

TEST(StatusDocument, InvalidUtf8IsRefused) {
  Json services = {{"response", Json::array({{{"name", "d\xe9p"}}})}};
  const Json built = build_status_document(Json(), services);
  CapturedOutput output;
  EXPECT_THROW(print_status_document({output.stream(), false}, built), Json::type_error);
}

}  // namespace
}  // namespace tarnex
