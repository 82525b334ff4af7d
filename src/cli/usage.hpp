#pragma once

#include <string>

#include "base/stream.hpp"

namespace tarnex {

// Returns `text` with every "%APP%" replaced by `name`; an inserted name is
// never searched again.
std::string expand_app_name(const std::string& text, const std::string& name);

// Prints the usage text of the system word as typed (the top-level text for
// any other word) with the program's name in it, then an empty line and the
// banner. The ACTIONS blocks are the command catalogue's rows.
void print_usage(const Stream& out, const std::string& system, const std::string& program_name);

}  // namespace tarnex
