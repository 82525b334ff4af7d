#include "commands/requests.hpp"

#include <stdexcept>
#include <string_view>
#include <utility>

#include "daemon/message.hpp"
#include "exit_status.hpp"

namespace tarnex {
namespace {

// The dots of a silent wait, and at a terminal, once, where it waits.
class WaitShown : public ExchangeObserver {
 public:
  explicit WaitShown(const DaemonChannel& channel) : channel_(channel) {}

  void silent(PeerState peer) override {
    if (!dotted_ && channel_.err.terminal) explain(peer);
    dotted_ = true;
    // Set before the dot: a hint that sees it owes at most a newline too
    // many, never one too few.
    if (channel_.state != nullptr) channel_.state->mid_line = true;
    std::fputc('.', channel_.progress.file);
    std::fflush(channel_.progress.file);
  }

  void ended() override {
    std::fputc('\n', channel_.progress.file);
    std::fflush(channel_.progress.file);
    if (channel_.state != nullptr) channel_.state->mid_line = false;
  }

 private:
  void explain(PeerState peer) const {
    static constexpr std::string_view states[] = {
        "not connected yet",
        "nothing is accepting connections there",
        "connected, no answer yet",
    };
    const std::string until = channel_.timeout.count() == 0
                                  ? channel_.unbounded_wait
                                  : "Giving up after " + seconds_text(channel_.timeout);
    print_line(channel_.err, {"Waiting for the daemon at ", name(channel_.endpoint), ": ",
                              own(states[static_cast<int>(peer)]), ". ", own(until), "."});
  }

  const DaemonChannel& channel_;
  bool dotted_ = false;
};

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
  WaitShown shown(channel);
  ExchangeSettings settings;
  settings.transport = channel.transport;
  settings.endpoint = channel.endpoint;
  settings.timeout = channel.timeout;
  settings.interval = channel.progress_interval;
  settings.observer = &shown;
  settings.watch_peer = channel.err.terminal || channel.state != nullptr;
  settings.interrupt_fd = channel.interrupt_fd;
  ExchangeResult result = carry_request(settings, request);
  switch (result.failure) {
    case ExchangeFailure::none:
      return test_reply(std::move(result.reply), channel.err);
    case ExchangeFailure::not_json:
      throw std::runtime_error(result.text);
    case ExchangeFailure::interrupted:
      return {Json(), exit_request_failed, false, true, result.reached};
    default:
      break;
  }
  print_line(channel.err, {"Error: ", message(result.text)});
  return {Json(), exit_request_failed, result.failure == ExchangeFailure::no_reply, false, result.reached};
}

}  // namespace tarnex
