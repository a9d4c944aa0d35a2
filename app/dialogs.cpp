#include "app/dialogs.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>

#include <functional>
#include <optional>
#include <vector>

#include "app/version.h"
#include "app/web_page.h"
#include "platform/fltk_dialogs.h"

namespace qx {
namespace {

const char kSceneFilterName[] = "QXRep Files (*.qxz,*.qx4)";

// FLTK reads '/', '&', '_' and '\' in menu labels as structure and
// shortcuts; list entries show them as typed.
std::string MenuLabel(const std::string& text) {
  std::string label;
  for (char c : text) {
    if (c == '/' || c == '&' || c == '_' || c == '\\') label += '\\';
    label += c;
  }
  return label;
}

// A list of `entries` selecting the entry `stored`; a stored value outside
// the list selects nothing.
Fl_Choice* MakeChoice(int x, int y, int width, const char* label, const std::vector<std::string>& entries,
                      std::optional<int> stored) {
  auto* choice = new Fl_Choice(x, y, width, 25, label);
  for (const std::string& entry : entries) choice->add(MenuLabel(entry).c_str());
  const std::optional<int> selection = stored ? ListSelection(*stored, static_cast<int>(entries.size())) : stored;
  choice->value(selection ? *selection : -1);
  return choice;
}

void Enable(Fl_Widget* widget, bool enabled) { enabled ? widget->activate() : widget->deactivate(); }

// Runs `window` as a modal dialog until it is hidden (OK, Cancel, Escape).
void RunModal(Fl_Window& window, Fl_Widget* focus) {
  window.set_modal();
  window.show();
  if (focus) focus->take_focus();
  while (window.shown()) Fl::wait();
}

// The OK and Cancel pair at the bottom right of a dialog. OK runs `confirm`,
// which answers whether the dialog may close.
struct Buttons {
  Buttons(Fl_Window& window, const char* okLabel, std::function<bool()> confirm) : confirm_(std::move(confirm)) {
    ok = new Fl_Return_Button(window.w() - 190, window.h() - 35, 85, 25, okLabel);
    cancel = new Fl_Button(window.w() - 95, window.h() - 35, 85, 25, "Cancel");
    ok->callback(
        [](Fl_Widget* button, void* data) {
          auto* self = static_cast<Buttons*>(data);
          if (self->confirm_()) {
            self->confirmed = true;
            button->window()->hide();
          }
        },
        this);
    cancel->callback([](Fl_Widget* button, void*) { button->window()->hide(); });
  }
  Fl_Return_Button* ok;
  Fl_Button* cancel;
  bool confirmed = false;

