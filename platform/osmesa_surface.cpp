#include "platform/osmesa_surface.h"

#include <GL/osmesa.h>

#include <algorithm>

namespace qx {
namespace {

// Accumulation bits per channel asked for.
constexpr int kAccumBits = 16;

size_t BufferBytes(int width, int height) {
  return static_cast<size_t>(std::max(width, 1)) * static_cast<size_t>(std::max(height, 1)) * 4;
}

}  // namespace

OsMesaSurface::OsMesaSurface(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), pixels_(BufferBytes(width_, height_)) {}

OsMesaSurface::~OsMesaSurface() { DestroyContext(); }

bool OsMesaSurface::TryAttempt(const PixelFormatAttempt& attempt) {
  const GLenum colour = attempt.alphaBits > 0 ? OSMESA_RGBA : OSMESA_RGB;
  // OSMesa takes a stencil request as a bit count: one bit asked means the
  // smallest stencil it has (8 bits).
  const int attributes[] = {OSMESA_FORMAT,
                            static_cast<int>(colour),
                            OSMESA_DEPTH_BITS,
                            kRequestedDepthBits,
                            OSMESA_STENCIL_BITS,
                            attempt.stencilBits > 0 ? 8 : 0,
                            OSMESA_ACCUM_BITS,
                            kAccumBits,
                            OSMESA_PROFILE,
                            OSMESA_COMPAT_PROFILE,
                            0};
  context_ = OSMesaCreateContextAttribs(attributes, nullptr);
  if (!context_) return false;
  colourFormat_ = colour;
  if (MakeCurrent()) return true;
  DestroyContext();
  return false;
}

bool OsMesaSurface::CreateContext() {
  DestroyContext();
  for (size_t i = 0; i < kPixelFormatAttempts.size(); ++i)
    if (TryAttempt(kPixelFormatAttempts[i])) {
      chosenAttempt_ = static_cast<int>(i);
      ReadFormat();
      return true;
    }
  return false;
}

void OsMesaSurface::ReadFormat() {
  GLint alpha = 0, depth = 0, stencil = 0, accum = 0, doubleBuffer = 0;
  glGetIntegerv(GL_ALPHA_BITS, &alpha);
  glGetIntegerv(GL_DEPTH_BITS, &depth);
  glGetIntegerv(GL_STENCIL_BITS, &stencil);
  glGetIntegerv(GL_ACCUM_RED_BITS, &accum);
  glGetIntegerv(GL_DOUBLEBUFFER, &doubleBuffer);
  format_ = {alpha, depth, stencil, accum, doubleBuffer != 0};
}

void OsMesaSurface::DestroyContext() {
  if (!context_) return;
  if (OSMesaGetCurrentContext() == context_) OSMesaMakeCurrent(nullptr, nullptr, 0, 0, 0);
  OSMesaDestroyContext(context_);
  context_ = nullptr;
  chosenAttempt_ = -1;
  format_ = {};
}

bool OsMesaSurface::MakeCurrent() {
  if (!context_) return false;
  return OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, std::max(width_, 1), std::max(height_, 1)) ==
         GL_TRUE;
}

bool OsMesaSurface::Resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return true;
  std::vector<uint8_t> pixels(BufferBytes(width, height));
  const int oldWidth = width_, oldHeight = height_;
  pixels_.swap(pixels);
  width_ = width;
  height_ = height;
  if (!context_ || MakeCurrent()) return true;
  // The context refused the new buffer: go back to the old one.
  pixels_.swap(pixels);
  width_ = oldWidth;
  height_ = oldHeight;
  MakeCurrent();
  return false;
}

void OsMesaSurface::Present(bool /*once*/) {
  if (context_) glFinish();
}

GLProc OsMesaSurface::GetProcAddress(const char* name) const {
  return reinterpret_cast<GLProc>(OSMesaGetProcAddress(name));
}

}  // namespace qx
