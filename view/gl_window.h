// GLWindow: the OpenGL view object that every 3-D view derives from (the
// editor's scene window, the web viewer's view, the command-line renderer's
// offscreen view). It holds the window's GL state and camera and implements
// painting, picking, progressive antialiasing and the base mouse bindings;
// the platform window (a GLSurface) only delivers events and shows frames.
//
// Sixteen virtual operations, in this fixed slot order (derived classes
// replace most of them):
//    1 destructor          detaches from the surface
//    2 SetStatus           printf-style status text
//    3 OnTimer             the 40 ms tick: antialiasing steps, target easing
//    4 Draw                one picture with the projection already set
//    5 OnSize              viewport and aspect
//    6 OnMouseMove         orbit / look around / zoom while dragging
//    7 OnMouseButton       left button starts and ends dragging
//    8 OnWheel … 15 OnDropFiles   nothing in the base
//   16 Attach              creates (surface) or tears down (null) the context
//
// Painting. A paint clears, sets the projection and draws through the
// hidden-surface wrapper (draw_modes.h), then presents. Nothing changed since
// the last paint: the surface presents again without drawing. While idle
// with antialiasing on, the timer runs the accumulation steps one per tick
// from the 25th tick after a paint: nine jittered passes, the four-sample
// picture shown at step 7 and the nine-sample one at step 30.
//
// Picking. Pick(x, y) draws one frame in selection mode restricted to an
// 8 × 8 pixel region around (x, y) and leaves the hit records in the
// selection buffer (picking.h reads them).
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/gl_surface.h"
#include "view/camera.h"
#include "view/gl_extensions.h"

namespace qx {

enum class MouseMessage { kLeftDown, kLeftUp, kRightDown, kRightUp, kMiddleDown, kMiddleUp };

// Where the window is in its life: not yet attached to a surface, attached
// (it may still lack a context when no pixel format fitted), or detached.
enum class WindowState { kNotCreated, kAttached, kDestroyed };

class GLWindow {
 public:
  static constexpr int kStatusSize = 160;
  static constexpr int kSelectionBufferSize = 4096;
  static constexpr int kTimerPeriodMs = 40;
  // Side of the square pixel region a pick looks at.
  static constexpr float kPickRegion = 8;
  // The antialiasing steps run from this idle tick on, and stop at this count.
  static constexpr int kAntialiasFirstTick = 25;
  static constexpr int kAntialiasLastTick = 100;
  // The last step of the nine-sample picture (Accumulate(0, kLastAccumulationStep)).
  static constexpr int kLastAccumulationStep = 31;

  // `soft`: rendering goes into memory rather than a double-buffered window.
  // Aspect 1, size 0, solid draw mode, no culling, no antialiasing, black
  // clear colour, camera reset.
  explicit GLWindow(bool soft);
  GLWindow(const GLWindow&) = delete;
  GLWindow& operator=(const GLWindow&) = delete;

  // --- The sixteen virtual operations, in slot order. ---
  virtual ~GLWindow();
  virtual void SetStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void OnTimer();
  // The base loads the view matrix and draws the axis cross of length 10.
  virtual void Draw();
  virtual void OnSize(int width, int height);
  virtual void OnMouseMove(int x, int y);
  virtual void OnMouseButton(MouseMessage message, int x, int y);
  virtual void OnWheel(int /*x*/, int /*y*/, int /*delta*/) {}
  virtual void OnChar(int /*code*/, int /*x*/, int /*y*/) {}
  virtual void OnKeyDown(int /*code*/, int /*flags*/) {}
  virtual void OnKeyUp(int /*code*/, int /*flags*/) {}
  virtual void OnInitMenu(void* /*menu*/) {}
  virtual void OnCommand(int /*id*/) {}
  virtual void OnNotify(int /*id*/, void* /*header*/) {}
  virtual void OnDropFiles(const std::vector<std::string>& /*files*/) {}
  // With a surface: remembers it, creates the context (on failure the
  // message "ChoosePixelFormat failed" and false: the window lives on without
  // a context and paints nothing), loads the extension table, applies the
  // stored GL state, calls OnSize with the surface's size and starts the
  // 40 ms timer. With null: stops the timer, destroys the context and forgets
  // the surface. Either way the camera is reset afterwards.
  virtual bool Attach(GLSurface* surface);

