// The editor's view on screen: an FLTK GL window that is the view's surface.
// The four pixel-format attempts become display-mode checks (alpha, stencil)
// on an RGB, double-buffered mode with depth and accumulation buffers; the
// first mode the display can do is used. Events go to the attached view.
#pragma once

#include <FL/Fl_Gl_Window.H>

#include "platform/fltk_events.h"
#include "platform/gl_surface.h"
#include "view/gl_window.h"

namespace qx {

class GLWindow;

class FltkGlView : public Fl_Gl_Window, public GLSurface {
 public:
  FltkGlView(int x, int y, int width, int height);

  // The view the events go to (none: events are ignored), and the window's
  // accelerator table, offered every key press first.
  void SetView(GLWindow* view) { view_ = view; }
  void SetAccelerators(AcceleratorFilter accelerators) { accelerators_ = std::move(accelerators); }

  // GLSurface.
  int Width() const override { return w(); }
  int Height() const override { return h(); }
  bool CreateContext() override;
  void DestroyContext() override;
  bool HasContext() const override { return hasContext_; }
  bool MakeCurrent() override;
  bool Resize(int, int) override { return true; }  // the window's buffers follow its size
  void Present(bool once) override;
  GLProc GetProcAddress(const char* name) const override;
  const PixelFormat& Format() const override { return format_; }
  void Invalidate() override { redraw(); }
  void StartTimer(int periodMs) override {
    timer_.Start(periodMs, [this] {
      if (view_) view_->OnTimer();
    });
  }
  void StopTimer() override { timer_.Stop(); }
  bool KeyHeld(HostKey key) const override { return ViewKeyHeld(*this, key); }

  // Fl_Gl_Window.
  void draw() override;
  int handle(int event) override;
  void resize(int x, int y, int width, int height) override;

 private:
  void ReadFormat();

  GLWindow* view_ = nullptr;
  AcceleratorFilter accelerators_;
  bool hasContext_ = false;
  bool drawing_ = false;
  ViewTimer timer_;
  PixelFormat format_;
};

}  // namespace qx
