#include "commands/changes.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "commands/interrupt_hint.hpp"

namespace tarnex {
namespace {

std::string capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

}  // namespace

std::string command_word(const Stream& stream, std::string_view word) {
  static constexpr std::string_view plain_marks = "_./:@%+=,-";
  const bool plain = std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           plain_marks.find(c) != std::string_view::npos;
  });
  if (plain) return shown(stream, typed(word));
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return shown(stream, typed(quoted));
}

Change change_of(const CommandContext& context, const CommandRow& row, const CommandInput& input) {
  const auto typed_word = [&context](const std::optional<std::string>& word) {
    return shown(context.err, typed(word.value_or("")));
  };
  const auto check_word = [&context](const std::optional<std::string>& word) {
    return command_word(context.err, word.value_or(""));
  };
  std::string subject;
  std::string check = command_word(context.err, context.program_name) + " " + std::string(row.system);
  if (row.system == "node") {
    subject = "node " + typed_word(input.node);
    check += " status --id=" + check_word(input.node);
  } else if (row.system == "service") {
    subject = "service " + typed_word(input.service);
    if (row.node != Use::ignored && input.node) subject += " on node " + typed_word(input.node);
    check += " status --name=" + check_word(input.service);
  } else {
    check += " status";
  }
  std::string doing(row.doing);
  if (const auto at = doing.find("{}"); at != std::string::npos) doing.replace(at, 2, subject);
  return {doing, check, {}, {}};
}

DaemonReply send_change(const CommandContext& context, const Json& request, const Change& change) {
  const std::string not_sent = " was not sent; no connection to the daemon was made\n" + change.if_not_sent;
  const std::string next_step = change.next_step.empty() ? "" : change.next_step + " was not sent; ";
  ExchangeState state;
  DaemonChannel channel = context.daemon;
  channel.state = &state;
  DaemonReply reply;
  int caught = 0;
  {
    const InterruptHint hint;
    channel.interrupt_fd = hint.fd();
    reply = send_request(channel, request);
    caught = hint.caught();
  }
  // The change's texts are already as the error stream shows them.
  if (caught != 0) {
    if (context.err.terminal && channel.progress.terminal && state.mid_line) print(context.err, {"\n"});
    if (reply.reached) {
      print_line(context.err, {"Interrupted: ", own(change.doing), " may already have taken effect; ",
                               own(next_step), "check the actual state: ", own(change.check)});
    } else {
      print(context.err, {"Interrupted: ", own(change.doing), own(not_sent)});
    }
    std::fflush(context.err.file);
    end_as_signal(caught);
  }
  if (reply.timed_out && !reply.reached) {
    print(context.err, {own(capitalised(change.doing)), own(not_sent)});
  } else if (reply.timed_out) {
    print_line(context.err,
               {own(capitalised(change.doing)),
                " may have taken effect all the same; check the actual state: ", own(change.check)});
  }
  return reply;
}

}  // namespace tarnex
