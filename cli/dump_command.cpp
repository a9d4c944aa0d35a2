// qxtool dump FILE: the text dump of a scene file on standard output.
#include <cstdio>

#include "app/text_dump.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "scene/scene_file.h"

namespace qx {

const CommandSpec kDumpCommand = {
    "dump",
    "FILE",
    "Writes the text dump of a scene file (its objects and their fields) to standard output.\n",
    {},
    "qxtool dump bunny.qxz > bunny.txt",
    RunDumpCommand,
};

int RunDumpCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, {});
  if (!args.Error().empty()) return UsageError("dump", args.Error());
  if (args.Positional().size() != 1) return UsageError("dump", "dump needs exactly one scene FILE");
  const std::string path = args.Positional()[0];
  std::unique_ptr<QXScene> scene = LoadScene(path);
  if (!scene) return Fail(path + ": not a scene file (or cannot be opened)");
  DumpScene(*scene, stdout);
  std::fputc('\n', stdout);
  return 0;
}

}  // namespace qx
