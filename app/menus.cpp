#include "app/menus.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <vector>

#include "app/commands.h"
#include "view/draw_modes.h"

namespace qx {
namespace {

using enum MenuKind;

constexpr MenuEntry Item(const char* text, int command, bool dividerAfter = false) {
  return {kItem, text, command, dividerAfter};
}
constexpr MenuEntry Sub(const char* text) { return {kSubmenu, text, 0}; }
constexpr MenuEntry End(bool dividerAfter = false) { return {kEnd, nullptr, 0, dividerAfter}; }

constexpr MenuEntry kMenuBar[] = {
    Sub("&File"),
    Item("New\t[Ctrl+N]", kCmdNew),
    Item("&Open\t[Ctrl+O]", kCmdOpen),
    Item("&Save into a web page\t[Ctrl+S]", kCmdSave, true),
    Sub("&Import"),
    Item("3DS (3D Studio)\t[Ctrl+Alt+3]", kCmdImport3DS),
    Item("LWO (Lightwave 1,2)\t[Ctrl+Alt+W]", kCmdImportLWO),
    Item("STL (Stereolitografie)\t[Ctrl+Alt+S]", kCmdImportSTL),
    Item("OBJ (Wavefront)\t[Ctrl+Alt+O]", kCmdImportOBJ),
    Item("DAT (Lego Draw)\t[Ctrl+Alt+L]", kCmdImportLDraw),
    Item("DXF (Autocad)\t[Ctrl+Alt+D]", kCmdImportDXF),
    Item("AC3D (www.ac3d.org)\t[Ctrl+Alt+A]", kCmdImportAC3D),
    Item("PLY\t[Ctrl+Alt+P]", kCmdImportPLY),
    End(true),
    Item("Save Image (PPM)", kCmdSaveImage, true),
    Item("E&xit", kCmdExit),
    End(),

    Sub("&View"),
    Item("Show Axis\t[Alt+X]", kCmdShowAxis),
    Item("Show Status Bar\t[Alt+B]", kCmdShowStatusBar, true),
    Item("Progressive\t[Alt+P]", kCmdProgressive),
    Item("Selective\t(Frustum Demo)", kCmdSelective, true),
    Item("&Solid\t[Alt+1]", kCmdSolid),
    Item("&Points\t[Alt+2]", kCmdPoints),
    Item("&Edges\t[Alt+3]", kCmdEdges),
    Item("Hi&dden points\t[Alt+4]", kCmdHiddenPoints),
    Item("&Hidden lines\t[Alt+5]", kCmdHiddenLines, true),
    Item("Anti-Aliasing\t[Ctrl+A]", kCmdAntialiasing),
    Item("&CullFace\t[Ctrl+C]", kCmdCullFace),
    Sub("Smooth"),
    Item("Goureaud", kCmdGouraud),
    Item("10º", kCmdSmooth10),
    Item("20º", kCmdSmooth10 + 1),
    Item("30º", kCmdSmooth10 + 2),
    Item("40º", kCmdSmooth10 + 3),
    Item("50º", kCmdSmooth10 + 4),
    Item("60º", kCmdSmooth10 + 5),
    Item("70º", kCmdSmooth10 + 6),
    Item("80º", kCmdSmooth10 + 7),
    Item("Flat\t[Ctrl+F]", kCmdFlat),
    End(),
    Item("Vertex Array", kCmdVertexArray, true),
    Item("Back color", kCmdBackColor),
    End(),

    Sub("&Light"),
    Item("Enabled Lights", kCmdLightsEnabled),
    Item("Two Side", kCmdTwoSide),
    Sub("Light"),
    Item("Light 0", kCmdLight0),
    Item("Lilght 1", kCmdLight1),
    End(),
    End(),

    Sub("&Scene"),
    Item("Rotate &X", kCmdRotateX),
    Item("Rotate &Y", kCmdRotateY),
    Item("Rotate &Z", kCmdRotateZ, true),
    Item("&Recompute", kCmdRecompute),
    Item("Unitize Scene \t(build tree)", kCmdUnitize),
    Item("Compact Scene \t(build network)", kCmdCompact, true),
    Item("Select Occluded Objects", kCmdSelectOccluded),
    Item("Remove Occluded Faces", kCmdRemoveOccludedFaces),
    Item("Select Bad Object Orientation", kCmdSelectBadOrientation),
    End(),

    Sub("S&elected"),
    Item("Show Selection &Only", kCmdShowSelectionOnly),
    Item("&Invert selection", kCmdInvertSelection),
    Item("Invert faces", kCmdInvertFaces),
    Item("&Goto selected\t[Ctrl+G]", kCmdGotoSelected),
    Item("&Remove selected", kCmdRemoveSelected),
    End(),

    Sub("&Help"),
    Item("&About Trevalis ...", kCmdAbout),
    Item("Visit Trevalis &Web Site", kCmdVisitWebSite),
    End(),
};

// The context menu leaves out what only makes sense from the menu bar.
bool InContextMenu(const MenuEntry& entry) {
  return entry.command != kCmdNew && entry.command != kCmdSaveImage && entry.command != kCmdExit;
}

constexpr Accelerator kAccelerators[] = {
    {'n', true, false, kCmdNew},
    {'o', true, false, kCmdOpen},
    {'s', true, false, kCmdSave},
    {'3', true, true, kCmdImport3DS},
    {'w', true, true, kCmdImportLWO},
    {'s', true, true, kCmdImportSTL},
    {'o', true, true, kCmdImportOBJ},
    {'l', true, true, kCmdImportLDraw},
    {'d', true, true, kCmdImportDXF},
    {'a', true, true, kCmdImportAC3D},
    {'p', true, true, kCmdImportPLY},
    {'x', false, true, kCmdShowAxis},
    {'b', false, true, kCmdShowStatusBar},
    {'p', false, true, kCmdProgressive},
    {'1', false, true, kCmdSolid},
    // The table binds Alt+2 to Edges and Alt+3 to Points, the reverse of what
    // the menu texts say; users of the program know the keys, not the texts.
    {'2', false, true, kCmdEdges},
    {'3', false, true, kCmdPoints},
    {'4', false, true, kCmdHiddenPoints},
    {'5', false, true, kCmdHiddenLines},
    {'a', true, false, kCmdAntialiasing},
    {'c', true, false, kCmdCullFace},
    {'f', true, false, kCmdFlat},
    {'g', true, false, kCmdGotoSelected},
    {'/', false, true, kCmdAbout},
    {'?', false, true, kCmdAbout},
    {'s', false, true, kCmdIgnored},
};

constexpr int kSmoothCommands[] = {kCmdGouraud,      kCmdSmooth10,     kCmdSmooth10 + 1, kCmdSmooth10 + 2,
                                   kCmdSmooth10 + 3, kCmdSmooth10 + 4, kCmdSmooth10 + 5, kCmdSmooth10 + 6,
                                   kCmdSmooth10 + 7, kCmdFlat};

constexpr struct {
  int command;
  int drawMode;
} kDrawModeCommands[] = {{kCmdSolid, kDrawSolid},
                         {kCmdPoints, kDrawPoints},
                         {kCmdEdges, kDrawEdges},
                         {kCmdHiddenPoints, kDrawHiddenPoints},
                         {kCmdHiddenLines, kDrawHiddenLines}};

MenuItemState Check(bool checked) { return {true, true, checked}; }

}  // namespace

std::span<const MenuEntry> MenuBarEntries() { return kMenuBar; }

std::span<const MenuEntry> ContextMenuEntries() {
  static const std::vector<MenuEntry> entries = [] {
    std::vector<MenuEntry> kept;
    std::copy_if(std::begin(kMenuBar), std::end(kMenuBar), std::back_inserter(kept), InContextMenu);
    return kept;
  }();
  return entries;
}

std::span<const Accelerator> AcceleratorTable() { return kAccelerators; }

std::optional<int> FindAccelerator(char key, bool control, bool alt) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(key)));
  for (const Accelerator& entry : kAccelerators)
    if (entry.key == lower && entry.control == control && entry.alt == alt) return entry.command;
  return std::nullopt;
}

