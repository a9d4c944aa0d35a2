// qxtool: the headless companion of the editor (convert, info, decode, dump,
// render, stream).
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/render_command.h"
#include "cli/stream_command.h"
#include "common/diagnostics.h"
#include "scene/registry.h"

namespace {

constexpr char kUsage[] =
    "usage: qxtool COMMAND ...\n"
    "  convert INPUT [-o OUT] [--metric volume|quadric|pair] [--model standard|sculptor|batch]\n"
    "          [--preserve-quality on|off] [--preserve-boundary on|off]\n"
    "          [--level F] [--max-degree N] [--max-deps N] [--grid F] [--flip] [--single]\n"
    "          [--conn raw|model2] [--geo raw|rect|polar|adaptive] [--pred centroid|butterfly]\n"
    "          [--bits N] [--plain] [--html] [--txt] [--ldraw-dir DIR]\n"
    "          defaults: --model standard --metric quadric --preserve-quality on --preserve-boundary on;\n"
    "          --metric pair also contracts unconnected vertices near each other: it fills holes\n"
    "          and makes non-manifold edges\n"
    "  info FILE [--json]\n"
    "  decode FILE [--tolerance T | --level L] [--bytes B] -o OUT.ply|OUT.obj\n"
    "  dump FILE\n"
    "  render FILE -o OUT.ppm [--width W] [--height H] [--tolerance T]\n"
    "          [--mode solid|points|edges|hidden-lines|hidden-points] [--smooth L] [--antialias]\n"
    "          [--selective] [--back RRGGBB] [--bytes B]\n"
    "  stream FILE [--rate BYTES_PER_S | --entry K] [--every MS]\n";

struct Command {
  const char* name;
  int (*run)(int, const char* const*);
};

constexpr Command kCommands[] = {
    {"convert", qx::RunConvertCommand},
    {"info", qx::RunInfoCommand},
    {"decode", qx::RunDecodeCommand},
    {"dump", qx::RunDumpCommand},
    {"render", qx::RunRenderCommand},
    {"stream", qx::RunStreamCommand},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  qx::InstallMathErrorHandler();
  qx::RegisterStandardClasses();
  for (const Command& command : kCommands)
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 1, argv + 1);
  std::fprintf(stderr, "qxtool: unknown command '%s'\n%s", argv[1], kUsage);
  return 1;
}
