#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "base/stream.hpp"
#include "daemon/message.hpp"
#include "daemon/transport.hpp"

namespace tarnex {

// The result of one exchange: the parsed reply (the daemon's, or a local
// error reply when the exchange failed) and 0, or 11 when it has "/error".
struct DaemonReply {
  Json body;
  int exit_code = 0;
  bool timed_out = false;  // no reply came within the channel's timeout
  bool reached = true;     // the request may have reached the daemon
};

// What a stop-signal handler may read of the exchange under way.
struct ExchangeState {
  std::atomic<bool> reached{false};   // a connection to the daemon was made
  std::atomic<bool> mid_line{false};  // progress dots are out without their newline
};

// Where requests go and where an exchange reports while it runs.
struct DaemonChannel {
  Transport* transport = nullptr;
  std::string endpoint;
  Stream progress;  // a dot per silent interval, and the newline after them
  // The "Error: " line of a failed request. At a terminal, after the first
  // silent interval, also where the exchange waits and what the transport
  // knows of it.
  Stream err;
  std::chrono::milliseconds progress_interval{2000};
  std::chrono::seconds timeout{0};  // how long to wait for a reply; 0: for ever
  // Said at a terminal of a wait without a timeout: how to end or bound it.
  std::string unbounded_wait;
  // Kept up to date while a request is under way, when set; the connection
  // then watches the daemon's end.
  ExchangeState* state = nullptr;
};

// The one test for a failed request: a reply with a member at "/error" has
// failed; its "errorMessage" goes to `err` as "Error: <message>".
DaemonReply test_reply(Json body, const Stream& err);

// Parses a reply text strictly (parse_strict) and tests it. Throws what
// parse_strict throws.
DaemonReply parse_reply(const std::string& text, const Stream& err);

// Carries one request over the channel and brings its reply back, tested.
// Failures of the exchange itself become local error replies (2: nothing was
// sent; 5: "ZMQ: " and the failure's text; 6: no reply within the timeout).
// Throws when the request cannot be serialised, the connection cannot be
// made, or the reply is malformed.
DaemonReply send_request(const DaemonChannel& channel, const Json& request);

}  // namespace tarnex