 private:
  std::function<bool()> confirm_;
};

template <class Widget, class Handler>
void OnChange(Widget* widget, Handler* handler) {
  widget->callback([](Fl_Widget*, void* data) { (*static_cast<Handler*>(data))(); }, handler);
}

}  // namespace

bool RunSaveDialog(SaveDialogState& state) {
  Fl_Window window(400, 270, "Save QX");
  auto* file = new Fl_Input(80, 10, 220, 25, "File");
  file->value(state.fileName.c_str());
  auto* browse = new Fl_Button(310, 10, 80, 25, "Browser");
  auto* connectivity = MakeChoice(120, 45, 170, "Conectivity", ConnectivityEntries(), state.options.connectMode);
  auto* geometry = MakeChoice(120, 75, 170, "Geometry", GeometryEntries(), state.options.geoMode);
  auto* predictor = MakeChoice(120, 105, 170, "Predictor", PredictorEntries(), state.options.predMode);
  auto* precision = MakeChoice(120, 135, 100, "Max Error", PrecisionEntries(), state.options.bitsError);
  auto* bound = new Fl_Input(230, 135, 160, 25);
  bound->value(state.boundText.c_str());
  auto* zlib = new Fl_Check_Button(10, 175, 140, 25, "ZLib compresion");
  zlib->value(state.options.useZLib);
  auto* txt = new Fl_Check_Button(150, 175, 100, 25, "Gen .TXT");
  txt->value(state.options.genTXT);
  auto* html = new Fl_Check_Button(250, 175, 140, 25, "Generate .HTML");
  html->value(state.options.genHTML);

  auto applyGeometry = [&] {
    state.options.geoMode = std::max(geometry->value(), 0);
    for (Fl_Widget* widget : {static_cast<Fl_Widget*>(predictor), static_cast<Fl_Widget*>(precision),
                              static_cast<Fl_Widget*>(bound)})
      Enable(widget, state.GeometryControlsEnabled());
  };
  auto applyPrecision = [&] {
    if (precision->value() >= 0) state.SelectPrecision(precision->value());
    bound->value(state.boundText.c_str());
  };
  auto applyPacking = [&] {
    state.fileName = file->value();
    state.SetPacking(zlib->value());
    file->value(state.fileName.c_str());
  };
  auto chooseFile = [&] {
    if (auto name = ChooseFileDialog("Save file", kSceneFilterName, "*.qxz", file->value(), true))
      file->value(name->c_str());
  };
  OnChange(geometry, &applyGeometry);
  OnChange(precision, &applyPrecision);
  OnChange(zlib, &applyPacking);
  OnChange(browse, &chooseFile);
  Buttons buttons(window, "OK", [&] {
    state.fileName = file->value();
    state.boundText = bound->value();
    if (connectivity->value() >= 0) state.options.connectMode = connectivity->value();
    if (predictor->value() >= 0) state.options.predMode = predictor->value();
    state.options.useZLib = zlib->value();
    state.options.genTXT = txt->value();
    state.options.genHTML = html->value();
    const std::string problem = state.Confirm();
    if (!problem.empty()) fl_alert("%s", problem.c_str());
    return problem.empty();
  });
  window.end();
  applyGeometry();
  RunModal(window, buttons.ok);
  return buttons.confirmed;
}

bool RunLoadDialog(LoadDialogState& state) {
  Fl_Window window(400, 150, "Load QX");
  auto* file = new Fl_Input(80, 10, 220, 25, "File");
  file->value(state.fileName.c_str());
  auto* browse = new Fl_Button(310, 10, 80, 25, "Browser");
  auto* emulate = new Fl_Check_Button(10, 45, 140, 25, "Emulate Modem");
  emulate->value(state.options.emulateModem);
  auto* rate = MakeChoice(250, 45, 140, "Modem speed", RateEntries(), state.RateSelection());
  auto applyEmulation = [&] {
    state.options.emulateModem = emulate->value();
    Enable(rate, state.RateEnabled());
  };
  auto chooseFile = [&] {
    if (auto name = ChooseFileDialog("Open file", kSceneFilterName, "*.qxz;*.qx4", file->value(), false))
      file->value(name->c_str());
  };
  OnChange(emulate, &applyEmulation);
  OnChange(browse, &chooseFile);
  Buttons buttons(window, "OK", [&] {
    state.fileName = file->value();
    if (rate->value() >= 0) state.options.speedModem = rate->value();
    const std::string problem = state.Confirm();
    if (!problem.empty()) fl_alert("%s", problem.c_str());
    return problem.empty();
  });
  window.end();
  applyEmulation();
  RunModal(window, buttons.ok);
  return buttons.confirmed;
}

namespace {

// The folder browser of the import dialog; a folder chosen is stored at once.
void ChooseLDrawDir(ImportDialogState& state, const std::string& settingsPath) {
  const char* chosen = fl_dir_chooser("Choose the LDRAW directory", state.options.ldrawDir.c_str(), 0);
  if (!chosen) return;
  std::string folder = chosen;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) {
    fl_message_title("Error");
    fl_alert("Invalid directory selected.");
    return;
  }
  state.options.ldrawDir = folder;
  state.options.Save(settingsPath);
}

Fl_Group* Frame(int x, int y, int width, int height, const char* label) {
  auto* frame = new Fl_Group(x, y, width, height, label);
  frame->box(FL_ENGRAVED_FRAME);
  frame->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
  return frame;
}

}  // namespace