  // --- Painting. ---
  // The paint handler: see the top of this header. Nothing without a context.
  void Paint();
  // Draws the scene once through the hidden-surface wrapper of the draw mode.
  void DrawScene();
  // Runs the accumulation steps first … last (only `first` when last is
  // negative; nothing when first > last). A return step presents only when
  // it is the last step asked for. Steps without work do nothing.
  void Accumulate(int first, int last);
  // Draws one frame in selection mode around (x, y) (y counted from the top)
  // with a selection buffer of `size` words (at most kSelectionBufferSize).
  // Returns the hit count (negative when the buffer overflowed); the records
  // are in SelectionBuffer().
  int Pick(int x, int y, int size = kSelectionBufferSize);
  std::span<const uint32_t> SelectionBuffer() const;
  // True while the picking frame is being drawn.
  bool IsPicking() const { return pickRequest_; }

  // --- Setters; each marks the picture dirty and invalidates the window. ---
  void SetCullFace(bool on);
  // Sets the point size to 2 and, for the plain modes, the polygon mode.
  void SetDrawMode(int drawMode);
  void SetClearColour(float red, float green, float blue);
  void SetAntialiasing(bool on);

  bool CullFace() const { return cullFace_; }
  int DrawMode() const { return drawMode_; }
  const std::array<float, 3>& ClearColour() const { return clearColour_; }
  bool Antialiasing() const { return antialiasing_; }
  int AntialiasCounter() const { return antialiasCounter_; }

  // --- State. ---
  bool Soft() const { return soft_; }
  WindowState State() const { return state_; }
  bool HasContext() const { return surface_ && surface_->HasContext(); }
  GLSurface* Surface() const { return surface_; }
  const GLExtensions& Extensions() const { return extensions_; }
  const char* Status() const { return status_; }
  Camera& GetCamera() { return camera_; }
  const Camera& GetCamera() const { return camera_; }
  bool IsDirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }
  // Asks the platform window for a paint (nothing offscreen).
  void Invalidate();
  // Makes the context current; false without one.
  bool MakeCurrent();

 protected:
  // Formats into the status text (the base SetStatus).
  void FormatStatus(const char* format, va_list args);
  // Loads the projection of the camera (near and far recomputed), preceded
  // by the pick matrix while picking and offset by (jitterX, jitterY) in
  // normalised device units; leaves the model-view matrix mode selected.
  void ApplyProjection(float jitterX, float jitterY);
  // While picking, the matrix that maps the pick region onto the whole clip
  // volume (what an overlay drawn in clip coordinates must load as its
  // projection to be hit only where it is); identity otherwise.
  Matrix PickRegionMatrix() const;

 private:
  void ApplyStoredState();
  void PaintPick();
  void RunAccumulationStep(int step, bool last);
  void DragCamera(int x, int y);

  bool soft_;
  WindowState state_ = WindowState::kNotCreated;
  GLSurface* surface_ = nullptr;
  char status_[kStatusSize] = {};
  GLExtensions extensions_;
  Camera camera_;
  bool dirty_ = false;

  bool dragging_ = false;
  int lastX_ = 0;
  int lastY_ = 0;

  bool pickRequest_ = false;
  int hitCount_ = 0;
  int pickBufferSize_ = kSelectionBufferSize;
  int pickX_ = 0;
  int pickY_ = 0;
  std::array<uint32_t, kSelectionBufferSize> selectionBuffer_{};

  bool antialiasing_ = false;
  int antialiasCounter_ = 0;

  bool cullFace_ = false;
  int drawMode_;
  std::array<float, 3> clearColour_{0, 0, 0};
};

}  // namespace qx
