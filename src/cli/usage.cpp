#include "cli/usage.hpp"

#include <cstddef>
#include <string_view>

#include "cli/options.hpp"
#include "commands/catalogue.hpp"

namespace tarnex {
namespace {

constexpr std::size_t word_column = 25;  // the width of the word column of every block

void add_entry(std::string& text, std::string_view word, std::string_view help) {
  text += "  ";
  text += word;
  text.append(word.size() < word_column ? word_column - word.size() : 1, ' ');
  text += help;
  text += '\n';
}

std::string top_level_text() {
  std::string text =
      "%APP% [command] {OPTIONS}\n"
      "\n"
      "Tarnex Cluster CLI\n"
      "\n"
      "USAGE:\n"
      "  %APP% <SYSTEM> <ACTION> {OPTIONS}\n"
      "\n"
      "SUBSYSTEMS:\n";
  for (const SystemEntry& system : command_systems())
    add_entry(text, system.name, system.summary);
  text +=
      "\n"
      "OPTIONS:\n"
      "  -h, --help               Show this help menu\n"
      "  -v, --version            Show version\n"
      "\n"
      "EXAMPLES:\n";
  text += command_examples();
  return text;
}

// The usage text of one system: its actions are the catalogue's rows.
std::string system_text(const SystemEntry& system) {
  std::string text = "%APP% ";
  text += system.name;
  text += " [command] {OPTIONS}\n\n";
  text += system.summary;
  text += "\n\nUSAGE:\n  %APP% ";
  text += system.name;
  text += " <ACTION> {OPTIONS}\n\nACTIONS:\n";
  for (const CommandRow& row : command_catalogue()) {
    if (row.system == system.name) add_entry(text, row.action, row.help);
  }
  text +=
      "\n"
      "OPTIONS:\n"
      "  -h, --help               Show this help menu\n";
  text += system.options;
  return text;
}

std::string usage_text_for(const std::string& system) {
  for (const SystemEntry& entry : command_systems()) {
    if (entry.name == system) return system_text(entry);
  }
  return top_level_text();
}

}  // namespace

std::string expand_app_name(const std::string& text, const std::string& name) {
  static constexpr std::string_view placeholder = "%APP%";
  std::string result = text;
  std::string::size_type at = 0;
  while ((at = result.find(placeholder, at)) != std::string::npos) {
    result.replace(at, placeholder.size(), name);
    at += name.size();
  }
  return result;
}

void print_usage(const Stream& out, const std::string& system, const std::string& program_name) {
  const std::string text = expand_app_name(usage_text_for(system), shown(out, typed(program_name)));
  print(out, {own(text), "\nTarnex Cluster CLI, build ", own(version_string), "\n"});
}

}  // namespace tarnex
