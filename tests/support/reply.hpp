#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tarnex::testing {

// One scripted step of a daemon stand-in: the exact reply bytes, sent after
// `delay`. Instead of answering, a step may die (close the socket, as a
// killed daemon would, so the request is lost) or stay silent from this
// request on. The in-process stand-in can also refuse the request, fail
// the connection with `text`, or never connect.
struct Reply {
  enum class Kind { answer, die, silent, refuse_send, fail_connect, never_connected };
  std::string text;
  std::chrono::milliseconds delay{0};
  Kind kind = Kind::answer;
};

inline Reply die() {
  return {{}, {}, Reply::Kind::die};
}
inline Reply stay_silent() {
  return {{}, {}, Reply::Kind::silent};
}
// Silent, and no connection to the daemon is ever made (the in-process
// stand-in only).
inline Reply never_connected() {
  return {{}, {}, Reply::Kind::never_connected};
}

// A script that answers with each text in turn.
std::vector<Reply> answers(const std::vector<std::string>& texts);

// What a stand-in answers to a request beyond its script: an error that
// names the fault, so a test never hangs on a surprise.
inline constexpr const char* unscripted_reply =
    R"({"error":99,"errorMessage":"test: request beyond the script"})";

}  // namespace tarnex::testing
