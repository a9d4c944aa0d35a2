#include "import/model_format.h"

#include <cstddef>
#include <cstring>

#include "common/text.h"

namespace qx {
namespace {

using enum ModelFormat;

// The AC3D texts carry the project's web address in the original; any
// neutral wording will do.
constexpr std::array<ModelFormatInfo, kModelFormatCount> kFormats = {{
    {Fmt3DS, "3DS (3D Studio)", '3', {".3ds", ".prj", nullptr}, "Import 3D studio file", "3DS files",
     "*.3ds;*.prj", "DefaultFile3DS", "image.3ds"},
    {FmtSTL, "STL (Stereolitografie)", 'S', {".stl", ".stla", nullptr}, "Import Binary/Ascii Stereolitografie",
     "StereoLitography files", "*.stl;*.stla", "DefaultFileSTL", "image.stl"},
    {FmtPLY, "PLY", 'P', {".ply", nullptr, nullptr}, "Import Ply file", "PLY files", "*.ply", "DefaultFilePLY",
     "image.ply"},
    {FmtLDraw, "DAT (Lego Draw)", 'L', {".ldr", ".dat", ".mpd"}, "Import LDraw (Lego) file", "LDR files",
     "*.dat;*.ldr;*.mpd", "DefaultFileLDR", "image.dat"},
    {FmtOBJ, "OBJ (Wavefront)", 'O', {".obj", nullptr, nullptr}, "Import Obj file (Wavefront)", "OBJ files",
     "*.obj", "DefaultFileOBJ", "image.obj"},
    {FmtDXF, "DXF (Autocad)", 'D', {".dxf", nullptr, nullptr}, "Import DXF (Autocad) file", "DXF files", "*.dxf",
     "DefaultFileDXF", "image.dxf"},
    {FmtLWO, "LWO (Lightwave 1,2)", 'W', {".lwo", nullptr, nullptr}, "Import LWO (Lightwave 1 & 2) file",
     "LWO files", "*.lwo", "DefaultFileLWO", "image.lwo"},
    {FmtAC3D, "AC3D (www.ac3d.org)", 'A', {".ac", nullptr, nullptr}, "Import Ac3d file (www.ac3d.org)",
     "AC3D files", "*.ac", "DefaultFileAC3D", "image.ac"},
}};

constexpr std::array<ModelFormat, kModelFormatCount> kMenuOrder = {Fmt3DS, FmtLWO,  FmtSTL,  FmtOBJ,
                                                                   FmtLDraw, FmtDXF, FmtAC3D, FmtPLY};

// One prefix comparison of the lookup: the extension must start with the
// first `length` characters of `pattern`.
struct ExtensionRule {
  const char* pattern;
  std::size_t length;
  FileType type;
};

constexpr FileType Model(ModelFormat format) { return {FileKind::kModel, format}; }
constexpr FileType kNative{FileKind::kNativeScene, Fmt3DS};

// In the order they are compared. ".stla" over 5 can never
// decide (".stl" over 4 already matched); it is kept to mirror the rules.
constexpr ExtensionRule kRules[] = {
    {".qxz", 4, kNative},         {".qx4", 4, kNative},         {".3ds", 4, Model(Fmt3DS)},
    {".prj", 4, Model(Fmt3DS)},   {".ply", 4, Model(FmtPLY)},   {".stl", 4, Model(FmtSTL)},
    {".stla", 5, Model(FmtSTL)},  {".dxf", 4, Model(FmtDXF)},   {".lwo", 4, Model(FmtLWO)},
    {".obj", 4, Model(FmtOBJ)},   {".ldr", 4, Model(FmtLDraw)}, {".dat", 4, Model(FmtLDraw)},
    {".mpd", 4, Model(FmtLDraw)},
};

}  // namespace

const ModelFormatInfo& GetModelFormatInfo(ModelFormat format) { return kFormats[static_cast<std::size_t>(format)]; }

std::span<const ModelFormatInfo, kModelFormatCount> ModelFormatTable() { return kFormats; }

std::span<const ModelFormat, kModelFormatCount> ImportMenuOrder() { return kMenuOrder; }

std::string_view FileExtension(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < nameStart) return {};
  return path.substr(dot);
}

FileType ClassifyFileName(std::string_view path) {
  const std::string_view extension = FileExtension(path);
  if (extension.empty()) return {};
  for (const ExtensionRule& rule : kRules)
    if (StartsWithIgnoreCase(extension, std::string_view(rule.pattern, rule.length))) return rule.type;
  if (EqualsIgnoreCase(extension, ".ac")) return Model(FmtAC3D);
  return {};
}

std::optional<ModelFormat> ModelFormatForFile(std::string_view path) {
  const FileType type = ClassifyFileName(path);
  if (type.kind != FileKind::kModel) return std::nullopt;
  return type.format;
}

}  // namespace qx
