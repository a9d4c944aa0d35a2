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

class FltkGlView : public Fl_Gl_Window, public GLSurface, public ViewWidget {
 public:
  FltkGlView(int x, int y, int width, int height);


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
  void StartTimer(int periodMs) override { StartTicks(periodMs); }
  void StopTimer() override { StopTicks(); }
  bool KeyHeld(HostKey key) const override { return ViewKeyHeld(*this, key); }

  // Fl_Gl_Window.
  void draw() override;
  int handle(int event) override;
  void resize(int x, int y, int width, int height) override;

 private:
  void ReadFormat();

  bool hasContext_ = false;
  bool drawing_ = false;
  PixelFormat format_;
};

}  // namespace qx
