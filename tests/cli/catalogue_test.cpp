// The catalogue drives dispatch; the usage texts, the manual page and the
// completion scripts describe it. Each must name exactly its combinations.
#include "commands/catalogue.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/usage.hpp"
#include "support/capture.hpp"

namespace tarnex {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_TRUE(in.good() || in.eof()) << path;
  return text.str();
}

using ActionsBySystem = std::map<std::string, std::set<std::string>>;

ActionsBySystem catalogue_actions() {
  ActionsBySystem actions;
  for (const CommandRow& row : command_catalogue())
    actions[std::string(row.system)].insert(std::string(row.action));
  return actions;
}

// The action words of a usage text: the first word of each line in its
// "ACTIONS:" block.
std::set<std::string> usage_actions(const std::string& system) {
  tarnex::testing::CapturedOutput out;
  print_usage({out.stream(), false}, system, "tv");
  std::istringstream lines(out.text());
  std::set<std::string> actions;
  bool in_block = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == "ACTIONS:") {
      in_block = true;
    } else if (line.empty()) {
      in_block = false;
    } else if (in_block) {
      actions.insert(line.substr(2, line.find(' ', 2) - 2));
    }
  }
  return actions;
}

TEST(CommandCatalogue, UsageTextsListEveryActionAndNoOther) {
  for (const auto& [system, actions] : catalogue_actions())
    EXPECT_EQ(usage_actions(system), actions) << system;
}

// How the manual page writes the option part of an action's heading.
std::string option_synopsis(const CommandRow& entry) {
  const auto part = [](Use use, const std::string& option) {
    switch (use) {
      case Use::optional:
        return " Op " + option;
      case Use::required:
      case Use::required_not_empty:
        return " " + option;
      case Use::ignored:
      case Use::refused:
        break;
    }
    return std::string();
  };
  std::string text = part(entry.service, "Fl s Ar service");
  if (entry.system == "node") {
    text = part(entry.node, "Fl n Ar node") + text;
  } else {
    text += part(entry.node, "Fl n Ar node");
  }
  if (entry.force) text += " Op Fl f";
  if (entry.output != Use::ignored) text += " Op Fl o Ar format";
  return text;
}

TEST(CommandCatalogue, ManualPageDescribesEachCombination) {
  const std::string page = read_file(TARNEX_MAN_PAGE);
  std::set<std::string> headings;
  const std::regex heading(R"(^\.It Nm Cm (\w+) Cm (\w+)(.*)$)");
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, heading)) headings.insert(match[1].str() + " " + match[2].str());
  }
  std::set<std::string> expected;
  for (const CommandRow& entry : command_catalogue()) {
    const std::string name = std::string(entry.system) + " " + std::string(entry.action);
    expected.insert(name);
    const std::string synopsis = option_synopsis(entry);
    const std::string wanted =
        ".It Nm Cm " + std::string(entry.system) + " Cm " + std::string(entry.action) + synopsis;
    EXPECT_NE(page.find(wanted + "\n"), std::string::npos) << "no heading " << wanted;
  }
  EXPECT_EQ(headings, expected);
}

// The action lists of both completion scripts.
TEST(CommandCatalogue, CompletionOffersEveryActionAndNoOther) {
  const ActionsBySystem expected = catalogue_actions();

  ActionsBySystem bash;
  const std::string bash_text = read_file(TARNEX_SOURCE_DIR "/completion/tarnex-viravi.bash");
  const std::regex bash_case(R"re((\w+)\) echo "([a-z ]+)" ;;)re");
  const std::string actions_function = bash_text.substr(0, bash_text.find("_tarnex_viravi_options"));
  for (std::sregex_iterator it(actions_function.begin(), actions_function.end(), bash_case), end; it != end;
       ++it) {
    std::istringstream words((*it)[2].str());
    for (std::string word; words >> word;)
      bash[(*it)[1].str()].insert(word);
  }
  EXPECT_EQ(bash, expected);

  ActionsBySystem zsh;
  const std::string zsh_text = read_file(TARNEX_SOURCE_DIR "/completion/_tarnex-viravi");
  const std::regex zsh_block(R"re(\((\w+)\)\s*actions=\(([^;]*);;)re");
  const std::regex zsh_action(R"('(\w+):)");
  for (std::sregex_iterator it(zsh_text.begin(), zsh_text.end(), zsh_block), end; it != end; ++it) {
    const std::string block = (*it)[2].str();
    for (std::sregex_iterator action(block.begin(), block.end(), zsh_action); action != end; ++action)
      zsh[(*it)[1].str()].insert((*action)[1].str());
  }
  EXPECT_EQ(zsh, expected);
}

