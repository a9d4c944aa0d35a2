#include "app/save_files.h"

#include "app/text_dump.h"
#include "app/web_page.h"
#include "common/diagnostics.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"

namespace qx {

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  const size_t nameStart = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart);
  return (hasExtension ? path.substr(0, dot) : path) + extension;
}

bool WriteCompanionFiles(QXScene& scene, const std::string& scenePath, const SaveDialogSettings& options,
                         std::string& error, std::string& warning) {
  if (options.genHTML) {
    const std::string page = ReplaceExtension(scenePath, ".htm");
    if (!WriteWebPage(page, scenePath)) {
      error = page + ": the web page could not be written";
      return false;
    }
    const std::string script = FindControlScript();
    if (script.empty() || !CopyControlScript(page, script))
      warning = std::string(kControlFile) + " was not put beside " + page + "; copy it there from the build's control/";
  }
  if (options.genTXT) {
    const std::string dump = ReplaceExtension(scenePath, ".txt");
    if (!WriteTextDump(dump, scene)) {
      error = dump + ": the text dump could not be written";
      return false;
    }
  }
  return true;
}

bool SaveSceneFiles(QXScene& scene, const std::string& path, const SaveDialogSettings& options, double bound,
                    std::string& error) {
  ApplySaveSettings(options, scene);
  scene.BitsError = static_cast<float>(bound > 0 ? bound : 0);
  if (!(scene.BitsError > 0)) scene.GeoMode = 0;
  std::string failure;
  if (!SaveScene(scene, path, options.useZLib, &failure)) {
    error = path + ": " + failure;
    return false;
  }
  std::string warning;
  const bool written = WriteCompanionFiles(scene, path, options, error, warning);
  if (!warning.empty()) PrintError("\nWarning, %s", warning.c_str());
  return written;
}

}  // namespace qx
