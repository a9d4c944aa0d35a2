#include "app/commands.h"

#include <array>
#include <utility>

namespace qx {
namespace {

constexpr std::array<std::pair<ModelFormat, Command>, kModelFormatCount> kImportCommands = {{
    {ModelFormat::Fmt3DS, kCmdImport3DS},
    {ModelFormat::FmtSTL, kCmdImportSTL},
    {ModelFormat::FmtPLY, kCmdImportPLY},
    {ModelFormat::FmtLDraw, kCmdImportLDraw},
    {ModelFormat::FmtOBJ, kCmdImportOBJ},
    {ModelFormat::FmtDXF, kCmdImportDXF},
    {ModelFormat::FmtLWO, kCmdImportLWO},
    {ModelFormat::FmtAC3D, kCmdImportAC3D},
}};

}  // namespace

std::optional<ModelFormat> ImportFormat(int command) {
  for (const auto& [format, import] : kImportCommands)
    if (import == command) return format;
  return std::nullopt;
}

Command FileTypeCommand(std::string_view path) {
  const FileType type = ClassifyFileName(path);
  if (type.kind == FileKind::kNativeScene) return kCmdOpen;
  if (type.kind != FileKind::kModel) return kCmdNone;
  for (const auto& [format, import] : kImportCommands)
    if (format == type.format) return import;
  return kCmdNone;
}

}  // namespace qx
