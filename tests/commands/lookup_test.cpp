#include "commands/lookup.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnex {
namespace {

// Index of the found element within "response", or -1 for none.
int found_index(const Json& reply, const std::string& key) {
  const Json* found = lookup_node(reply, key);
  if (found == nullptr) return -1;
  const Json& nodes = reply.at("response");
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (&nodes[i] == found) return static_cast<int>(i);
  }
  ADD_FAILURE() << "result does not point into the reply";
  return -2;
}

TEST(LookupNode, RepliesWithoutANodeArrayFindNothing) {
  for (const char* text : {R"([{"id": 1}])", R"("x")", "null", R"({"error": 1})",
                           R"({"response": {"id": 1}})", R"({"response": []})"}) {
    const Json reply = Json::parse(text);
    EXPECT_EQ(lookup_node(reply, "1"), nullptr) << text;
    EXPECT_EQ(lookup_node(reply, ""), nullptr) << text;
  }
}

TEST(LookupNode, MatchesIdTextThenNameExactly) {
  const Json reply = Json::parse(R"({"response": [
    {"id": 1, "nodename": "2"},
    {"id": 2, "nodename": "bravo"},
    {"id": 12, "nodename": "Alpha"},
    {"id": "n7", "nodename": "seven"},
    {"id": -4, "nodename": "minus"},
    {"id": 1.0, "nodename": "float"},
    {"id": 18446744073709551615, "nodename": "top"}
  ]})");
  const std::vector<std::pair<std::string, int>> cases = {
      {"2", 0},  // the name of an earlier node wins over a later id
      {"bravo", 1},  {"12", 2},     {"012", -1},     {"12.0", -1}, {"Alpha", 2},
      {"alpha", -1}, {"ALPHA", -1}, {" bravo", -1},  {"n7", 3},    {"7", -1},
      {"seven", 3},  {"-4", 4},     {"1.000000", 5}, {"1", 0},     {"18446744073709551615", 6},
      {"", -1},
  };
  for (const auto& [key, expected] : cases)
    EXPECT_EQ(found_index(reply, key), expected) << key;
}

TEST(LookupNode, EmptyKeyFindsTheFirstEmptyIdOrName) {
  const Json reply = Json::parse(R"({"response": [
    {"id": 1, "nodename": "a"},
    {"id": true, "nodename": "b"},
    {"id": 2}
  ]})");
  EXPECT_EQ(found_index(reply, ""), 1);

  const Json odd = Json::parse(R"({"response": [{"id": 1, "nodename": "a"}, "text", 5, [1], null]})");
  EXPECT_EQ(found_index(odd, ""), 1);
  EXPECT_EQ(found_index(odd, "5"), -1);
  EXPECT_EQ(found_index(odd, "text"), -1);
}

}  // namespace
}  // namespace tarnex
