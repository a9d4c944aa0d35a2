// qxtool's commands and their usage texts. Every command is one CommandSpec:
// its name, what it does, its option table (the one its parser reads, so the
// usage text always names exactly the options the command accepts) and an
// example. A new command is a new entry in Commands(); a new option is a new
// row in its command's option table.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cli/arguments.h"

namespace qx {

struct CommandSpec {
  const char* name;
  const char* synopsis;  // what follows "qxtool NAME" on the usage line
  const char* summary;   // what the command does, lines ending in '\n'
  OptionTable options;
  const char* example;   // a whole command line
  int (*run)(int argc, const char* const* argv);
};

std::span<const CommandSpec* const> Commands();
const CommandSpec* FindCommand(std::string_view name);

// The command's usage text: usage line, summary, options with their
// defaults, the options every command takes, and the example.
std::string UsageText(const CommandSpec& command);
// The program's usage text: the commands with their synopses.
std::string GeneralUsageText();

// The whole program on its arguments (argv[0] is the program's name):
// "--help", "help [COMMAND]", "--version", COMMAND [ARGS] [--quiet]
// [--help]. Returns the exit status.
int RunQxtool(int argc, const char* const* argv);

}  // namespace qx
