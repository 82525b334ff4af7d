#include "commands/requests.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "daemon/zmq_transport.hpp"
#include "support/capture.hpp"
#include "support/responder.hpp"
#include "support/scripted_transport.hpp"
#include "support/temp_dir.hpp"

namespace tarnex {
namespace {

using tarnex::testing::CapturedOutput;
using tarnex::testing::Reply;
using tarnex::testing::Responder;
using tarnex::testing::ScriptedTransport;

struct Parsed {
  DaemonReply reply;
  std::string err;
};

Parsed parse(const std::string& text) {
  CapturedOutput err;
  DaemonReply reply = parse_reply(text, {err.stream(), false});
  return {reply, err.text()};
}

TEST(ParseReply, ErrorMemberMarksFailureWhateverItsValue) {
  struct Case {
    const char* text;
    int exit_code;
    const char* err;
  };
  const Case cases[] = {
      {R"({"response": []})", 0, ""},
      {R"({"error": 1})", 11, "Error: \n"},
      {R"({"error": 1, "errorMessage": 42})", 11, "Error: 42\n"},
      {R"({"error": null, "errorMessage": "gone"})", 11, "Error: gone\n"},
      {R"({"error": false, "errorMessage": "no"})", 11, "Error: no\n"},
      {R"({"errorMessage": "not an error"})", 0, ""},
      {R"([1, 2])", 0, ""},
      {R"("text")", 0, ""},
      {R"({"error": 1, "errorMessage": "%s%n%x"})", 11, "Error: %s%n%x\n"},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse(c.text);
    EXPECT_EQ(parsed.reply.exit_code, c.exit_code) << c.text;
    EXPECT_EQ(parsed.err, c.err) << c.text;
    EXPECT_EQ(parsed.reply.body, Json::parse(c.text)) << c.text;
  }
}

TEST(ParseReply, StrictParsingThrows) {
  for (const char* text : {"", "{} extra", "{\"a\": 1} {}", "/* c */ {}", "{\"a\": }", "[1,]"}) {
    EXPECT_THROW(parse(text), Json::parse_error) << text;
  }
  EXPECT_NO_THROW(parse("  {}  \n"));
  using namespace std::string_literals;
  for (const std::string& text : {"{}\0junk"s, "{}\0"s, "{\"a\": \"x\0y\"}"s, "{\"a\":\0 1}"s}) {
    EXPECT_THROW(parse(text), Json::parse_error) << text.size();
  }
}

TEST(ParseReply, DeepNestingIsRefusedBeforeParsing) {
  const std::string ok = std::string(max_message_depth, '[') + std::string(max_message_depth, ']');
  EXPECT_NO_THROW(parse(ok));
  const std::size_t million = 1000000;
  const std::string deep = "{\"response\": " + std::string(million, '[') + std::string(million, ']') + "}";
  EXPECT_THROW(parse(deep), std::runtime_error);
  // Brackets inside strings are text, not nesting.
  const std::string quoted = "{\"a\": \"" + std::string(10000, '[') + "\\\"\"}";
  EXPECT_NO_THROW(parse(quoted));
}

struct Exchanged {
  DaemonReply reply;
  std::string progress;
  std::string err;
};

Exchanged exchange_over(Transport& transport, const std::string& endpoint, const Json& request) {
  CapturedOutput progress;
  CapturedOutput err;
  DaemonChannel channel;
  channel.transport = &transport;
  channel.endpoint = endpoint;
  channel.progress = {progress.stream(), false};
  channel.err = {err.stream(), false};
  DaemonReply reply = send_request(channel, request);
  return {reply, progress.text(), err.text()};
}

Exchanged exchange_with(const std::string& endpoint, const Json& request) {
  ZmqTransport transport;
  return exchange_over(transport, endpoint, request);
}

TEST(SendRequest, SendsCompactTextAndReturnsTheReply) {
  Responder responder({{R"({"response": {"message": "ok"}})"}});
  Exchanged result = exchange_with(responder.endpoint(),
                                   Json{{"call", "node"}, {"cmd", "exit"}, {"id", 3}, {"force", true}});
  EXPECT_EQ(responder.requests(),
            std::vector<std::string>{R"({"call":"node","cmd":"exit","force":true,"id":3})"});
  EXPECT_EQ(result.reply.exit_code, 0);
  EXPECT_EQ(result.reply.body["response"]["message"], "ok");
  EXPECT_EQ(result.progress, "");
  EXPECT_EQ(result.err, "");
}

// A dot for every interval the daemon is silent, then a newline before the
// reply is handed on; an answer in time shows nothing.
TEST(SendRequest, SlowDaemonShowsDotsThenNewline) {
  using std::chrono::milliseconds;
  const Json request{{"call", "node"}, {"cmd", "status"}};
  for (const auto& [delay, dots] :
       {std::pair{milliseconds(0), ""}, std::pair{milliseconds(1999), ""},
        std::pair{milliseconds(2500), ".\n"}, std::pair{milliseconds(5000), "..\n"}}) {
    ScriptedTransport daemon({{R"({"response": []})", delay}});
    Exchanged result = exchange_over(daemon, "tcp://x:1", request);
    EXPECT_EQ(result.progress, dots) << delay.count();
    EXPECT_EQ(result.reply.exit_code, 0);
    EXPECT_EQ(daemon.endpoints, std::vector<std::string>{"tcp://x:1"});
  }
}

// Failures of the transport itself say why, with status 11 and no body.
TEST(SendRequest, TransportFailuresBecomeLocalErrorReplies) {
  const Json request{{"call", "cluster"}, {"cmd", "exit"}};
  ScriptedTransport refused({{"", {}, Reply::Kind::refuse_send}});
  Exchanged nothing_sent = exchange_over(refused, "tcp://x:1", request);
  EXPECT_TRUE(nothing_sent.reply.body.is_null());
  EXPECT_EQ(nothing_sent.reply.exit_code, 11);
  EXPECT_EQ(nothing_sent.err, "Error: ZMQ socket error on send\n");

  ScriptedTransport broken({{"Connection refused", {}, Reply::Kind::fail_connect}});
  Exchanged failed = exchange_over(broken, "tcp://x:1", request);
  EXPECT_EQ(failed.reply.exit_code, 11);
  EXPECT_EQ(failed.err, "Error: ZMQ: Connection refused\n");
}

TEST(SendRequest, MalformedEndpointBecomesLocalErrorReply) {
  Exchanged result = exchange_with("not-an-endpoint", Json{{"call", "node"}, {"cmd", "status"}});
  EXPECT_EQ(result.reply.exit_code, 11);
  EXPECT_EQ(result.err, "Error: ZMQ: Invalid argument\n");
  EXPECT_EQ(result.progress, "");
}

TEST(SendRequest, UnsupportedTransportBecomesLocalErrorReply) {
  Exchanged result = exchange_with("bogus://somewhere", Json{{"call", "node"}, {"cmd", "status"}});
  EXPECT_EQ(result.reply.exit_code, 11);
  EXPECT_TRUE(result.err.starts_with("Error: ZMQ: ")) << result.err;
}

TEST(SendRequest, InvalidUtf8FailsBeforeAnythingIsSent) {
  EXPECT_THROW(exchange_with("tcp://127.0.0.1:1", Json{{"call", "service"}, {"serviceName", "\xff"}}),
               Json::type_error);
}

TEST(SendRequest, ReplyThatIsNotJsonLeavesAsException) {
  Responder responder({{"{\"response\": []} trailing"}});
  EXPECT_THROW(exchange_with(responder.endpoint(), Json{{"call", "node"}, {"cmd", "status"}}),
               std::runtime_error);
}

// The exchange itself: each way it can end is a kind with its text, and
// whether the request may have reached the daemon.
TEST(CarryRequest, EachEndingIsAKindWithItsText) {
  using namespace std::chrono_literals;
  struct Case {
    Reply reply;
    ExchangeFailure failure;
    std::string text;
    bool reached;
  };
  const std::string too_large = "the daemon's reply is larger than 32 MiB";
  const std::vector<Case> cases = {
      {{R"({"response": []})"}, ExchangeFailure::none, "", true},
      {{"", {}, Reply::Kind::refuse_send}, ExchangeFailure::send_failed, "ZMQ socket error on send", false},
      {{"gone", {}, Reply::Kind::fail_connect}, ExchangeFailure::send_failed, "ZMQ: gone", false},
      {tarnex::testing::stay_silent(), ExchangeFailure::no_reply, "no reply from tcp://x:1 within 2.5 s",
       true},
      {tarnex::testing::never_connected(), ExchangeFailure::no_reply, "no reply from tcp://x:1 within 2.5 s",
       false},
      {{"{} x"}, ExchangeFailure::not_json, "", true},
      {{std::string(max_reply_bytes + 1, ' ')}, ExchangeFailure::too_large, too_large, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScriptedTransport daemon({c.reply});
    ExchangeSettings settings;
    settings.transport = &daemon;
    settings.endpoint = "tcp://x:1";
    settings.timeout = 2500ms;
    const ExchangeResult result = carry_request(settings, Json{{"call", "node"}});
    EXPECT_EQ(result.failure, c.failure);
    if (c.failure != ExchangeFailure::not_json) {
      EXPECT_EQ(result.text, c.text);
    }
    EXPECT_EQ(result.reached, c.reached);
    // Unobserved, a wait is not cut into intervals.
    if (c.failure == ExchangeFailure::no_reply) {
      EXPECT_EQ(daemon.waited, 2500ms);
    }
  }
}

// Over ZeroMQ a reply over the bound is refused by its size and ends the
// exchange at once, even without a timeout; a daemon that drops the
// connection is not taken for one.
TEST(ZmqTransport, RefusesAReplyOverTheBoundAtOnce) {
  ZmqTransport transport;
  Responder big({{std::string(max_reply_bytes + 1, 'x')}});
  ExchangeSettings settings;
  settings.transport = &transport;
  settings.endpoint = big.endpoint();
  const ExchangeResult refused = carry_request(settings, Json{{"call", "node"}});
  EXPECT_EQ(refused.failure, ExchangeFailure::too_large);
  EXPECT_EQ(refused.text, "the daemon's reply is larger than 32 MiB");

  Responder dies({tarnex::testing::die()});
  settings.endpoint = dies.endpoint();
  settings.timeout = std::chrono::milliseconds(1500);
  EXPECT_EQ(carry_request(settings, Json{{"call", "node"}}).failure, ExchangeFailure::no_reply);
}

// The socket monitor tells an endpoint where nothing listens from a daemon
// that took the connection and stays silent; unwatched, nothing is known.
TEST(ZmqTransport, WatchesTheDaemonsEnd) {
  using namespace std::chrono_literals;
  ZmqTransport transport;
  const auto state_at = [&](const std::string& endpoint, bool watch) {
    const std::unique_ptr<Connection> connection = transport.open(watch);
    EXPECT_TRUE(connection->send(endpoint, "{}"));
    PeerState state = PeerState::unknown;
    for (int wait = 0; wait < 100 && state == PeerState::unknown; ++wait) {
      EXPECT_FALSE(connection->receive(20ms));
      state = connection->peer_state();
    }
    return state;
  };
  const tarnex::testing::TempDir dir;
  const std::string nobody = "ipc://" + (dir.path / "nobody-listens").string();
  EXPECT_EQ(state_at(nobody, true), PeerState::refused);
  Responder silent({tarnex::testing::stay_silent()});
  EXPECT_EQ(state_at(silent.endpoint(), true), PeerState::connected);
  const std::unique_ptr<Connection> unwatched = transport.open(false);
  EXPECT_TRUE(unwatched->send(nobody, "{}"));
  EXPECT_FALSE(unwatched->receive(50ms));
  EXPECT_EQ(unwatched->peer_state(), PeerState::unknown);
}

}  // namespace
}  // namespace tarnex
