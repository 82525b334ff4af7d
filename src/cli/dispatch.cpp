#include "cli/dispatch.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/close_word.hpp"
#include "cli/usage.hpp"
#include "commands/catalogue.hpp"
#include "exit_status.hpp"

namespace tarnex {
namespace {

// Whether an option given (or not) suits the way the entry uses it.
bool suits(Use use, const std::optional<std::string>& value) {
  switch (use) {
    case Use::ignored:
    case Use::optional:
      return true;
    case Use::refused:
      return !value;
    case Use::required:
      return value.has_value();
    case Use::required_not_empty:
      return value && !value->empty();
  }
  return false;
}

// What the entry passes on of an option.
std::optional<std::string> passed_on(Use use, const std::optional<std::string>& value) {
  return use == Use::ignored ? std::nullopt : value;
}

// The systems of the catalogue, or the actions of one system, in its order.
std::vector<std::string_view> catalogue_words(const std::optional<std::string_view>& system) {
  std::vector<std::string_view> words;
  for (const CommandRow& row : command_catalogue()) {
    const std::string_view word = system ? row.action : row.system;
    if (system && row.system != *system) continue;
    if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
  }
  return words;
}

// What is wrong with an option for an entry that uses it so, or nothing:
// "needs a node (-n)".
std::optional<std::string> option_fault(Use use, const std::optional<std::string>& value,
                                        const char* option) {
  if (suits(use, value)) return std::nullopt;
  if (use == Use::refused) return std::string("takes no ") + option;
  if (value) return std::string("needs a ") + option + " that is not empty";
  return std::string("needs a ") + option;
}

// The one line that names what was refused, for the person at a terminal.
void name_refusal(const Stream& err, const std::string& system, const std::string& action,
                  const CommandRow* row, const CliOptions& options) {
  if (row == nullptr) {
    const std::vector<std::string_view> actions = catalogue_words(system);
    const bool known_system = !actions.empty();
    const std::string& word = known_system ? action : system;
    if (known_system) {
      print(err, {"Error: unknown action '", typed(word), "' for ", own(system)});
    } else {
      print(err, {"Error: unknown system '", typed(word), "'"});
    }
    const auto close = close_word(word, known_system ? actions : catalogue_words(std::nullopt));
    if (close) print(err, {"; did you mean '", own(*close), "'?"});
    print_line(err, {});
    return;
  }
  std::optional<std::string> fault = option_fault(row->node, options.node, "node (-n)");
  if (!fault) fault = option_fault(row->service, options.service, "service name (-s)");
  if (fault) print_line(err, {"Error: '", own(row->system), " ", own(row->action), "' ", own(*fault)});
}

// "'node exit'": the commands that take --force.
std::string force_takers() {
  std::string words;
  for (const CommandRow& row : command_catalogue()) {
    if (!row.force) continue;
    if (!words.empty()) words += ", ";
    words += "'" + std::string(row.system) + " " + std::string(row.action) + "'";
  }
  return words;
}

}  // namespace

int run_system(const CliOptions& options, const std::string& program_name, const CommandContext& context) {
  // Only a missing system operand means "cluster"; one given as the empty
  // text (an unset shell variable) is refused like any unknown word.
  const std::string system = options.system.value_or("cluster");
  const CommandRow* row = find_command(system, options.action);
  // At a terminal a refusal is named before the usage text. The --force line
  // goes wherever standard error goes, and names the refusal of a known
  // action well enough.
  const auto refuse = [&](bool name_it) {
    if (name_it && context.err.terminal) name_refusal(context.err, system, options.action, row, options);
    print_usage(context.out, options.system.value_or(""), program_name);
    return exit_refused;
  };

  if (options.force && (row == nullptr || !row->force)) {
    print_line(context.err, {"Error: --force is only valid for ", own(force_takers())});
    return refuse(row == nullptr);
  }
  if (row == nullptr) return refuse(true);
  if (!suits(row->node, options.node) || !suits(row->service, options.service)) return refuse(true);

  const CommandInput input{passed_on(row->node, options.node), passed_on(row->service, options.service),
                           row->force && options.force,
                           row->output != Use::ignored && options.output == "json"};
  return row->run(context, *row, input);
}

}  // namespace tarnex
