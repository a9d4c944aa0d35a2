// WindowHost: what the scene window asks of the platform window around it —
// title, status bar and its track bar, context menu, the few system dialogs,
// and the keyboard poll of the progress pump. The FLTK editor window is one
// host; the offscreen host of a run without a display is another, and tests
// use their own. Keeping the scene window's commands behind this interface is
// what lets them run, and be tested, without any display.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "app/dialog_rules.h"
#include "import/model_format.h"

namespace qx {

class WindowHost {
 public:
  virtual ~WindowHost() = default;

  virtual void SetTitle(const std::string& title) = 0;
  // Part 1 of the status bar (the text beside the track bar).
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void ShowStatusBar(bool shown) = 0;

  // The track bar: position 0 … maximum, and a highlighted selection range.
  virtual int TrackPosition() const = 0;
  virtual int TrackMaximum() const = 0;
  virtual void SetTrackPosition(int position) = 0;
  virtual void SetTrackSelection(int first, int last) = 0;

  // The context menu at (x, y) of the view; the chosen command comes back
  // through the scene window's OnCommand.
  virtual void PopupContextMenu(int /*x*/, int /*y*/) {}
  // The colour chooser, starting at `rgb`; none when cancelled.
  virtual std::optional<std::array<float, 3>> ChooseColour(const std::array<float, 3>& /*rgb*/) { return std::nullopt; }
  // The dialogs: each shows its state, keeps it up to date and answers
  // whether it was confirmed (never, without a display).
  virtual bool EditSaveOptions(SaveDialogState& /*state*/) { return false; }
  virtual bool EditLoadOptions(LoadDialogState& /*state*/) { return false; }
  // A folder chosen with "LDraw Dir..." is saved to `settingsPath` at once.
  virtual bool EditImportOptions(ImportDialogState& /*state*/, ModelFormat /*format*/,
                                 const std::string& /*settingsPath*/, ImportOptions& /*confirmed*/) {
    return false;
  }
  virtual bool EditOcclusionOptions(OcclusionDialogState& /*state*/) { return false; }
  virtual void ShowAbout() {}
  // Opens an address in the system's browser.
  virtual void OpenAddress(const std::string& /*address*/) {}
  // The wait cursor during long work, the arrow afterwards.
  virtual void SetWaitCursor(bool /*waiting*/) {}

  // Handles pending keyboard input and answers whether Escape or Space is
  // held while the window is active (the progress pump's stop request).
  virtual bool StopKeyHeld() { return false; }
  // Ends the program's message loop (Exit).
  virtual void Close() = 0;
};

}  // namespace qx
