#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "base/stream.hpp"
#include "daemon/exchange.hpp"
#include "daemon/message.hpp"

namespace tarnex {

// The client's side of an exchange: what it shows while it waits, and the
// one test for a failed request.

// The result of one request as a command sees it: the parsed reply and 0,
// or 11 when it failed (its "Error: ..." line already written).
// NOLINTNEXTLINE(bugprone-exception-escape): the JSON value moves without throwing
struct DaemonReply {
  Json body;
  int exit_code = 0;
  bool timed_out = false;    // no reply came within the channel's timeout
  bool interrupted = false;  // a stop signal ended the wait
  bool reached = true;       // the request may have reached the daemon
};

// What a stop-signal hint may need to know of the exchange under way.
struct ExchangeState {
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
  int interrupt_fd = -1;  // readable: stop waiting
};

// The one test for a failed request: a reply with a member at "/error" has
// failed; its "errorMessage" goes to `err` as "Error: <message>".
DaemonReply test_reply(Json body, const Stream& err);

// Parses a reply text strictly (parse_strict) and tests it. Throws what
// parse_strict throws.
DaemonReply parse_reply(const std::string& text, const Stream& err);

// Carries one request over the channel and brings its reply back, tested.
// A failed exchange writes "Error: <why>" and gives 11 with a null body.
// Throws when the request cannot be serialised, the connection cannot be
// made, or the reply is not JSON (with the JSON reader's text).
DaemonReply send_request(const DaemonChannel& channel, const Json& request);

}  // namespace tarnex