bool RunImportDialog(ImportDialogState& state, ModelFormat format, const std::string& settingsPath,
                     ImportOptions& confirmed) {
  const ModelFormatInfo& info = GetModelFormatInfo(format);
  Fl_Window window(440, 420, info.dialogTitle);
  auto* menu = new Fl_Menu_Bar(0, 0, window.w(), 25);
  auto chooseDir = [&] { ChooseLDrawDir(state, settingsPath); };
  menu->add(
      "LDraw Dir...", 0, [](Fl_Widget*, void* data) { (*static_cast<decltype(chooseDir)*>(data))(); }, &chooseDir);

  Frame(5, 30, 430, 345, "Import a 3d file");
  auto* file = new Fl_Input(60, 55, 270, 25, "File");
  file->value(state.fileName.c_str());
  auto* browse = new Fl_Button(340, 55, 85, 25, "Browser");

  Frame(15, 90, 410, 95, "Strategy");
  auto* strategy = MakeChoice(25, 110, 130, nullptr, StrategyEntries(), state.options.model);
  auto* flip = new Fl_Check_Button(170, 110, 110, 25, "Flip faces");
  flip->value(state.options.flipFaces);
  auto* single = new Fl_Check_Button(290, 110, 100, 25, "Single");
  single->value(state.options.singleObj);
  new Fl_Box(25, 145, 70, 25, "Min. Level");
  auto* level = new Fl_Slider(FL_HOR_NICE_SLIDER, 100, 145, 230, 25, nullptr);
  level->bounds(0, kLevelSliderMaximum);
  level->step(1);
  level->value(state.levelPosition);
  new Fl_Box(335, 145, 80, 25, "Max. Level");
  Fl_Group::current()->end();

  Frame(15, 190, 115, 75, "Heuristic");
  auto* volume = new Fl_Round_Button(25, 210, 100, 25, "Volume");
  volume->type(FL_RADIO_BUTTON);
  auto* quadrics = new Fl_Round_Button(25, 235, 100, 25, "Quadrics");
  quadrics->type(FL_RADIO_BUTTON);
  (state.volume ? volume : quadrics)->setonly();
  Fl_Group::current()->end();

  std::vector<std::string> counts;
  for (int n = 0; n < 256; ++n) counts.push_back(std::to_string(n));
  Frame(135, 190, 135, 75, "Max. Neighbors");
  auto* degree = MakeChoice(145, 215, 110, nullptr, counts, state.options.maxDegree);
  Fl_Group::current()->end();
  Frame(275, 190, 150, 75, "Máx. Dependencies");
  auto* dependencies = MakeChoice(290, 215, 110, nullptr, counts, state.options.maxDependencies);
  Fl_Group::current()->end();

  Frame(15, 270, 410, 95, "Control Quadric");
  auto* pair = new Fl_Check_Button(25, 290, 150, 25, "Pair-contraction");
  pair->value(state.pairContraction);
  auto* quality = new Fl_Check_Button(25, 315, 150, 25, "Preserve Quality");
  quality->value(state.options.meshQuality);
  auto* boundary = new Fl_Check_Button(25, 340, 150, 25, "Preserve Boundary");
  boundary->value(state.options.checkBounds);
  auto* grid = MakeChoice(260, 290, 100, "Grid", GridEntries(), state.gridEntry);
  Fl_Group::current()->end();
  Fl_Group::current()->end();  // "Import a 3d file"

  auto applyEnabling = [&] {
    state.volume = volume->value();
    state.pairContraction = pair->value();
    for (Fl_Widget* widget : {static_cast<Fl_Widget*>(pair), static_cast<Fl_Widget*>(quality),
                              static_cast<Fl_Widget*>(boundary)})
      Enable(widget, state.QuadricControlsEnabled());
    Enable(grid, state.GridEnabled());
  };
  auto chooseFile = [&] {
    if (auto name = ChooseFileDialog("Open file", info.filterName, info.filterPattern, file->value(), false))
      file->value(name->c_str());
  };
  OnChange(volume, &applyEnabling);
  OnChange(quadrics, &applyEnabling);
  OnChange(pair, &applyEnabling);
  OnChange(browse, &chooseFile);
  Buttons buttons(window, "Import", [&] {
    state.fileName = file->value();
    state.levelPosition = static_cast<int>(level->value());
    if (strategy->value() >= 0) state.options.model = strategy->value();
    if (degree->value() >= 0) state.options.maxDegree = degree->value();
    if (dependencies->value() >= 0) state.options.maxDependencies = dependencies->value();
    state.options.flipFaces = flip->value();
    state.options.singleObj = single->value();
    if (!state.volume) {
      state.options.meshQuality = quality->value();
      state.options.checkBounds = boundary->value();
    }
    if (grid->value() >= 0) state.gridEntry = grid->value();
    std::string problem;
    const std::optional<ImportOptions> options = state.Confirm(problem);
    if (!options) {
      fl_alert("%s", problem.c_str());
      return false;
    }
    confirmed = *options;
    return true;
  });
  window.end();
  applyEnabling();
  window.set_modal();
  window.show();
  buttons.ok->take_focus();
  if (format == ModelFormat::FmtLDraw && !IsValidLDrawDir(state.options.ldrawDir)) chooseDir();
  while (window.shown()) Fl::wait();
  return buttons.confirmed;
}

bool RunOcclusionDialog(OcclusionDialogState& state) {
  Fl_Window window(330, 170, "Find Occluded Parts");
  auto* regular = new Fl_Round_Button(20, 10, 100, 25, "Regular");
  regular->type(FL_RADIO_BUTTON);
  auto* random = new Fl_Round_Button(130, 10, 100, 25, "Random");
  random->type(FL_RADIO_BUTTON);
  (state.settings.isRegular ? regular : random)->setonly();
  auto* iterations = MakeChoice(160, 45, 150, "Max iterations", IterationEntries(), state.iterationsEntry);
  auto* colours = MakeChoice(160, 80, 150, "Max colors used", ColourEntries(), state.coloursEntry);
  Buttons buttons(window, "OK", [&] {
    state.settings.isRegular = regular->value();
    state.iterationsEntry = std::max(iterations->value(), 0);
    state.coloursEntry = std::max(colours->value(), 0);
    state.Confirm();
    return true;
  });
  window.end();
  RunModal(window, buttons.ok);
  return buttons.confirmed;
}

void RunAboutBox() {
  Fl_Window window(360, 190, "About Trevalis Representation");
  auto* title = new Fl_Box(10, 10, 340, 30, "TREVALIS REPRESENTATION");
  title->labelfont(FL_HELVETICA_BOLD);
  title->labelsize(18);
  const std::string version = VersionLine();
  new Fl_Box(10, 45, 340, 25, version.c_str());
  new Fl_Box(10, 70, 340, 25, "Progressive meshes of triangle fans");
  auto* home = new Fl_Button(30, 105, 300, 25, kHomePageAddress);
  home->box(FL_FLAT_BOX);
  home->labelcolor(FL_BLUE);
  home->callback([](Fl_Widget*, void*) { OpenInBrowser(kHomePageAddress); });
  auto* ok = new Fl_Return_Button(135, 150, 90, 25, "OK");
  ok->callback([](Fl_Widget* button, void*) { button->window()->hide(); });
  window.end();
  RunModal(window, ok);
}

}  // namespace qx
