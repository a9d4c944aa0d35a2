// vermelle: the editor. With a display it opens the scene window, runs the
// command line's batch in it and then stays interactive (or quits with -q);
// without one it runs the same batch offscreen and quits.
#include <FL/Fl.H>

#include <cstdio>
#include <cstdlib>

#include "app/batch_run.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/editor_window.h"
#include "app/offscreen_host.h"
#include "common/diagnostics.h"
#include "common/settings.h"
#include "fan/fan_record.h"
#include "platform/fltk_dialogs.h"
#include "platform/osmesa_surface.h"
#include "stream/registry.h"

namespace {

// The offscreen picture's size when -w / -h do not say: the view of the
// window as it opens.
constexpr int kDefaultViewWidth = 520;
constexpr int kDefaultViewHeight = 510 - qx::EditorWindow::kMenuHeight - qx::EditorWindow::kStatusHeight;

// The end of every run: the class registry emptied, and fan records still
// alive reported (one may legitimately remain in a static cache).
void ReportUnusedRecords() {
  qx::ClearClassRegistry();
  const int alive = qx::FanRecordsAlive();
  if (alive >= 2) qx::ShowError("Unused nodes: %d", alive);
}

int RunWithWindow(const qx::CommandLine& line) {
  qx::InstallFltkMessageBoxes();
  // FLTK's own file chooser everywhere, rather than whichever desktop
  // toolkit happens to be installed.
  Fl::option(Fl::OPTION_FNFC_USES_GTK, false);
  int status = 0;
  {
    qx::EditorWindow editor(line.soft);
    editor.Scene().SetSettingsFile(qx::SettingsFilePath());
    editor.ShowAndAttach();
    if (line.help) qx::ShowMessageBox("Help", qx::kUsageText);
    if (line.width || line.height)
      editor.SetClientSize(line.width.value_or(editor.Scene().Surface()->Width()),
                           line.height.value_or(editor.Scene().Surface()->Height()));
    qx::RunBatch(editor.Scene(), line, false);
    editor.AttachMenuBar();
    if (line.quit) editor.Scene().Execute(qx::kCmdExit, true);
    if (editor.shown()) status = Fl::run();
  }
  ReportUnusedRecords();
  return status;
}

int RunWithoutDisplay(const qx::CommandLine& line) {
  if (line.help) std::fputs(qx::kUsageText, stdout);
  if (line.fileName.empty() || !line.HasBatchWork()) {
    std::fprintf(stderr,
                 "vermelle: no display to open a window on; give a file with batch options (-s, -ppm, -rx …) "
                 "or use qxtool\n");
    return 1;
  }
  qx::OffscreenHost host;
  qx::OsMesaSurface surface(line.width.value_or(kDefaultViewWidth), line.height.value_or(kDefaultViewHeight));
  qx::BatchResult result;
  {
    qx::SceneWindow window(true, host);
    window.SetSettingsFile(qx::SettingsFilePath());
    if (!window.Attach(&surface)) return 1;
    result = qx::RunBatch(window, line, true);
  }
  ReportUnusedRecords();
  if (result.files == 0) std::fprintf(stderr, "vermelle: %s names no file of a known type\n", line.fileName.c_str());
  return result.files > 0 && result.failedLoads == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  qx::InstallMathErrorHandler();
  const qx::CommandLine line = qx::ParseCommandLine(qx::CommandLineTokens(argc, argv));
  return qx::DisplayAvailable() ? RunWithWindow(line) : RunWithoutDisplay(line);
}
