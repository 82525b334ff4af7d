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

// Deepest nesting of arrays and objects in a JSON text, stopping early once
// past `limit`. Brackets inside strings do not count.
std::size_t nesting_depth(const std::string& text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) {
        deepest = depth;
        if (deepest > limit) break;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
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
  if (nesting_depth(text, max_reply_depth) > max_reply_depth) {
    throw std::runtime_error("reply nested deeper than " + std::to_string(max_reply_depth) + " levels");
  }
  DaemonReply reply;
  reply.body = Json::parse(text, nullptr, true, false);
  // The parser takes a NUL byte for the end of its input, so a complete value
  // followed by a NUL and anything else would pass. A NUL anywhere else has
  // already failed the parse, so one found now is trailing content.
  if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
    throw Json::parse_error::create(
        101, nul + 1, "syntax error while parsing value - unexpected NUL byte; expected end of input",
        static_cast<const Json*>(nullptr));
  }
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
