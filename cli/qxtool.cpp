// qxtool: the headless companion of the editor (convert, info, decode, dump,
// render, stream, compact, occlusion); the commands and their usage texts are in
// cli/command_table.h.
#include "cli/command_table.h"
#include "common/diagnostics.h"

int main(int argc, char** argv) {
  qx::InstallMathErrorHandler();
  return qx::RunQxtool(argc, argv);
}
