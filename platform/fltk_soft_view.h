// The editor's view without hardware OpenGL (the -soft start option): the
// picture is rendered by OSMesa into memory and copied onto an ordinary FLTK
// widget, which also delivers the view's events.
#pragma once

#include <FL/Fl_Widget.H>

#include <cstdint>
#include <vector>

#include "platform/fltk_events.h"
#include "platform/osmesa_surface.h"
#include "view/gl_window.h"

namespace qx {

class GLWindow;

class FltkSoftView : public Fl_Widget, public GLSurface, public ViewWidget {
 public:
  FltkSoftView(int x, int y, int width, int height);
  ~FltkSoftView() override;


  // GLSurface: the OSMesa surface's, with the window services of a widget.
  int Width() const override { return w(); }
  int Height() const override { return h(); }
  bool CreateContext() override;
  void DestroyContext() override { memory_.DestroyContext(); }
  bool HasContext() const override { return memory_.HasContext(); }
  bool MakeCurrent() override { return memory_.MakeCurrent(); }
  bool Resize(int width, int height) override { return memory_.Resize(width, height); }
  // Copies the finished picture for the next draw() of the widget.
  void Present(bool once) override;
  GLProc GetProcAddress(const char* name) const override { return memory_.GetProcAddress(name); }
  const PixelFormat& Format() const override { return memory_.Format(); }
  // Asks for a picture: the view paints on the next turn of the event loop,
  // outside FLTK's drawing of the window (a paint updates the status bar,
  // which must not change while the window is being drawn).
  void Invalidate() override;
  void StartTimer(int periodMs) override { StartTicks(periodMs); }
  void StopTimer() override { StopTicks(); }
  bool KeyHeld(HostKey key) const override { return ViewKeyHeld(*this, key); }

  // Fl_Widget.
  void draw() override;
  int handle(int event) override;
  void resize(int x, int y, int width, int height) override;

 private:

  static void PaintNow(void* data);

  bool paintPending_ = false;
  OsMesaSurface memory_;
  // The last presented picture: rows of RGB bytes, bottom row first.
  std::vector<uint8_t> frame_;
  int frameWidth_ = 0, frameHeight_ = 0;
};

}  // namespace qx
