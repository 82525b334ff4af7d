#include "daemon/exchange.hpp"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "exit_status.hpp"

namespace tarnex {
namespace {

// The codes of the local error replies.
constexpr int nothing_sent = 2;
constexpr int transport_failed = 5;
constexpr int no_reply_in_time = 6;

Json local_error(int code, const std::string& message) {
  Json reply = Json::object();
  reply["error"] = code;
  reply["errorMessage"] = message;
  return reply;
}

std::string seconds_text(std::chrono::seconds seconds) {
  return std::to_string(seconds.count()) + " s";
}

void explain_wait(const DaemonChannel& channel, PeerState peer) {
  static constexpr std::string_view states[] = {
      "not connected yet",
      "nothing is accepting connections there",
      "connected, no answer yet",
  };
  const std::string until = channel.timeout.count() == 0 ? channel.unbounded_wait
                                                         : "Giving up after " + seconds_text(channel.timeout);
  print_line(channel.err, {"Waiting for the daemon at ", name(channel.endpoint), ": ",
                           own(states[static_cast<int>(peer)]), ". ", own(until), "."});
}

// Sends the request and waits for its reply, a dot for every interval of
// silence, until the channel's timeout. Every failure on the way becomes a
// local error reply.
std::variant<std::string, Json> exchange(Connection& connection, const DaemonChannel& channel,
                                         const std::string& request_text) {
  try {
    if (!connection.send(channel.endpoint, request_text)) {
      return local_error(nothing_sent, "ZMQ socket error on send");
    }
    const std::chrono::milliseconds limit = channel.timeout;
    std::chrono::milliseconds waited{0};
    bool dotted = false;
    for (;;) {
      std::chrono::milliseconds wait = channel.progress_interval;
      if (limit.count() > 0) wait = std::min(wait, limit - waited);
      std::optional<std::string> reply = connection.receive(wait);
      if (!reply) waited += wait;
      const bool expired = !reply && limit.count() > 0 && waited >= limit;
      if (dotted && (reply || expired)) {
        std::fputc('\n', channel.progress.file);
        std::fflush(channel.progress.file);
        if (channel.state != nullptr) channel.state->mid_line = false;
      }
      if (reply) return std::move(*reply);
      if (expired) {
        return local_error(no_reply_in_time,
                           "no reply from " + channel.endpoint + " within " + seconds_text(channel.timeout));
      }
      if (!dotted && channel.err.terminal) explain_wait(channel, connection.peer_state());
      // Set before the dot: a signal handler that sees it owes at most a
      // newline too many, never one too few.
      if (channel.state != nullptr) channel.state->mid_line = true;
      std::fputc('.', channel.progress.file);
      std::fflush(channel.progress.file);
      dotted = true;
    }
  } catch (const std::exception& error) {
    return local_error(transport_failed, std::string("ZMQ: ") + error.what());
  } catch (...) {
    return local_error(transport_failed, "ZMQ: unknown exception");
  }
}

}  // namespace

DaemonReply test_reply(Json body, const Stream& err) {
  static const JsonPointer error_pointer("/error");
  static const JsonPointer message_pointer("/errorMessage");
  DaemonReply reply{std::move(body), exit_success};
  if (reply.body.contains(error_pointer)) {
    print_line(err, {"Error: ", message(json_get_string(reply.body, message_pointer, ""))});
    reply.exit_code = exit_request_failed;
  }
  return reply;
}

DaemonReply parse_reply(const std::string& text, const Stream& err) {
  return test_reply(parse_strict(text, "reply"), err);
}

DaemonReply send_request(const DaemonChannel& channel, const Json& request) {
  const std::string request_text = serialize_request(request);
  std::variant<std::string, Json> received;
  ExchangeState own_state;
  ExchangeState& state = channel.state != nullptr ? *channel.state : own_state;
  state.reached = false;
  {
    const std::unique_ptr<Connection> connection =
        channel.transport->open(channel.err.terminal || channel.state != nullptr);
    connection->report_reached(state.reached);
    received = exchange(*connection, channel, request_text);
  }
  if (Json* local = std::get_if<Json>(&received)) {
    const bool timed_out = local->value("error", 0) == no_reply_in_time;
    DaemonReply reply = test_reply(std::move(*local), channel.err);
    reply.timed_out = timed_out;
    reply.reached = state.reached;
    return reply;
  }
  return parse_reply(std::get<std::string>(received), channel.err);
}

}  // namespace tarnex
