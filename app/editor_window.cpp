#include "app/editor_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Slider.H>
#include <FL/fl_draw.H>

#include <cstdint>

#include "app/commands.h"
#include "app/dialogs.h"
#include "platform/fltk_dialogs.h"
#include "platform/fltk_gl_view.h"
#include "platform/fltk_soft_view.h"

namespace qx {

// The menu bar brings its check marks up to date before it opens, as the
// window did on WM_INITMENU.
class MenuBar : public Fl_Menu_Bar {
 public:
  MenuBar(int x, int y, int width, int height, std::function<void()> beforeOpening)
      : Fl_Menu_Bar(x, y, width, height), beforeOpening_(std::move(beforeOpening)) {}
  int handle(int event) override {
    if (event == FL_PUSH || event == FL_SHORTCUT) beforeOpening_();
    return Fl_Menu_Bar::handle(event);
  }

 private:
  std::function<void()> beforeOpening_;
};

// The tolerance track bar: a slider that also shows a selection range (the
// progress of long work) as a band along its bottom edge.
class TrackBar : public Fl_Slider {
 public:
  TrackBar(int x, int y, int width, int height) : Fl_Slider(FL_HOR_NICE_SLIDER, x, y, width, height, nullptr) {}
  void SetSelection(int first, int last) {
    first_ = first;
    last_ = last;
    redraw();
  }
  void draw() override {
    Fl_Slider::draw();
    if (last_ <= first_ || maximum() <= 0) return;
    const double scale = (w() - 4) / maximum();
    fl_rectf(x() + 2 + static_cast<int>(first_ * scale), y() + h() - 4,
             std::max(1, static_cast<int>((last_ - first_) * scale)), 2, FL_SELECTION_COLOR);
  }

