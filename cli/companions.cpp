// The web page (".htm") and text dump (".txt") written beside a saved scene.
#include <cstdio>
#include <filesystem>

#include "app/text_dump.h"
#include "app/web_page.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "common/settings.h"

namespace qx {

bool WriteCompanions(QXScene& scene, const std::string& scenePath, const SaveDialogSettings& save) {
  const std::filesystem::path base(scenePath);
  if (save.genHTML) {
    const std::string page = std::filesystem::path(base).replace_extension(".htm").string();
    if (!WriteWebPage(page, scenePath)) {
      Fail(page + ": cannot be written");
      return false;
    }
    // Without the control beside it the page shows nothing; the scene and the
    // page are still good, so this is a warning.
    const std::string script = FindControlScript();
    if (script.empty() || !CopyControlScript(page, script))
      std::fprintf(stderr, "qxtool: warning: %s was not put beside %s; copy it there from the build's control/\n",
                   kControlFile, page.c_str());
  }
  if (save.genTXT) {
    const std::string dump = std::filesystem::path(base).replace_extension(".txt").string();
    if (!WriteTextDump(dump, scene)) {
      Fail(dump + ": cannot be written");
      return false;
    }
  }
  return true;
}

}  // namespace qx
