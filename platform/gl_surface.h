// GLSurface: what a GL window draws on. It stands for the window of the
// platform (on screen, or a buffer in memory) and owns the OpenGL rendering
// context created on it: the view object (view/gl_window.h) attaches to one
// surface and calls nothing platform-specific besides these operations.
//
// Life of a surface as the view sees it:
//   CreateContext   choose a pixel format (PixelFormatAttempts, in order)
//                   and create the rendering context; false when no format
//                   fits (the view then has no context and paints nothing)
//   MakeCurrent     before any GL call on the window's thread
//   Resize          the drawing buffers follow the window size
//   Present         shows the finished frame
//   DestroyContext  when the view detaches
#pragma once

#include <array>
#include <string>

#include "platform/gl_api.h"

namespace qx {

// Keys whose current state the view asks while handling input.
enum class HostKey { kShift, kControl, kAlt, kUp, kDown, kLeft, kRight, kA, kZ, kEscape, kSpace };

// One pixel-format request: alpha and stencil wanted or not.
struct PixelFormatAttempt {
  int alphaBits;
  int stencilBits;
};

// The four requests tried in order; the first one the platform accepts wins.
inline constexpr std::array<PixelFormatAttempt, 4> kPixelFormatAttempts = {{{4, 1}, {4, 0}, {0, 1}, {0, 0}}};

// Depth bits asked for; a platform that offers fewer gives its best.
inline constexpr int kRequestedDepthBits = 32;

// The format a surface settled on, as the GL reports it.
struct PixelFormat {
  int alphaBits = 0;
  int depthBits = 0;
  int stencilBits = 0;
  int accumBits = 0;  // per colour channel
  bool doubleBuffer = false;
};

class GLSurface {
 public:
  virtual ~GLSurface() = default;

  // Size of the drawing area in pixels.
  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // Chooses the pixel format and creates the rendering context. False, and
  // no context, when every attempt fails.
  virtual bool CreateContext() = 0;
  virtual void DestroyContext() = 0;
  virtual bool HasContext() const = 0;
  // Makes the context current on the calling thread; false without one.
  virtual bool MakeCurrent() = 0;
  // Gives the drawing buffers the new size (an offscreen surface allocates
  // new memory); false when that fails, leaving the old size.
  virtual bool Resize(int width, int height) = 0;
  // Shows the finished frame: a double-buffered window swaps, twice when
  // `once` is false (a repaint without changes); an offscreen surface only
  // finishes drawing.
  virtual void Present(bool once) = 0;
  // An entry point of the current context by name; null when missing.
  virtual GLProc GetProcAddress(const char* name) const = 0;
  // The chosen format (meaningful once a context exists).
  virtual const PixelFormat& Format() const = 0;

  // Window services. A surface without a window on screen has none: it is
  // never invalidated, has no timer, no keys held and writes no text.
  virtual void Invalidate() {}
  virtual void StartTimer(int /*periodMs*/) {}
  virtual void StopTimer() {}
  virtual bool KeyHeld(HostKey /*key*/) const { return false; }
  // Writes the status text at the top left corner of the picture.
  virtual void DrawStatusText(const std::string& /*text*/, const std::array<float, 3>& /*rgb*/) {}
};

}  // namespace qx
