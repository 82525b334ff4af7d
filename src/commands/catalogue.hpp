#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/context.hpp"

namespace tarnex {

// How a command takes an option of the command line.
enum class Use {
  ignored,             // accepted and not passed on
  refused,             // must not be given
  optional,            // passed on when given
  required,            // must be given, possibly empty
  required_not_empty,  // must be given and not empty
};

// How a command shows a reply that passed the failure test.
enum class Show {
  message,   // the daemon's message; a record list is checked, not shown
  records,   // the records: tables, or the named record's line
  commands,  // the daemon's list of commands
};

// How a command reaches the daemon.
enum class Reach {
  request,   // one request, the row's daemon command
  overview,  // the status of the nodes, then of the services and their pools
  composed,  // the steps of other rows, with checks between them; no command of its own
};

// What a command gets from the command line, as its row passes it on.
struct CommandInput {
  std::optional<std::string> node;     // -n
  std::optional<std::string> service;  // -s
  bool force = false;                  // --force
  bool json = false;                   // --output=json
};

struct CommandRow;
using CommandHandler = int (*)(const CommandContext& context, const CommandRow& row,
                               const CommandInput& input);

// Everything the program knows of one accepted combination of system and
// action: its line in the usage text, how it reaches the daemon and the
// daemon command it sends (empty for a composed one), whether it changes the
// cluster, how it takes each option (--timeout goes with every command), how
// a cut-off change is worded ("{}" stands for what it acts on; a composed
// change words each of its steps as their own rows do), how its reply is
// shown, and its handler.
struct CommandRow {
  std::string_view system;
  std::string_view action;
  std::string_view help;
  Reach reach;
  std::string_view command;
  bool changes;
  Use node;
  Use service;
  bool force;
  Use output;
  std::string_view doing;
  Show show;
  CommandHandler run;
};

// A system of the command line and its part of the usage texts.
struct SystemEntry {
  std::string_view name;
  std::string_view summary;  // "Node management"
  std::string_view options;  // its "OPTIONS:" lines after --help, "%APP%" for the program name
};

// Every accepted combination, systems and actions in the order of the usage
// texts.
const std::vector<CommandRow>& command_catalogue();
// The systems, in the order of the top-level usage text.
const std::vector<SystemEntry>& command_systems();
// The top-level usage text's examples, "%APP%" for the program name.
std::string_view command_examples();

const CommandRow* find_command(std::string_view system, std::string_view action);

}  // namespace tarnex
