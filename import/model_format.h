// The foreign model formats the importer reads: their table (menu
// text, accelerator, extensions, dialog title, open-file filter, default-file
// key and default) and the mapping from a file name to a format.
//
// Extension matching, as the drop handler and the command line do it:
//   1. The extension is the text from the last '.' that follows the last
//      path separator ('/' or '\'); a name without such a '.' has none
//      ("c:\dir.x\file" has none) and is not imported.
//   2. It is compared case-insensitively with each pattern below over the
//      pattern's given length, i.e. the extension only has to start with the
//      pattern (".stlx" is STL, ".objects" is OBJ), in this order:
//        .qxz .qx4 (4)  -> a native scene file (opened, not imported)
//        .3ds .prj (4)  -> 3DS        .ply (4)         -> PLY
//        .stl (4) .stla (5) -> STL    .dxf .lwo .obj (4) -> DXF, LWO, OBJ
//        .ldr .dat .mpd (4) -> LDraw
//      and last ".ac", compared whole: ".ac" is AC3D, ".acx" nothing.
//   3. No match: the file is refused silently.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace qx {

// In the order of the format table (not the menu's order).
enum class ModelFormat { Fmt3DS, FmtSTL, FmtPLY, FmtLDraw, FmtOBJ, FmtDXF, FmtLWO, FmtAC3D };
inline constexpr int kModelFormatCount = 8;

struct ModelFormatInfo {
  ModelFormat format;
  const char* menuText;      // entry of the Import popup
  char accelerator;          // the key of Ctrl+Alt+<key>
  // The extensions the format is recognised by (with the dot, lower case),
  // unused slots null. See the matching rules at the top.
  std::array<const char*, 3> extensions;
  const char* dialogTitle;   // title of the import options dialog
  const char* filterName;    // first entry of the open-file filter ...
  const char* filterPattern;  // ... and its patterns ("*.3ds;*.prj")
  const char* defaultFileKey;  // "DefaultFile3DS" in section "DlgImport"
  const char* defaultFile;     // its default ("image.3ds")
};

// Every open-file filter has this second entry.
inline constexpr char kAllFilesFilterName[] = "All Files (*.*)";
inline constexpr char kAllFilesFilterPattern[] = "*.*";

// The table row of `format`.
const ModelFormatInfo& GetModelFormatInfo(ModelFormat format);
// All rows, in enum order.
std::span<const ModelFormatInfo, kModelFormatCount> ModelFormatTable();
// The order of the Import popup: 3DS, LWO, STL, OBJ, DAT, DXF, AC3D, PLY.
std::span<const ModelFormat, kModelFormatCount> ImportMenuOrder();

// What a file name stands for.
enum class FileKind {
  kUnknown,      // no extension, or one that matches nothing: refused silently
  kNativeScene,  // .qxz / .qx4: opened as a scene file, not imported
  kModel,        // a foreign model; `format` says which
};

struct FileType {
  FileKind kind = FileKind::kUnknown;
  ModelFormat format = ModelFormat::Fmt3DS;  // meaningful only for kModel
};

// The extension of `path` (rule 1 above) including its dot; empty when the
// name has none.
std::string_view FileExtension(std::string_view path);

// Classifies `path` by its extension (rules 2 and 3 above).
FileType ClassifyFileName(std::string_view path);

// The model format of `path`, or none for a native scene file or an
// unrecognised name.
std::optional<ModelFormat> ModelFormatForFile(std::string_view path);

}  // namespace qx
