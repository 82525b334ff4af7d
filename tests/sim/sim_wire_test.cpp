// The frames of a connection as ruxd-sim reads them, however the bytes are cut.

#include "sim_wire.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace tarnex::sim {
namespace {

// Feeds `bytes` to a fresh reader in pieces of `piece` bytes; the requests
// read, and whether the connection is still good.
bool read_all(const std::string& bytes, std::size_t piece, std::vector<WireRequest>* requests) {
  WireReader reader;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    std::string_view input = std::string_view(bytes).substr(at, piece);
    while (!input.empty()) {
      std::optional<WireRequest> request;
      std::string error;
      if (!read_request(&reader, &input, &request, &error)) return false;
      if (request) requests->push_back(*request);
    }
  }
  return true;
}

// One frame of a message, with its MORE flag when `more`.
std::string frame(const std::string& body, bool more) {
  std::string bytes = zmtp_reply(false, body);
  if (more) bytes[0] = static_cast<char>(bytes[0] | 0x01);
  return bytes;
}

// A peer's greeting and READY command are like the daemon's own.
const std::string hello = zmtp_hello();

TEST(SimWire, ReadsRequestsWithAndWithoutDelimiterHoweverTheBytesAreCut) {
  const std::string big(300, 'b');
  const std::string bytes = hello + frame("", true) + frame(R"({"call":"node"})", false) + frame(big, false) +
                            frame("", false) + frame("a", true) + frame("x", false);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, bytes.size()}) {
    SCOPED_TRACE(piece);
    std::vector<WireRequest> requests;
    ASSERT_TRUE(read_all(bytes, piece, &requests));
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_TRUE(requests[0].delimited);
    EXPECT_EQ(requests[0].parts, 1U);
    EXPECT_EQ(requests[0].text, R"({"call":"node"})");
    EXPECT_FALSE(requests[1].delimited);
    EXPECT_EQ(requests[1].text, big);
    EXPECT_TRUE(requests[2].delimited);
    EXPECT_EQ(requests[2].parts, 0U);
    EXPECT_FALSE(requests[3].delimited);
    EXPECT_EQ(requests[3].parts, 2U);
    EXPECT_EQ(requests[3].text, "a");
  }
}

TEST(SimWire, RefusesOtherPeersAndRequestsOverTheLimitAndKeepsOnlyWhatIsParsed) {
  std::vector<WireRequest> requests;
  std::string curve = hello;
  curve.replace(12, 5, "CURVE");
  EXPECT_FALSE(read_all(curve, 64, &requests));

  // Parts of 1 MiB each: four of them are the most a request may have.
  const std::string part(1 << 20, 'p');
  std::string four = hello;
  for (int i = 0; i < 3; ++i)
    four += frame(part, true);
  four += frame(part, false);
  ASSERT_TRUE(read_all(four, 8192, &requests));
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].parts, 4U);
  EXPECT_EQ(requests[0].text.size(), max_parsed_request_bytes + 1);
  const std::string five = hello + frame(part, true) + four.substr(hello.size());
  EXPECT_FALSE(read_all(five, 8192, &requests));
}

}  // namespace
}  // namespace tarnex::sim
