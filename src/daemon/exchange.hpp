#pragma once

#include <cstdio>
#include <string>

#include "daemon/message.hpp"

namespace tarnex {

// The result of one exchange: the parsed reply (the daemon's, or a local
// error reply when the exchange failed) and 0, or 11 when it has "/error".
struct DaemonReply {
  Json body;
  int exit_code = 0;
};

inline constexpr std::size_t max_reply_depth = max_message_depth;

// Parses a reply text strictly (one JSON value, nothing after it) and tests
// it for failure, writing "Error: %s\n" to `err` for a failed request.
// Throws the JSON library's parse error, or std::runtime_error for a reply
// nested deeper than max_reply_depth.
DaemonReply parse_reply(const std::string& text, FILE* err = stderr);

// Carries one request to `endpoint` and brings its reply back. While the
// daemon is silent a dot goes to `progress` every 2 seconds.
DaemonReply send_request(const Json& request, const std::string& endpoint, FILE* progress,
                         FILE* err = stderr);

// The same, to the configured endpoint; dots go to standard output, or to
// standard error when the output is a JSON document that scripts parse.
DaemonReply send_request(const Json& request);

}  // namespace tarnex