// The rows say how each command reaches the daemon and whether it changes
// the cluster; the handlers and the wording of a cut-off change rely on them
// agreeing with the daemon command and the wording.
TEST(CommandCatalogue, RowsAgreeOnHowTheyReachTheDaemon) {
  for (const CommandRow& row : command_catalogue()) {
    SCOPED_TRACE(std::string(row.system) + " " + std::string(row.action));
    EXPECT_EQ(row.command.empty(), row.reach == Reach::composed);
    // A change by one request is worded; a composed one is worded by its steps.
    EXPECT_EQ(row.doing.empty(), !row.changes || row.reach == Reach::composed);
  }
}

// The actions an option's help prose names: "(required for start/stop)",
// "required for start and move.", "only with exit".
std::set<std::string> named_actions(const std::string& prose, std::string_view phrase) {
  const std::regex list(std::string(phrase) + R"( ([a-z]+(?:(?:/| and )[a-z]+)*))");
  const std::regex word("[a-z]+");
  std::set<std::string> actions;
  std::smatch match;
  if (!std::regex_search(prose, match, list)) return actions;
  const std::string names = match[1].str();
  for (std::sregex_iterator it(names.begin(), names.end(), word), end; it != end; ++it) {
    if (it->str() != "and") actions.insert(it->str());
  }
  return actions;
}

// The options lines of a system, by option letter, continuation lines
// joined to their option.
std::map<char, std::string> option_prose(std::string_view options) {
  std::map<char, std::string> prose;
  std::istringstream lines{std::string(options)};
  char letter = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("  -")) letter = line[3];
    prose[letter] += line + "\n";
  }
  return prose;
}

// The usage texts are fixed, so the prose beside the rows is checked against
// them: the actions it says require -n or -s are the rows that do, and those
// it says take --force are the rows that do.
TEST(CommandCatalogue, OptionsProseNamesTheActionsOfTheRows) {
  struct Difference {
    std::string system;
    char option;
    std::string action;
  };
  // Known and kept: the fixed prose says -n is required for service start,
  // which takes it as optional (the manual page and the daemon's own
  // placement agree with the row).
  const std::vector<Difference> known = {{"service", 'n', "start"}};

  std::set<std::string> checked;
  for (const SystemEntry& system : command_systems()) {
    for (const auto& [option, prose] : option_prose(system.options)) {
      const std::string phrase = option == 'f' ? "only with" : "required for";
      std::set<std::string> said = named_actions(prose, phrase);
      if (said.empty()) continue;
      const std::string where = std::string(system.name) + " -" + option;
      checked.insert(where);
      for (const Difference& difference : known) {
        if (difference.system != system.name || difference.option != option) continue;
        EXPECT_EQ(said.erase(difference.action), 1U) << where << " no longer names " << difference.action;
      }
      std::set<std::string> rows;
      for (const CommandRow& row : command_catalogue()) {
        if (row.system != system.name) continue;
        const Use use = option == 'n' ? row.node : row.service;
        const bool named = option == 'f' ? row.force : use == Use::required || use == Use::required_not_empty;
        if (named) rows.insert(std::string(row.action));
      }
      EXPECT_EQ(said, rows) << where;
    }
  }
  EXPECT_EQ(checked, (std::set<std::string>{"node -f", "node -n", "service -n", "service -s"}));
}

}  // namespace
}  // namespace tarnex
