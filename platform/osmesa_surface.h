// OsMesaSurface: a GL surface without a window. OSMesa renders into a block
// of memory owned by the surface, so pictures can be drawn and read back
// with no display at all (tests, the command-line renderer, a headless
// editor).
//
// The context is single-buffered: the picture is drawn into, and read back
// from, the front buffer. Depth, stencil and accumulation buffers live in
// the context; colour is 8 bits per channel, with or without alpha.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gl_surface.h"

struct osmesa_context;

namespace qx {

class OsMesaSurface : public GLSurface {
 public:
  // A surface of the given size (negative sizes count as 0); no context yet.
  OsMesaSurface(int width, int height);
  ~OsMesaSurface() override;
  OsMesaSurface(const OsMesaSurface&) = delete;
  OsMesaSurface& operator=(const OsMesaSurface&) = delete;

  int Width() const override { return width_; }
  int Height() const override { return height_; }

  // Tries the four pixel-format attempts in order (alpha 4/0 × stencil 1/0),
  // each with a 32-bit depth buffer (or the deepest offered) and 16 bits per
  // channel of accumulation buffer.
  bool CreateContext() override;
  void DestroyContext() override;
  bool HasContext() const override { return context_ != nullptr; }
  bool MakeCurrent() override;
  bool Resize(int width, int height) override;
  // Only finishes the frame: the picture is already in memory.
  void Present(bool once) override;
  GLProc GetProcAddress(const char* name) const override;
  const PixelFormat& Format() const override { return format_; }

  // The attempt that created the context (index into kPixelFormatAttempts),
  // or -1 without a context.
  int ChosenAttempt() const { return chosenAttempt_; }

 private:
  bool TryAttempt(const PixelFormatAttempt& attempt);
  void ReadFormat();

  int width_;
  int height_;
  osmesa_context* context_ = nullptr;
  unsigned int colourFormat_ = 0;
  int chosenAttempt_ = -1;
  PixelFormat format_;
  // Four bytes per pixel whatever the format: enough for RGB and RGBA. OSMesa
  // needs a buffer of at least 1 × 1.
  std::vector<uint8_t> pixels_;
};

}  // namespace qx
