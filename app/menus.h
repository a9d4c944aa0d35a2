// The scene window's menus and accelerators as data, and the rules that set
// their check marks and greyed items. Nothing here knows the toolkit: the
// window turns the tables into its menu bar and context menu, and tests read
// them directly.
#pragma once

#include <optional>
#include <span>

#include "common/settings.h"

namespace qx {

enum class MenuKind {
  kItem,     // a command
  kSubmenu,  // opens the entries up to the matching kEnd
  kEnd,
};

struct MenuEntry {
  MenuKind kind;
  const char* text;  // the system's own text, '&' marking the mnemonic
  int command;       // 0 for submenus and ends
  bool dividerAfter = false;
};

// The menu bar, and the context menu of a right click (the same items without
// New, Save Image and Exit, in submenus of their own).
std::span<const MenuEntry> MenuBarEntries();
std::span<const MenuEntry> ContextMenuEntries();

// One accelerator: a key (lower-case character) with Ctrl and/or Alt.
struct Accelerator {
  char key;
  bool control;
  bool alt;
  int command;
};
std::span<const Accelerator> AcceleratorTable();
// The command bound to a key press, if any. `key` is compared without case.
std::optional<int> FindAccelerator(char key, bool control, bool alt);

// What the menu rules look at.
struct MenuContext {
  ViewSettings settings;
  bool selective = false;      // "Selective" refinement mode is on
  bool selectionOnly = false;  // only the selected nodes are drawn
};

struct MenuItemState {
  bool enabled = true;
  bool checkable = false;  // shows a check mark, set or not
  bool checked = false;
};

// The state of a command's item before a menu opens.
MenuItemState StateOfMenuItem(int command, const MenuContext& context);

// The Smooth submenu's checked entry: trunc((acos(level) in degrees + 5) / 10)
// in the list "Goureaud", "10º" … "80º", "Flat"; 0 for 1.0 and 9 for 0.0.
// Levels outside [-1, 1] are clamped first.
int SmoothMenuIndex(float smoothAngle);
// The command of the Smooth submenu's entry `index` (0 … 9).
int SmoothMenuCommand(int index);
// The shading level a Smooth command sets; none for another command.
std::optional<float> ShadingLevelOfCommand(int command);
// The draw mode a draw-mode command sets; none for another command.
std::optional<int> DrawModeOfCommand(int command);

}  // namespace qx
