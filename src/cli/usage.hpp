#pragma once

#include <cstdio>
#include <string>

namespace tarnex {

// Returns `text` with every "%APP%" replaced by `name`; an inserted name is
// never searched again.
std::string expand_app_name(const std::string& text, const std::string& name);

// Prints the usage text of the system word as typed (top-level text for any
// other word), then an empty line and the banner.
void print_usage(FILE* out = stdout);

}  // namespace tarnex
