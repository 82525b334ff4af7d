#pragma once

#include <string>
#include <string_view>

#include "commands/catalogue.hpp"
#include "commands/requests.hpp"

namespace tarnex {

// A request that changes the cluster, as the operator is told about it when
// its outcome is not known: what it was doing, and the command that shows
// the actual state. Typed words in it are as the error stream shows them.
struct Change {
  std::string doing;  // "disabling node 2"
  std::string check;  // "tarnex-viravi node status --id=2"
  // Said after the line that the request was never sent, when it was not.
  std::string if_not_sent;
  // The step that was to follow, named when a stop signal cuts the change
  // after it was sent: "starting it on node 2" (was not sent).
  std::string next_step;
};

// A word of a command the operator is told to run, as `stream` shows it:
// quoted for a shell unless it is plain, then neutralised at a terminal.
std::string command_word(const Stream& stream, std::string_view word);

// The change the row's command makes on what `input` names.
Change change_of(const CommandContext& context, const CommandRow& row, const CommandInput& input);

// send_request for a change. A stop signal while it waits writes that the
// change may already have taken effect, then ends the program as the signal
// would; a reply that never came within the timeout is followed by the same
// word on the context's error stream. When the connection's events, read
// after the signal or the timeout, show that no connection to the daemon was
// ever made, both say instead that the change was not sent.
DaemonReply send_change(const CommandContext& context, const Json& request, const Change& change);

}  // namespace tarnex
