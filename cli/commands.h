// The qxtool subcommands. Each takes its own argv (argv[0] is the command's
// name) and returns the process exit status: 0 on success, 1 with a one-line
// message on standard error otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx {

class QXScene;
struct SaveDialogSettings;

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
