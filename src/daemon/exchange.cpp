#include "daemon/exchange.hpp"

#include <cerrno>
#include <exception>
#include <stdexcept>
#include <zmq.hpp>

#include "cli/options.hpp"

namespace tarnex {
namespace {

// One context for the whole process; its destructor terminates it at exit,
// retrying on EINTR. Sockets linger 0, so termination never waits.
zmq::context_t& zmq_context() {
  static zmq::context_t context;
  return context;
}

Json local_error(int code, const std::string& message) {
  Json reply = Json::object();
  reply["error"] = code;
  reply["errorMessage"] = message;
  return reply;
}

// Steps 3 to 6 of an exchange: every failure becomes a local error reply.
std::string exchange(zmq::socket_t& socket, const std::string& request_text, const std::string& endpoint,
                     FILE* progress) {
  try {
    socket.set(zmq::sockopt::rcvtimeo, 2000);
    socket.set(zmq::sockopt::linger, 0);
    socket.connect(endpoint);
    zmq::send_result_t sent = socket.send(zmq::buffer(request_text), zmq::send_flags::none);
    if (!sent || *sent == 0) return local_error(2, "ZMQ socket error on send").dump();

    bool dotted = false;
    for (;;) {
      zmq::message_t message;
      zmq::recv_result_t received = socket.recv(message, zmq::recv_flags::none);
      if (received) {
        if (dotted) {
          std::fputc('\n', progress);
          std::fflush(progress);
        }
        return std::string(static_cast<const char*>(message.data()), message.size());
      }
      std::fputc('.', progress);
      std::fflush(progress);
      dotted = true;
    }
  } catch (const std::exception& error) {
    return local_error(5, std::string("ZMQ: ") + error.what()).dump();
  } catch (...) {
    return local_error(5, "ZMQ: unknown exception").dump();
  }
}

}  // namespace

DaemonReply parse_reply(const std::string& text, FILE* err) {
  DaemonReply reply;
  reply.body = parse_strict(text, "reply");
  static const JsonPointer error_pointer("/error");
  static const JsonPointer message_pointer("/errorMessage");
  if (reply.body.contains(error_pointer)) {
    std::fprintf(err, "Error: %s\n", json_get_string(reply.body, message_pointer, "").c_str());
    reply.exit_code = 11;
  }
  return reply;
}

DaemonReply send_request(const Json& request, const std::string& endpoint, FILE* progress, FILE* err) {
  const std::string request_text = serialize_request(request);
  zmq::socket_t socket(zmq_context(), zmq::socket_type::req);
  std::string reply_text = exchange(socket, request_text, endpoint, progress);
  socket.close();
  return parse_reply(reply_text, err);
}

DaemonReply send_request(const Json& request) {
  const CliOptions& options = cli_options();
  FILE* progress = options.output == "json" ? stderr : stdout;
  return send_request(request, options.mgmt_url, progress);
}

}  // namespace tarnex
