#pragma once

namespace tarnex {

// The four exit statuses scripts rely on. Every routine that can end a run
// returns one of them, having written its own message where it found the
// fault; every layer may include this header.
inline constexpr int exit_success = 0;          // command done, help or version shown
inline constexpr int exit_bad_input = 1;        // bad option, unusable configuration
inline constexpr int exit_request_failed = 11;  // request failed, check failed, exception
inline constexpr int exit_refused = 12;         // combination refused by the dispatcher

}  // namespace tarnex
