// The web page (".htm") and text dump (".txt") written beside a saved scene.
#include <cstdio>

#include "app/save_files.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "common/settings.h"

namespace qx {

bool WriteCompanions(QXScene& scene, const std::string& scenePath, const SaveDialogSettings& save) {
  std::string error, warning;
  const bool written = WriteCompanionFiles(scene, scenePath, save, error, warning);
  // Without the control beside it the page shows nothing; the scene and the
  // page are still good, so this is a warning.
  if (!warning.empty()) std::fprintf(stderr, "qxtool: warning: %s\n", warning.c_str());
  if (!written) Fail(error);
  return written;
}

}  // namespace qx