 private:
  int first_ = 0, last_ = 0;
};

std::vector<Fl_Menu_Item> BuildMenuItems(std::span<const MenuEntry> entries, Fl_Callback* callback) {
  std::vector<Fl_Menu_Item> items;
  std::vector<size_t> openSubmenus;
  for (const MenuEntry& entry : entries) {
    Fl_Menu_Item item{};
    if (entry.kind == MenuKind::kSubmenu) {
      item.text = entry.text;
      item.flags = FL_SUBMENU;
      openSubmenus.push_back(items.size());
    } else if (entry.kind == MenuKind::kEnd) {
      // A divider after a submenu belongs to the item that opens it.
      if (entry.dividerAfter && !openSubmenus.empty()) items[openSubmenus.back()].flags |= FL_MENU_DIVIDER;
      if (!openSubmenus.empty()) openSubmenus.pop_back();
    } else {
      item.text = entry.text;
      item.callback_ = callback;
      item.user_data_ = reinterpret_cast<void*>(static_cast<intptr_t>(entry.command));
      item.flags = entry.dividerAfter ? FL_MENU_DIVIDER : 0;
    }
    items.push_back(item);
  }
  items.push_back(Fl_Menu_Item{});  // the end of the top level
  return items;
}

void RefreshMenuItems(std::vector<Fl_Menu_Item>& items, const MenuContext& context) {
  for (Fl_Menu_Item& item : items) {
    if (!item.text || (item.flags & FL_SUBMENU)) continue;
    const int command = static_cast<int>(reinterpret_cast<intptr_t>(item.user_data_));
    const MenuItemState state = StateOfMenuItem(command, context);
    int flags = item.flags & FL_MENU_DIVIDER;
    if (state.checkable) flags |= FL_MENU_TOGGLE | (state.checked ? FL_MENU_VALUE : 0);
    if (!state.enabled) flags |= FL_MENU_INACTIVE;
    item.flags = flags;
  }
}

EditorWindow::EditorWindow(bool soft) : Fl_Double_Window(10, 10, 520, 510, SceneWindow::kNoSceneName) {
  const int viewHeight = h() - kMenuHeight - kStatusHeight;
  menuBar_ = new MenuBar(0, 0, w(), kMenuHeight, [this] { RefreshMenus(); });
  ViewWidget* events = nullptr;
  if (soft) {
    auto* view = new FltkSoftView(0, kMenuHeight, w(), viewHeight);
    view_ = view, surface_ = view, events = view;
  } else {
    auto* view = new FltkGlView(0, kMenuHeight, w(), viewHeight);
    view_ = view, surface_ = view, events = view;
  }
  statusBar_ = new Fl_Group(0, h() - kStatusHeight, w(), kStatusHeight);
  track_ = new TrackBar(0, statusBar_->y(), kTrackWidth, kStatusHeight);
  track_->bounds(0, SceneWindow::kTrackMaximum);
  track_->step(1);
  statusText_ = new Fl_Box(kTrackWidth, statusBar_->y(), w() - kTrackWidth - kStatusEndWidth, kStatusHeight);
  statusText_->box(FL_THIN_DOWN_BOX);
  statusText_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  statusEnd_ = new Fl_Box(w() - kStatusEndWidth, statusBar_->y(), kStatusEndWidth, kStatusHeight);
  statusEnd_->box(FL_THIN_DOWN_BOX);
  statusBar_->resizable(statusText_);
  statusBar_->end();
  end();
  resizable(view_);
  callback(CloseRequested);

  barItems_ = BuildMenuItems(MenuBarEntries(), MenuChosen);
  contextItems_ = BuildMenuItems(ContextMenuEntries(), nullptr);
  scene_ = std::make_unique<SceneWindow>(soft, *this);
  events->SetView(scene_.get());
  events->SetAccelerators([this] { return TranslateAccelerator(); });
}

EditorWindow::~EditorWindow() {
  // The scene window detaches from the view's context while the view exists.
  scene_.reset();
}

bool EditorWindow::ShowAndAttach() {
  show();
  Fl::flush();
  return scene_->Attach(surface_);
}

void EditorWindow::AttachMenuBar() {
  menuAttached_ = true;
  RefreshMenus();
  menuBar_->menu(barItems_.data());
}

void EditorWindow::SetClientSize(int width, int height) {
  const int statusHeight = statusBar_->visible() ? kStatusHeight : 0;
  size(std::max(width, 1), std::max(height, 1) + kMenuHeight + statusHeight);
  Fl::flush();
}

void EditorWindow::Layout() {
  const int statusHeight = statusBar_->visible() ? kStatusHeight : 0;
  menuBar_->resize(0, 0, w(), kMenuHeight);
  view_->resize(0, kMenuHeight, w(), std::max(h() - kMenuHeight - statusHeight, 1));
  statusBar_->resize(0, h() - kStatusHeight, w(), kStatusHeight);
  track_->resize(0, statusBar_->y(), kTrackWidth, kStatusHeight);
  statusText_->resize(kTrackWidth, statusBar_->y(), std::max(w() - kTrackWidth - kStatusEndWidth, 0), kStatusHeight);
  statusEnd_->resize(std::max(w() - kStatusEndWidth, kTrackWidth), statusBar_->y(), kStatusEndWidth, kStatusHeight);
}

void EditorWindow::resize(int x, int y, int width, int height) {
  Fl_Double_Window::resize(x, y, width, height);
  Layout();  // the fixed heights of menu and status bar, whatever FLTK scaled
  redraw();
}

void EditorWindow::Dispatch(int command) {
  if (busy_ || !scene_) return;
  busy_ = true;
  scene_->MakeCurrent();
  scene_->Execute(command, false);
  busy_ = false;
  RefreshMenus();
}

void EditorWindow::MenuChosen(Fl_Widget* widget, void* command) {
  if (auto* editor = dynamic_cast<EditorWindow*>(widget->window()))
    editor->Dispatch(static_cast<int>(reinterpret_cast<intptr_t>(command)));
}

void EditorWindow::CloseRequested(Fl_Widget* widget, void*) {
  // FLTK also calls a window's callback for the Escape key, which here only
  // stops long work; the window closes for the window manager's request.
  if (Fl::event() == FL_CLOSE) static_cast<EditorWindow*>(widget)->Close();
}

bool EditorWindow::TranslateAccelerator() {
  const int key = Fl::event_key();
  if (key <= 0 || key >= 128) return false;
  const bool control = Fl::event_state(FL_CTRL) != 0, alt = Fl::event_state(FL_ALT) != 0;
  std::optional<int> command = FindAccelerator(static_cast<char>(key), control, alt);
  if (!command && Fl::event_length() > 0) command = FindAccelerator(Fl::event_text()[0], control, alt);
  if (!command) return false;
  Dispatch(*command);
  return true;
}

int EditorWindow::handle(int event) {
  if (event == FL_SHORTCUT && TranslateAccelerator()) return 1;
  return Fl_Double_Window::handle(event);
}

void EditorWindow::RefreshMenus() {
  if (!scene_) return;
  const MenuContext context = scene_->MenuState();
  RefreshMenuItems(barItems_, context);
  RefreshMenuItems(contextItems_, context);
}

// --- WindowHost. ---

void EditorWindow::SetTitle(const std::string& title) { copy_label(title.c_str()); }

void EditorWindow::SetStatusText(const std::string& text) {
  // '@' starts a symbol in FLTK labels; doubled it shows as typed (a file
  // name in the status line may hold one).
  std::string label;
  for (char c : text) label += c == '@' ? "@@" : std::string(1, c);
  statusText_->copy_label(label.c_str());
  statusText_->redraw_label();
}

void EditorWindow::ShowStatusBar(bool shown) {
  if (shown == (statusBar_->visible() != 0)) return;
  shown ? statusBar_->show() : statusBar_->hide();
  Layout();
  redraw();
}

int EditorWindow::TrackPosition() const { return static_cast<int>(track_->value()); }
int EditorWindow::TrackMaximum() const { return static_cast<int>(track_->maximum()); }
void EditorWindow::SetTrackPosition(int position) { track_->value(position); }
void EditorWindow::SetTrackSelection(int first, int last) { track_->SetSelection(first, last); }

void EditorWindow::PopupContextMenu(int, int) {
  RefreshMenus();
  const Fl_Menu_Item* chosen = contextItems_.front().popup(Fl::event_x(), Fl::event_y());
  if (chosen && chosen->user_data_) Dispatch(static_cast<int>(reinterpret_cast<intptr_t>(chosen->user_data_)));
}

std::optional<std::array<float, 3>> EditorWindow::ChooseColour(const std::array<float, 3>& rgb) {
  return ChooseColourDialog("Back color", rgb);
}

bool EditorWindow::EditSaveOptions(SaveDialogState& state) { return RunSaveDialog(state); }
bool EditorWindow::EditLoadOptions(LoadDialogState& state) { return RunLoadDialog(state); }
bool EditorWindow::EditImportOptions(ImportDialogState& state, ModelFormat format, const std::string& settingsPath,
                                     ImportOptions& confirmed) {
  return RunImportDialog(state, format, settingsPath, confirmed);
}
bool EditorWindow::EditOcclusionOptions(OcclusionDialogState& state) { return RunOcclusionDialog(state); }
void EditorWindow::ShowAbout() { RunAboutBox(); }

void EditorWindow::OpenAddress(const std::string& address) { OpenInBrowser(address); }

void EditorWindow::SetWaitCursor(bool waiting) {
  cursor(waiting ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
  Fl::flush();
}

bool EditorWindow::StopKeyHeld() {
  Fl::check();
  const bool active = Fl::focus() && Fl::focus()->top_window() == this;
  return active && (Fl::get_key(FL_Escape) || Fl::get_key(' '));
}

void EditorWindow::Close() { hide(); }

}  // namespace qx
