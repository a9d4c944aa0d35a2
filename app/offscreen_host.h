// OffscreenHost: the host of a scene window with no window on screen — a run
// without a display, and tests. It keeps what the window would show, asks no
// questions (every dialog answers "cancel") and never sees a key held.
#pragma once

#include <algorithm>
#include <string>

#include "app/scene_window.h"
#include "app/window_host.h"

namespace qx {

class OffscreenHost : public WindowHost {
 public:
  void SetTitle(const std::string& title) override { title_ = title; }
  void SetStatusText(const std::string& text) override { statusText_ = text; }
  void ShowStatusBar(bool) override {}
  int TrackPosition() const override { return trackPosition_; }
  int TrackMaximum() const override { return SceneWindow::kTrackMaximum; }
  void SetTrackPosition(int position) override {
    trackPosition_ = std::clamp(position, 0, SceneWindow::kTrackMaximum);
  }
  void SetTrackSelection(int, int) override {}
  // Without a window the run ends with the batch anyway.
  void Close() override {}

  const std::string& Title() const { return title_; }
  const std::string& StatusText() const { return statusText_; }

 private:
  std::string title_;
  std::string statusText_;
  int trackPosition_ = 0;
};

}  // namespace qx
