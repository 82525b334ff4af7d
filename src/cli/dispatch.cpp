#include "cli/dispatch.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/catalogue.hpp"
#include "cli/close_word.hpp"
#include "cli/usage.hpp"
#include "daemon/terminal_text.hpp"
#include "exit_status.hpp"

namespace tarnex {
namespace {

const CommandEntry* find_entry(const std::string& system, const std::string& action) {
  for (const CommandEntry& entry : command_catalogue()) {
    if (entry.system == system && entry.action == action) return &entry;
  }
  return nullptr;
}

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
  for (const CommandEntry& entry : command_catalogue()) {
    const std::string_view word = system ? entry.action : entry.system;
    if (system && entry.system != *system) continue;
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
void name_refusal(FILE* err, const std::string& system, const std::string& action, const CommandEntry* entry,
                  const CliOptions& options) {
  if (entry == nullptr) {
    const std::vector<std::string_view> actions = catalogue_words(system);
    const bool known_system = !actions.empty();
    const std::string& typed = known_system ? action : system;
    const std::string shown = neutralised(typed, true, TextKind::name);
    if (known_system) {
      std::fprintf(err, "Error: unknown action '%s' for %s", shown.c_str(), system.c_str());
    } else {
      std::fprintf(err, "Error: unknown system '%s'", shown.c_str());
    }
    const auto close = close_word(typed, known_system ? actions : catalogue_words(std::nullopt));
    if (close) std::fprintf(err, "; did you mean '%.*s'?", static_cast<int>(close->size()), close->data());
    std::fputc('\n', err);
    return;
  }
  std::optional<std::string> fault = option_fault(entry->node, options.node, "node (-n)");
  if (!fault) fault = option_fault(entry->service, options.service, "service name (-s)");
  if (fault) std::fprintf(err, "Error: '%s %s' %s\n", system.c_str(), action.c_str(), fault->c_str());
}

}  // namespace

int run_system(const CliOptions& options, const std::string& program_name, const CommandContext& context) {
  // Only a missing system operand means "cluster"; one given as the empty
  // text (an unset shell variable) is refused like any unknown word.
  const std::string system = options.system_given ? options.system : "cluster";
  const CommandEntry* entry = find_entry(system, options.action);
  // At a terminal a refusal is named before the usage text. The --force line
  // goes wherever standard error goes, and names the refusal of a known
  // action well enough.
  const auto refuse = [&](bool name_it) {
    if (name_it && context.err_is_terminal) name_refusal(context.err, system, options.action, entry, options);
    print_usage(context.out, options.system, program_name);
    return exit_refused;
  };

  if (options.force && (entry == nullptr || !entry->force)) {
    std::fputs("Error: --force is only valid for 'node exit'\n", context.err);
    return refuse(entry == nullptr);
  }
  if (entry == nullptr) return refuse(true);
  if (!suits(entry->node, options.node) || !suits(entry->service, options.service)) return refuse(true);

  CliOptions given = options;
  given.node = passed_on(entry->node, options.node);
  given.service = passed_on(entry->service, options.service);
  return entry->run(context, given);
}

}  // namespace tarnex
