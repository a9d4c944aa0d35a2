// The scene window's command numbers. Menus, accelerators, dropped files and
// the command line all reach the window as one of these numbers, so a batch
// run does exactly what the menu does.
#pragma once

#include <optional>
#include <string_view>

#include "import/model_format.h"

namespace qx {

enum Command : int {
  kCmdNone = 0,
  kCmdAbout = 104,
  kCmdExit = 105,
  kCmdOpen = 32771,
  kCmdSave = 32772,
  kCmdImport3DS = 32774,
  kCmdImportSTL = 32775,
  kCmdImportPLY = 32776,
  kCmdSolid = 32778,
  kCmdPoints = 32779,
  kCmdEdges = 32780,
  kCmdCullFace = 32781,
  kCmdRotateX = 32782,
  kCmdRotateY = 32783,
  kCmdRotateZ = 32784,
  kCmdNew = 32786,
  kCmdShowAxis = 32787,
  kCmdVertexArray = 32788,
  kCmdRecompute = 32790,
  kCmdImportLDraw = 32802,
  kCmdHiddenLines = 32804,
  kCmdImportOBJ = 32805,
  kCmdHiddenPoints = 32807,
  kCmdLightsEnabled = 32811,
  kCmdBackColor = 32812,
  kCmdLight0 = 32813,
  kCmdLight1 = 32814,
  kCmdLDrawDir = 32815,
  kCmdShowStatusBar = 32816,
  kCmdShowSelectionOnly = 32817,
  kCmdInvertSelection = 32818,
  kCmdRemoveSelected = 32819,
  kCmdVisitWebSite = 32820,
  kCmdUnitize = 32823,
  kCmdCompact = 32825,
  kCmdGotoSelected = 32826,
  kCmdProgressive = 32827,
  kCmdIgnored = 32828,  // Alt+S: bound by the accelerators, handled by nobody
  kCmdAntialiasing = 32829,
  kCmdSaveImage = 32830,
  kCmdSelectOccluded = 32832,
  kCmdRemoveOccludedFaces = 32833,
  kCmdTwoSide = 32834,
  kCmdInvertFaces = 32835,
  kCmdSelectBadOrientation = 32836,
  kCmdFlat = 32837,
  kCmdSmooth10 = 32838,  // ... kCmdSmooth10 + 7 is "80º"
  kCmdGouraud = 32846,
  kCmdImportDXF = 32847,
  kCmdImportLWO = 32848,
  kCmdImportAC3D = 32849,
  kCmdSelective = 32850,
};

// The import or open command for a file, by its extension (.qxz/.qx4 open,
// the model formats import); kCmdNone for a name without a known type.
Command FileTypeCommand(std::string_view path);

// The format an import command reads; none for any other command.
std::optional<ModelFormat> ImportFormat(int command);

}  // namespace qx
