#include "cli/close_word.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace tarnex {
namespace {

// Edits (insert, delete, replace, swap two neighbours) that turn one word
// into the other.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> before(b.size() + 1);  // row i - 2
  std::vector<std::size_t> last(b.size() + 1);    // row i - 1
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j)
    last[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t replaced = last[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, replaced});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
    }
    std::swap(before, last);
    std::swap(last, row);
  }
  return last[b.size()];
}

}  // namespace

std::optional<std::string_view> close_word(std::string_view typed,
                                           const std::vector<std::string_view>& known) {
  std::optional<std::string_view> best;
  std::size_t best_distance = 0;
  bool unique = false;
  for (const std::string_view word : known) {
    const std::size_t distance = edit_distance(typed, word);
    if (distance > 3 || 2 * distance > word.size()) continue;
    if (!best || distance < best_distance) {
      best = word;
      best_distance = distance;
      unique = true;
    } else if (distance == best_distance) {
      unique = false;
    }
  }
  return unique ? best : std::nullopt;
}

}  // namespace tarnex
