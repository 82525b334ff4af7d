#include "daemon/exchange.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "daemon/message.hpp"

namespace tarnex {

ReplyTooLarge::ReplyTooLarge()
    : std::runtime_error("the daemon's reply is larger than " + std::to_string(max_reply_mebibytes) +
                         " MiB") {}

std::string seconds_text(std::chrono::milliseconds duration) {
  const auto count = duration.count();
  std::string text = std::to_string(count / 1000);
  if (count % 1000 != 0) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(count % 1000));
    std::string digits = fraction;
    while (digits.back() == '0')
      digits.pop_back();
    text += digits;
  }
  return text + " s";
}

namespace {

ExchangeResult failed(ExchangeFailure failure, std::string text) {
  return {Json(), failure, std::move(text), true};
}

// Sends the request and waits for its reply, interval by interval, until
// the timeout.
ExchangeResult wait_for_reply(Connection& connection, const ExchangeSettings& settings,
                              const std::string& request_text) {
  bool silent = false;
  try {
    if (!connection.send(settings.endpoint, request_text)) {
      return failed(ExchangeFailure::send_failed, "ZMQ socket error on send");
    }
    const std::chrono::milliseconds limit = settings.timeout;
    std::chrono::milliseconds waited{0};
    for (;;) {
      // Unobserved, the whole wait is one interval.
      std::chrono::milliseconds wait =
          settings.observer != nullptr ? settings.interval : std::chrono::hours(1);
      if (limit.count() > 0) wait = std::min(wait, limit - waited);
      std::optional<std::string> reply = connection.receive(wait);
      if (!reply) waited += wait;
      const bool expired = !reply && limit.count() > 0 && waited >= limit;
      if (silent && (reply || expired)) settings.observer->ended();
      if (reply) {
        if (reply->size() > max_reply_bytes) throw ReplyTooLarge();
        try {
          return {parse_strict(*reply, "reply"), ExchangeFailure::none, {}, true};
        } catch (const std::exception& error) {
          return failed(ExchangeFailure::not_json, error.what());
        }
      }
      if (expired) {
        return failed(ExchangeFailure::no_reply,
                      "no reply from " + settings.endpoint + " within " + seconds_text(settings.timeout));
      }
      if (settings.observer != nullptr) {
        settings.observer->silent(connection.peer_state());
        silent = true;
      }
    }
  } catch (const ReplyTooLarge& error) {
    if (silent) settings.observer->ended();
    return failed(ExchangeFailure::too_large, error.what());
  } catch (const WaitInterrupted& error) {
    return failed(ExchangeFailure::interrupted, error.what());
  } catch (const std::exception& error) {
    return failed(ExchangeFailure::send_failed, std::string("ZMQ: ") + error.what());
  } catch (...) {
    return failed(ExchangeFailure::send_failed, "ZMQ: unknown exception");
  }
}

}  // namespace

ExchangeResult carry_request(const ExchangeSettings& settings, const Json& request) {
  const std::string request_text = serialize_request(request);
  const std::unique_ptr<Connection> connection = settings.transport->open(settings.watch_peer);
  if (settings.interrupt_fd >= 0) connection->interrupt_on(settings.interrupt_fd);
  ExchangeResult result = wait_for_reply(*connection, settings, request_text);
  // Read after the end: what the connection saw up to now, an interrupt
  // included.
  if (result.failure != ExchangeFailure::none) result.reached = connection->may_have_reached();
  return result;
}

}  // namespace tarnex
