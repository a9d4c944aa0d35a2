// The qxtool subcommands. Each takes its own argv (argv[0] is the command's
// name) and returns the process exit status: 0 on success, otherwise a
// one-line message on standard error and 1 (a file that cannot be read or
// written) or 2 (a command line the command cannot use). Each command's
// CommandSpec (its usage text and option table) is defined beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_table.h"

namespace qx {

class QXScene;
struct SaveDialogSettings;

extern const CommandSpec kConvertCommand, kInfoCommand, kDecodeCommand, kDumpCommand, kRenderCommand,
    kStreamCommand, kCompactCommand, kOcclusionCommand;

int RunConvertCommand(int argc, const char* const* argv);
int RunInfoCommand(int argc, const char* const* argv);
int RunDecodeCommand(int argc, const char* const* argv);
int RunDumpCommand(int argc, const char* const* argv);
// The editor's scene tools on a scene file (scene_tool_commands.cpp).
int RunCompactCommand(int argc, const char* const* argv);
int RunOcclusionCommand(int argc, const char* const* argv);

// The uncompressed scene stream of a file (packed or plain); none when it
// cannot be opened.
std::optional<std::vector<uint8_t>> ReadSceneStream(const std::string& path);

// Writes the web page and/or text dump beside a saved scene, as `save` asks.
bool WriteCompanions(QXScene& scene, const std::string& scenePath, const SaveDialogSettings& save);

}  // namespace qx
