#include "daemon/exchange.hpp"

#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

#include "exit_status.hpp"

namespace tarnex {
namespace {

Json local_error(int code, const std::string& message) {
  Json reply = Json::object();
  reply["error"] = code;
  reply["errorMessage"] = message;
  return reply;
}

// Sends the request and waits for its reply, a dot for every interval of
// silence. Every failure on the way becomes a local error reply.
std::variant<std::string, Json> exchange(Connection& connection, const DaemonChannel& channel,
                                         const std::string& request_text) {
  try {
    if (!connection.send(channel.endpoint, request_text)) return local_error(2, "ZMQ socket error on send");
    bool dotted = false;
    for (;;) {
      std::optional<std::string> reply = connection.receive(channel.progress_interval);
      if (reply) {
        if (dotted) {
          std::fputc('\n', channel.progress);
          std::fflush(channel.progress);
        }
        return std::move(*reply);
      }
      std::fputc('.', channel.progress);
      std::fflush(channel.progress);
      dotted = true;
    }
  } catch (const std::exception& error) {
    return local_error(5, std::string("ZMQ: ") + error.what());
  } catch (...) {
    return local_error(5, "ZMQ: unknown exception");
  }
}

}  // namespace

DaemonReply test_reply(Json body, FILE* err) {
  static const JsonPointer error_pointer("/error");
  static const JsonPointer message_pointer("/errorMessage");
  DaemonReply reply{std::move(body), exit_success};
  if (reply.body.contains(error_pointer)) {
    std::fprintf(err, "Error: %s\n", json_get_string(reply.body, message_pointer, "").c_str());
    reply.exit_code = exit_request_failed;
  }
  return reply;
}

DaemonReply parse_reply(const std::string& text, FILE* err) {
  return test_reply(parse_strict(text, "reply"), err);
}

DaemonReply send_request(const DaemonChannel& channel, const Json& request) {
  const std::string request_text = serialize_request(request);
  std::variant<std::string, Json> received;
  {
    const std::unique_ptr<Connection> connection = channel.transport->open();
    received = exchange(*connection, channel, request_text);
  }
  if (Json* local = std::get_if<Json>(&received)) return test_reply(std::move(*local), channel.err);
  return parse_reply(std::get<std::string>(received), channel.err);
}

}  // namespace tarnex