int SmoothMenuIndex(float smoothAngle) {
  const double degrees = std::acos(std::clamp(static_cast<double>(smoothAngle), -1.0, 1.0)) * 180 / std::numbers::pi;
  return std::clamp(static_cast<int>((degrees + 5) / 10), 0, 9);
}

int SmoothMenuCommand(int index) { return kSmoothCommands[std::clamp(index, 0, 9)]; }

std::optional<float> ShadingLevelOfCommand(int command) {
  if (command == kCmdGouraud) return 1.0f;
  if (command == kCmdFlat) return 0.0f;
  if (command >= kCmdSmooth10 && command <= kCmdSmooth10 + 7) {
    const int tens = command - kCmdSmooth10 + 1;
    return std::cos(static_cast<float>(tens) * 10.0f * std::numbers::pi_v<float> / 180.0f);
  }
  return std::nullopt;
}

std::optional<int> DrawModeOfCommand(int command) {
  for (const auto& entry : kDrawModeCommands)
    if (entry.command == command) return entry.drawMode;
  return std::nullopt;
}

MenuItemState StateOfMenuItem(int command, const MenuContext& context) {
  const ViewSettings& view = context.settings;
  if (const std::optional<int> mode = DrawModeOfCommand(command)) return Check(view.drawMode == *mode);
  if (ShadingLevelOfCommand(command)) return Check(SmoothMenuCommand(SmoothMenuIndex(view.smoothAngle)) == command);
  switch (command) {
    case kCmdVertexArray: return {view.smoothAngle == 1.0f, true, view.useVertexArray};
    case kCmdSelectBadOrientation: return {false, false, false};
    case kCmdAntialiasing: return Check(view.antialiasing);
    case kCmdCullFace: return Check(view.cullFace);
    case kCmdShowAxis: return Check(view.showAxis);
    case kCmdShowStatusBar: return Check(view.showStatusBar);
    case kCmdProgressive: return Check(!context.selective);
    case kCmdSelective: return Check(context.selective);
    case kCmdLightsEnabled: return Check(view.lightOn);
    case kCmdTwoSide: return Check(view.twoSideLight);
    case kCmdLight0: return Check(view.light0);
    case kCmdLight1: return Check(view.light1);
    case kCmdShowSelectionOnly: return Check(context.selectionOnly);
    default: return {};
  }
}

}  // namespace qx
