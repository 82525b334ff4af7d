#include "sim_faults.hpp"

#include <algorithm>
#include <array>
#include <sstream>
#include <string_view>
#include <vector>

namespace tarnex::sim {

namespace {

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

}  // namespace

bool parse_duration(const std::string& text, SimTime& duration) {
  const std::size_t digits = static_cast<std::size_t>(
      std::find_if(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; }) - text.begin());
  const std::string_view unit = std::string_view(text).substr(digits);
  // Ten digits at most keeps the number inside 64 bits before the range test.
  if (digits == 0 || digits > 10 || (unit != "ms" && unit != "s")) return false;
  const SimTime value(std::stoll(text.substr(0, digits)) * (unit == "s" ? 1000 : 1));
  if (value > kMaxSilence) return false;
  duration = value;
  return true;
}

std::string parse_fault(const std::string& text, SimFault& fault) {
  struct Form {
    std::string_view first;
    std::string_view last;  // the word after the subject
    SimFault::Kind kind;
  };
  static constexpr std::array<Form, 3> forms = {{
      {"node", "offline", SimFault::Kind::node_offline},
      {"node", "online", SimFault::Kind::node_online},
      {"service", "fail", SimFault::Kind::service_fail},
  }};
  const std::vector<std::string> words = words_of(text);
  if (words.size() == 1 && words[0] == "reset") {
    fault = SimFault{};
    return {};
  }
  if (words.size() == 3 && words[0] == "daemon" && words[1] == "silent") {
    SimFault silent{SimFault::Kind::daemon_silent, {}, SimTime{0}};
    if (!parse_duration(words[2], silent.duration)) {
      return "a silence lasts a whole number of ms or s up to 1 hour (800ms, 5s), not " + words[2];
    }
    fault = silent;
    return {};
  }
  if (words.size() == 3) {
    for (const auto& form : forms) {
      if (form.first == words[0] && form.last == words[2]) {
        fault = SimFault{form.kind, words[1], SimTime{0}};
        return {};
      }
    }
  }
  return "unknown fault \"" + text +
         "\": expected node NODE offline|online, service NAME fail, daemon silent DURATION or reset";
}

}  // namespace tarnex::sim
