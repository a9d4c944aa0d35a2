// The Save command's files: the scene file with the chosen coders (packed
// with gzip when asked), and beside it the web page (".htm") and the text
// dump (".txt") when the options ask for them.
#pragma once

#include <string>

#include "common/settings.h"

namespace qx {

class QXScene;

// `path` with its extension (the text from the last '.' of the file name)
// replaced by `extension` (".qxz", ".ppm"); a name without one gets it added.
std::string ReplaceExtension(const std::string& path, const std::string& extension);

// Writes the files beside a saved scene that `options` ask for: the web page
// (".htm", with the control's script copied beside it so that the folder
// can be served as it is) and the text dump (".txt"). False, with `error`
// naming the file, when the page or the dump cannot be written; a script
// that cannot be copied is only a `warning` (the page and scene are good).
bool WriteCompanionFiles(QXScene& scene, const std::string& scenePath, const SaveDialogSettings& options,
                         std::string& error, std::string& warning);

// Writes `scene` to `path` with `options`' coders and packing and the error
// bound `bound`, then the page and the dump the options ask for. A bound of
// 0 or less leaves nothing to quantise: positions are stored raw. False, with `error` naming the file and the reason, when any file
// could not be written; a scene file that could not be written leaves any
// earlier file at `path` untouched and writes no page or dump.
bool SaveSceneFiles(QXScene& scene, const std::string& path, const SaveDialogSettings& options, double bound,
                    std::string& error);

}  // namespace qx
