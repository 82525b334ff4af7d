#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tarnex {

// The one known word close to a mistyped one: at most three edits (insert,
// delete, replace, swap two neighbours) away and at most half its own
// length, and closer than any other.
std::optional<std::string_view> close_word(std::string_view typed,
                                           const std::vector<std::string_view>& known);

}  // namespace tarnex
