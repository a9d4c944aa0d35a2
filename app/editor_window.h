// EditorWindow: the editor's top-level FLTK window — menu bar, the view (a GL
// window, or the software view of -soft), and the status bar holding the
// tolerance track bar and the status text. It is the scene window's host:
// FLTK callbacks only translate into SceneWindow calls.
//
//   +-------------------------------------------+
//   | menu bar                                  |
//   +-------------------------------------------+
//   | view (the client area: -w × -h)           |
//   +----------+---------------------------+----+
//   | track bar| status text               |    |   parts end at 100, w − 32, w
//   +----------+---------------------------+----+
#pragma once

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Menu_Item.H>

#include <memory>
#include <vector>

#include "app/scene_window.h"
#include "app/window_host.h"

class Fl_Box;
class Fl_Group;
class Fl_Widget;

namespace qx {

class GLSurface;
class MenuBar;
class TrackBar;

class EditorWindow : public Fl_Double_Window, public WindowHost {
 public:
  static constexpr int kMenuHeight = 25;
  static constexpr int kStatusHeight = 22;
  static constexpr int kTrackWidth = 100;
  static constexpr int kStatusEndWidth = 32;

  // The window at (10, 10), 520 × 510, titled "GLQX", with a hardware GL view
  // or, when `soft`, the software one. Not shown yet.
  explicit EditorWindow(bool soft);
  ~EditorWindow() override;

  // Shows the window and attaches the view's rendering context. False when no
  // context could be created (the window then draws nothing).
  bool ShowAndAttach();
  // Attaches the menu bar (after the command-line batch, as the program starts).
  void AttachMenuBar();
  // Resizes the window so that the view gets exactly width × height pixels.
  void SetClientSize(int width, int height);

  SceneWindow& Scene() { return *scene_; }
  // Runs a command as the menu does (ignored while long work runs).
  void Dispatch(int command);

  // WindowHost.
  void SetTitle(const std::string& title) override;
  void SetStatusText(const std::string& text) override;
  void ShowStatusBar(bool shown) override;
  int TrackPosition() const override;
  int TrackMaximum() const override;
  void SetTrackPosition(int position) override;
  void SetTrackSelection(int first, int last) override;
  void PopupContextMenu(int x, int y) override;
  std::optional<std::array<float, 3>> ChooseColour(const std::array<float, 3>& rgb) override;
  bool EditSaveOptions(SaveDialogState& state) override;
  bool EditLoadOptions(LoadDialogState& state) override;
  bool EditImportOptions(ImportDialogState& state, ModelFormat format, const std::string& settingsPath,
                         ImportOptions& confirmed) override;
  bool EditOcclusionOptions(OcclusionDialogState& state) override;
  void ShowAbout() override;
  void OpenAddress(const std::string& address) override;
  void SetWaitCursor(bool waiting) override;
  bool StopKeyHeld() override;
  void Close() override;

  int handle(int event) override;
  void resize(int x, int y, int width, int height) override;

 private:
  static void MenuChosen(Fl_Widget* widget, void* command);
  static void CloseRequested(Fl_Widget* widget, void* data);
  bool TranslateAccelerator();
  void RefreshMenus();
  void Layout();

  GLSurface* surface_ = nullptr;
  Fl_Widget* view_ = nullptr;
  MenuBar* menuBar_ = nullptr;
  Fl_Group* statusBar_ = nullptr;
  TrackBar* track_ = nullptr;
  Fl_Box* statusText_ = nullptr;
  Fl_Box* statusEnd_ = nullptr;
  std::vector<Fl_Menu_Item> barItems_;
  std::vector<Fl_Menu_Item> contextItems_;
  std::unique_ptr<SceneWindow> scene_;
  bool busy_ = false;
  bool menuAttached_ = false;
};

// The FLTK menu items of a menu table: each command's item carries its number
// as user data and calls `callback`; submenus and dividers as the table says.
std::vector<Fl_Menu_Item> BuildMenuItems(std::span<const MenuEntry> entries, Fl_Callback* callback);
// Sets the check marks and greyed items of `items` from the menu rules.
void RefreshMenuItems(std::vector<Fl_Menu_Item>& items, const MenuContext& context);

}  // namespace qx
