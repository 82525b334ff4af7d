#include "cli/dispatch.hpp"

#include <cstdio>
#include <optional>

#include "cli/catalogue.hpp"
#include "cli/usage.hpp"
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

}  // namespace

int run_system(const CliOptions& options, const std::string& program_name, const CommandContext& context) {
  // Only a missing system operand means "cluster"; one given as the empty
  // text (an unset shell variable) is refused like any unknown word.
  const std::string system = options.system_given ? options.system : "cluster";
  const CommandEntry* entry = find_entry(system, options.action);
  const auto refuse = [&] {
    print_usage(context.out, options.system, program_name);
    return exit_refused;
  };

  if (options.force && (entry == nullptr || !entry->force)) {
    std::fputs("Error: --force is only valid for 'node exit'\n", context.err);
    return refuse();
  }
  if (entry == nullptr) return refuse();
  if (!suits(entry->node, options.node) || !suits(entry->service, options.service)) return refuse();

  CliOptions given = options;
  given.node = passed_on(entry->node, options.node);
  given.service = passed_on(entry->service, options.service);
  return entry->run(context, given);
}

}  // namespace tarnex
