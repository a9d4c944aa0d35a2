// The editor's dialogs on FLTK: modal windows that show a dialog state of
// dialog_rules.h, keep it up to date as the user changes the controls, and
// answer whether it was confirmed. Escape and "Cancel" leave the state as
// the dialog found it.
#pragma once

#include <string>

#include "app/dialog_rules.h"
#include "import/model_format.h"

namespace qx {

// "Save QX". True when confirmed with valid values (state.bound is then set).
bool RunSaveDialog(SaveDialogState& state);
// "Load QX". True when confirmed (state.rate is then set).
bool RunLoadDialog(LoadDialogState& state);
// The import options of `format`. "LDraw Dir..." (and, for LDraw, a stored
// folder without a part library) opens the folder browser; a folder chosen
// there is saved to the settings file at `settingsPath` at once. True when
// "Import" was pressed; `confirmed` then holds the options to import with.
bool RunImportDialog(ImportDialogState& state, ModelFormat format, const std::string& settingsPath,
                     ImportOptions& confirmed);
// "Find Occluded Parts". True when confirmed (state.settings then updated).
bool RunOcclusionDialog(OcclusionDialogState& state);
// The About box: title, version from the build date, the home page button.
void RunAboutBox();

}  // namespace qx
