#include "app/batch_run.h"

#include <chrono>
#include <cstdio>

#include "app/commands.h"
#include "app/scene_window.h"
#include "common/diagnostics.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

// Times one step and reports it when asked.
class StepClock {
 public:
  StepClock(const std::string& file, bool report) : file_(file), report_(report) {}
  template <class Step>
  bool Run(const char* name, Step step) {
    const auto start = std::chrono::steady_clock::now();
    const bool done = step();
    if (report_) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      PrintError("vermelle: %s: %s %s (%lld ms)\n", file_.c_str(), name, done ? "done" : "failed",
                 static_cast<long long>(ms.count()));
    }
    return done;
  }

 private:
  const std::string& file_;
  bool report_;
};

bool Rotate(SceneWindow& window, int command, int times) {
  bool done = true;
  for (int i = 0; i < times; ++i) done &= window.Execute(command, true);
  return done;
}

// One frame as the timer and a paint produce it, antialiased on request,
// then the picture saved beside the model.
bool CaptureImage(SceneWindow& window, bool antialias) {
  window.OnTimer();
  window.MarkDirty();
  window.Paint();
  if (antialias) {
    window.MakeCurrent();
    window.Accumulate(window.AntialiasCounter(), GLWindow::kLastAccumulationStep);
  } else {
    window.MarkDirty();
    window.Paint();
  }
  return window.Execute(kCmdSaveImage, true);
}

bool ProcessFile(SceneWindow& window, const CommandLine& line, const std::string& path, bool report) {
  StepClock clock(path, report);
  window.SetScene(nullptr, path);
  const bool loaded = clock.Run("load", [&] { return window.Execute(FileTypeCommand(path), true); });
  if (line.rotateX) clock.Run("rotate X", [&] { return Rotate(window, kCmdRotateX, line.rotateX); });
  if (line.rotateY) clock.Run("rotate Y", [&] { return Rotate(window, kCmdRotateY, line.rotateY); });
  if (line.rotateZ) clock.Run("rotate Z", [&] { return Rotate(window, kCmdRotateZ, line.rotateZ); });
  if (line.removeOccluded)
    clock.Run("remove occluded", [&] {
      return window.Execute(kCmdSelectOccluded, true) && window.Execute(kCmdRemoveSelected, true);
    });
  if (line.capture) clock.Run("image", [&] { return CaptureImage(window, line.antialias); });
  if (line.compact) clock.Run("compact", [&] { return window.Execute(kCmdCompact, true); });
  if (line.save) clock.Run("save", [&] { return window.Execute(kCmdSave, true); });
  return loaded;
}

}  // namespace

BatchResult RunBatch(SceneWindow& window, const CommandLine& line, bool reportProgress) {
  BatchResult result;
  if (line.fileName.empty()) return result;
  for (const std::string& path : ExpandFilePattern(line.fileName)) {
    ++result.files;
    if (!ProcessFile(window, line, path, reportProgress)) ++result.failedLoads;
  }
  return result;
}

}  // namespace qx
