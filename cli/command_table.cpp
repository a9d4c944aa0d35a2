#include "cli/command_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "common/diagnostics.h"
#include "stream/registry.h"

namespace qx {
namespace {

constexpr const CommandSpec* kCommands[] = {
    &kConvertCommand, &kInfoCommand, &kDecodeCommand,  &kDumpCommand,
    &kRenderCommand,  &kStreamCommand, &kCompactCommand, &kOcclusionCommand,
};

// Options the program itself takes, whatever the command.
constexpr OptionSpec kCommonOptions[] = {
    {"quiet", nullptr, "no diagnostic lines or progress on standard error (errors still)"},
    {"help", nullptr, "this text"},
};

std::string OptionWords(const OptionSpec& option) {
  std::string words = std::strcmp(option.name, "output") == 0 ? "-o, --" : "--";
  words += option.name;
  if (option.value) {
    words += ' ';
    words += option.value;
  }
  return words;
}

void AppendOptions(std::string& text, OptionTable options, size_t width) {
  for (const OptionSpec& option : options) {
    std::string words = OptionWords(option);
    words.resize(std::max(width, words.size()), ' ');
    text += "  ";
    text += words;
    text += "  ";
    text += option.help;
    if (option.byDefault) {
      text += " (default: ";
      text += option.byDefault();
      text += ')';
    }
    text += '\n';
  }
}

// Whether the words after the command ask for its usage text.
bool AsksForHelp(int argc, const char* const* argv) {
  return std::any_of(argv + 1, argv + argc, [](const char* word) { return std::strcmp(word, "--help") == 0; });
}

int RunCommand(const CommandSpec& command, int argc, const char* const* argv) {
  if (AsksForHelp(argc, argv)) {
    std::fputs(UsageText(command).c_str(), stdout);
    return 0;
  }
  // --quiet belongs to the program: the command never sees it.
  std::vector<const char*> words;
  bool quiet = false;
  for (int i = 0; i < argc; ++i) {
    const bool isQuiet = i > 0 && std::strcmp(argv[i], "--quiet") == 0;
    quiet = quiet || isQuiet;
    if (!isQuiet) words.push_back(argv[i]);
  }
  InstallConsole(quiet);
  RegisterStandardClasses();
  const int status = command.run(static_cast<int>(words.size()), words.data());
  CloseConsole();
  SetMessageSink({});
  return status;
}

}  // namespace

std::span<const CommandSpec* const> Commands() { return kCommands; }

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec* command : kCommands)
    if (name == command->name) return command;
  return nullptr;
}

std::string UsageText(const CommandSpec& command) {
  std::string text = "usage: qxtool ";
  for (const char* part : {command.name, " ", command.synopsis, "\n\n", command.summary}) text += part;
  size_t width = 0;
  for (OptionTable table : {command.options, OptionTable(kCommonOptions)})
    for (const OptionSpec& option : table) width = std::max(width, OptionWords(option).size());
  text += "\noptions:\n";
  AppendOptions(text, command.options, width);
  AppendOptions(text, kCommonOptions, width);
  text += "\nexample:\n  ";
  text += command.example;
  text += '\n';
  return text;
}

std::string GeneralUsageText() {
  std::string text =
      "usage: qxtool COMMAND [ARGUMENTS] [--quiet]\n"
      "       qxtool help [COMMAND] | --help | --version\n\n"
      "commands:\n";
  for (const CommandSpec* command : kCommands) {
    text += "  ";
    text += command->name;
    text += ' ';
    text += command->synopsis;
    text += '\n';
  }
  text += "\n'qxtool help COMMAND' (or 'qxtool COMMAND --help') describes a command and its options.\n";
  return text;
}

int RunQxtool(int argc, const char* const* argv) {
  if (argc < 2) {
    std::fputs(GeneralUsageText().c_str(), stderr);
    return kExitUsage;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h" || (first == "help" && argc == 2)) {
    std::fputs(GeneralUsageText().c_str(), stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("qxtool %s\n", VERMELLE_VERSION);
    return 0;
  }
  if (first == "help") {
    const CommandSpec* command = FindCommand(argv[2]);
    if (!command) {
      std::fprintf(stderr, "qxtool: no command '%s'\n%s", argv[2], GeneralUsageText().c_str());
      return kExitUsage;
    }
    std::fputs(UsageText(*command).c_str(), stdout);
    return 0;
  }
  const CommandSpec* command = FindCommand(first);
  if (!command) {
    std::fprintf(stderr, "qxtool: unknown command '%s'\n%s", argv[1], GeneralUsageText().c_str());
    return kExitUsage;
  }
  return RunCommand(*command, argc - 1, argv + 1);
}

}  // namespace qx
