#pragma once

#include "base/json.hpp"
#include "base/stream.hpp"

namespace tarnex {

// The document of `cluster status --output=json`, rebuilt from the two reply
// bodies; null when neither has a "response" array.
Json build_status_document(const Json& nodes, const Json& services);

// Indented form (indent 2, UTF-8 unescaped) and a newline. At a terminal
// every control character in a string is written as an escape ("\u009b"),
// the same JSON value without raw control bytes.
void print_status_document(const Stream& out, const Json& document);

}  // namespace tarnex
