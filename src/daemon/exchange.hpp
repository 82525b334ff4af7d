#pragma once

#include <chrono>
#include <string>

#include "base/json.hpp"
#include "daemon/transport.hpp"

namespace tarnex {

// How an exchange ended.
enum class ExchangeFailure {
  none,         // the reply came, and is JSON
  send_failed,  // the transport accepted nothing, or failed on the way
  no_reply,     // no reply within the timeout
  interrupted,  // the interrupting descriptor became readable
  not_json,     // the reply is not one well-formed JSON value
  too_large,    // the reply is larger than max_reply_bytes
};

// NOLINTNEXTLINE(bugprone-exception-escape): the JSON value moves without throwing
struct ExchangeResult {
  Json reply;  // the parsed reply, when it came
  ExchangeFailure failure = ExchangeFailure::none;
  // Why, for a failure: "ZMQ: <the transport's text>", "ZMQ socket error on
  // send", "no reply from <endpoint> within <N> s", the JSON reader's text,
  // or "the daemon's reply is larger than <N> MiB". Raw daemon and endpoint
  // text: whoever shows it neutralises it.
  std::string text;
  // Whether the request may have reached the daemon, read when the
  // exchange ended: false only when no connection was ever made.
  bool reached = true;
};

// Told of a wait while it goes on; the exchange itself writes nothing.
class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  // Another interval went by without a reply, and the wait goes on. `peer`
  // is what the transport knows of the daemon's end (when it watches it).
  virtual void silent(PeerState peer) = 0;
  // The reply came, or the timeout ran out, after at least one silent().
  virtual void ended() = 0;
};

struct ExchangeSettings {
  Transport* transport = nullptr;
  std::string endpoint;
  std::chrono::milliseconds timeout{0};  // how long to wait for a reply; 0: for ever
  // Observed waits are cut into intervals of this length.
  std::chrono::milliseconds interval{2000};
  ExchangeObserver* observer = nullptr;
  bool watch_peer = false;  // have the transport watch the daemon's end for silent()
  int interrupt_fd = -1;    // readable: stop waiting (interrupted)
};

// "N s", with the fraction of a second when there is one ("2.5 s").
std::string seconds_text(std::chrono::milliseconds duration);

// Carries one request on a fresh connection and brings its reply back
// parsed strictly (parse_strict). Every failure of the transport or the
// daemon is a result; it throws only when the request cannot be serialised
// (serialize_request) or no connection can be opened.
ExchangeResult carry_request(const ExchangeSettings& settings, const Json& request);

}  // namespace tarnex
