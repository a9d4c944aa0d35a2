// SceneWindow: the editor's one window, as the program sees it — a scene
// view that owns the current scene (through its progressive loader), the view
// settings of section "WinScene", the tolerance track bar and every command
// of the menus, accelerators, dropped files and command line.
//
// Commands are plain calls: Execute(id, batch) does what the menu item does,
// with `batch` set by the command line and by dropped files to skip every
// dialog. What needs the platform window (title, status bar, dialogs) goes
// through a WindowHost, so the commands run and are tested without a display.
//
//   command ──► Execute ──► scene / view settings ──► SaveSettings ──► redraw
//
// Threads: everything here runs on the window thread. A load at an emulated
// rate decodes on the loader's threads into the scene being drawn; commands
// that change the scene refuse to run until it has finished.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/fly_through.h"
#include "app/menus.h"
#include "app/window_host.h"
#include "common/settings.h"
#include "scene/progressive_loader.h"
#include "view/scene_view.h"

namespace qx {

class QXScene;

class SceneWindow : public SceneView {
 public:
  // The file name (and title) of a window without a scene.
  static constexpr char kNoSceneName[] = "GLQX";
  // The track bar's range: tolerance = position ÷ maximum.
  static constexpr int kTrackMaximum = 1024;
  // The progress pump looks at the keyboard at most this often.
  static constexpr std::chrono::milliseconds kProgressInterval{250};

  // Fills the class registry; the view settings take their defaults until a
  // settings file is given. `host` must outlive the window.
  SceneWindow(bool soft, WindowHost& host);
  ~SceneWindow() override;

  // --- Settings ("WinScene"). ---
  // Remembers the settings file and loads the view settings from it.
  void SetSettingsFile(const std::string& path);
  const std::string& SettingsPath() const { return settingsPath_; }
  // Reads the view settings and applies them at once.
  void LoadSettings();
  // Writes the twelve keys (after every command).
  void SaveSettings();
  const ViewSettings& Settings() const { return settings_; }

  // --- The scene. ---
  // Stops any load, releases the current scene and shows `scene` (may be
  // none) under `path`, which becomes the title.
  void SetScene(std::unique_ptr<QXScene> scene, const std::string& path);
  // Opens a scene file: at once (rate 0) or at `rate` bytes per second while
  // the picture refines. False, with one message naming the file and the
  // reason, when it cannot be read.
  bool LoadFile(const std::string& path, int32_t rate);
  // Waits for a load at an emulated rate to end.
  void WaitForLoad() { loader_.WaitForLoad(); }
  QXScene* CurrentScene() const { return loader_.Scene(); }
  const std::string& FileName() const { return loader_.FileName(); }
  // True while the current scene is still being read.
  bool Loading() const;

  // --- Commands. ---
  // Runs command `id`; `batch` skips dialogs (the file name is the window's).
  // Returns false when the command did nothing or failed (it has then said
  // why, except for commands refused because there is no scene or it is
  // loading). Settings are written and the view redrawn in every case.
  bool Execute(int id, bool batch);
  void OnCommand(int id) override { Execute(id, false); }
  // What the menu rules need, for the menus' check marks and greyed items.
  MenuContext MenuState() const;
  // The progress pump of long work: false when the user asked to stop.
  bool ProgressStep(float fraction);
  // The text last put in the status bar (kept while the bar is hidden).
  const std::string& StatusText() const { return statusText_; }

  // --- Events (GLWindow). ---
  void SetStatus(const char* format, ...) override __attribute__((format(printf, 2, 3)));
  void OnTimer() override;
  void OnMouseMove(int x, int y) override;
  void OnMouseButton(MouseMessage message, int x, int y) override;
  void OnWheel(int x, int y, int delta) override;
  void OnDropFiles(const std::vector<std::string>& files) override;

 private:
  // Shows the loader's scene once its header thread has published it.
  void SyncScene();
  // True when a scene-changing command may run now.
  bool SceneEditable() const;
  bool ExecuteViewCommand(int id);
  bool ExecuteLightCommand(int id);
  bool ExecuteSceneCommand(int id, bool batch);
  bool ExecuteSelectionCommand(int id);
  bool Open(bool batch);
  bool Save(bool batch);
  bool Import(int id, bool batch);
  bool SaveImage();
  bool ChooseBackColour();
  void ApplyShadingLevel(float level);
  void SetSelective(bool on);
  void GotoSelected();
  void RemoveSelected();
  bool RunSceneTool(int id);
  bool FindOccludedParts(int id, bool batch);
  // After a tool changed or freed meshes: nothing drawn before may be reused.
  void ForgetDrawnMeshes();
  void FlyTick();
  void ReadTrackBar();
  void DragLights(int x, int y);

  WindowHost& host_;
  ProgressiveLoader loader_;
  std::atomic<bool> redrawRequested_{false};
  std::string settingsPath_;
  ViewSettings settings_;
  std::string statusText_;
  bool selective_ = false;
  bool selectionOnly_ = false;
  bool draggingLights_ = false;
  int lightX_ = 0, lightY_ = 0;
  FlyThrough fly_;
  std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace qx
