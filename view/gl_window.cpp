#include "view/gl_window.h"

#include <algorithm>
#include <cstdio>

#include "common/diagnostics.h"
#include "platform/gl_api.h"
#include "view/draw_modes.h"
#include "view/overlays.h"

namespace qx {
namespace {

// Mouse moves wrap at a full turn, so one jump of the pointer can never spin
// the view by more than 360 degrees.
constexpr int kDragWrap = 360;
// Length of the axis cross the base Draw shows.
constexpr float kBaseAxisLength = 10;

// One step of the antialiasing schedule: a jittered pass accumulated with
// `operation`, or (jitter unused) a return of the accumulated picture.
struct AccumulationStep {
  int step;
  int jitterX;  // in units of 2 / (3 · width)
  int jitterY;  // in units of 2 / (3 · height)
  GLenum operation;
  float value;
};

constexpr float kNinth = 1.0f / 9.0f;
// Steps 0–5 gather four samples, returned at step 7 scaled by 9/4; steps
// 20–28 add five more, returned at step 30 as the nine-sample picture.
constexpr AccumulationStep kAccumulationSteps[] = {
    {0, 0, 0, GL_LOAD, kNinth},   {1, 1, 0, GL_ACCUM, kNinth},  {3, 0, 1, GL_ACCUM, kNinth},
    {5, 1, 1, GL_ACCUM, kNinth},  {7, 0, 0, GL_RETURN, 2.25f},  {20, 2, 0, GL_ACCUM, kNinth},
    {22, 0, 2, GL_ACCUM, kNinth}, {24, 2, 1, GL_ACCUM, kNinth}, {26, 1, 2, GL_ACCUM, kNinth},
    {28, 2, 2, GL_ACCUM, kNinth}, {30, 0, 0, GL_RETURN, 1.0f},
};

const AccumulationStep* FindAccumulationStep(int step) {
  for (const AccumulationStep& entry : kAccumulationSteps)
    if (entry.step == step) return &entry;
  return nullptr;
}

std::array<int, 4> CurrentViewport() {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  return {viewport[0], viewport[1], viewport[2], viewport[3]};
}

}  // namespace

GLWindow::GLWindow(bool soft) : soft_(soft), drawMode_(GL_FILL) { camera_.Reset(); }

GLWindow::~GLWindow() {
  if (state_ == WindowState::kAttached) GLWindow::Attach(nullptr);
}

void GLWindow::SetStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatStatus(format, args);
  va_end(args);
}

void GLWindow::FormatStatus(const char* format, va_list args) { std::vsnprintf(status_, sizeof status_, format, args); }

bool GLWindow::Attach(GLSurface* surface) {
  if (surface && state_ == WindowState::kAttached) Attach(nullptr);
  bool attached = true;
  if (surface) {
    surface_ = surface;
    state_ = WindowState::kAttached;
    if (surface_->CreateContext() && surface_->MakeCurrent()) {
      extensions_ = LoadExtensions([this](const char* name) { return surface_->GetProcAddress(name); });
      ApplyStoredState();
      OnSize(surface_->Width(), surface_->Height());
      surface_->StartTimer(kTimerPeriodMs);
    } else {
      ShowMessageBox("Error", "ChoosePixelFormat failed");
      attached = false;
    }
  } else if (surface_) {
    surface_->StopTimer();
    surface_->DestroyContext();
    surface_ = nullptr;
    extensions_ = {};
    state_ = WindowState::kDestroyed;
  }
  camera_.Reset();
  return attached;
}

void GLWindow::ApplyStoredState() {
  SetCullFace(cullFace_);
  SetDrawMode(drawMode_);
  SetClearColour(clearColour_[0], clearColour_[1], clearColour_[2]);
}

bool GLWindow::MakeCurrent() { return surface_ && surface_->MakeCurrent(); }

void GLWindow::Invalidate() {
  if (surface_) surface_->Invalidate();
}

void GLWindow::OnSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (surface_) surface_->Resize(width, height);
  if (MakeCurrent()) glViewport(0, 0, width, height);
  camera_.width = static_cast<float>(width);
  camera_.height = static_cast<float>(height);
  camera_.aspect = height == 0 ? 1.0f : camera_.width / camera_.height;
  MarkDirty();
  Invalidate();
}

void GLWindow::SetCullFace(bool on) {
  cullFace_ = on;
  if (MakeCurrent()) on ? glEnable(GL_CULL_FACE) : glDisable(GL_CULL_FACE);
  MarkDirty();
  Invalidate();
}

void GLWindow::SetDrawMode(int drawMode) {
  drawMode_ = drawMode;
  if (MakeCurrent()) {
    glPointSize(2.0f);
    // The hidden modes draw filled faces whenever they are not inside the
    // two-pass wrapper (picking among them), so they keep GL_FILL.
    glPolygonMode(GL_FRONT_AND_BACK, IsHiddenMode(drawMode) ? GL_FILL : static_cast<GLenum>(drawMode));
  }
  MarkDirty();
  Invalidate();
}

void GLWindow::SetClearColour(float red, float green, float blue) {
  clearColour_ = {red, green, blue};
  if (MakeCurrent()) glClearColor(red, green, blue, 0.0f);
  MarkDirty();
  Invalidate();
}

void GLWindow::SetAntialiasing(bool on) {
  antialiasing_ = on;
  antialiasCounter_ = 0;
  MarkDirty();
  Invalidate();
}

void GLWindow::ApplyProjection(float jitterX, float jitterY) {
  const ClipDistances clip = ComputeClipDistances(camera_);
  camera_.nearPlane = clip.nearPlane;
  camera_.farPlane = clip.farPlane;
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(PickRegionMatrix().data());
  if (jitterX != 0 || jitterY != 0) glTranslatef(jitterX, jitterY, 0);
  glMultMatrixf(ProjectionMatrix(camera_.fov, camera_.aspect, clip.nearPlane, clip.farPlane).data());
  glMatrixMode(GL_MODELVIEW);
}

Matrix GLWindow::PickRegionMatrix() const {
  if (!pickRequest_) return IdentityMatrix();
  const std::array<int, 4> viewport = CurrentViewport();
  const float fromBottom = static_cast<float>(viewport[3] - pickY_);
  return PickMatrix(static_cast<float>(pickX_), fromBottom, kPickRegion, kPickRegion, viewport);
}

void GLWindow::Draw() {
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(ViewMatrix(camera_.eye, camera_.target).data());
  DrawAxisCross(kBaseAxisLength);
}

void GLWindow::DrawScene() {
  DrawWithHiddenSurfaces(drawMode_, [this] { Draw(); });
}

void GLWindow::Paint() {
  if (!MakeCurrent()) {
    pickRequest_ = false;
    return;
  }
  if (pickRequest_) {
    PaintPick();
    return;
  }
  if (!dirty_) {
    surface_->Present(false);
    return;
  }
  dirty_ = false;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  ApplyProjection(0, 0);
  DrawScene();
  antialiasCounter_ = 0;
  if (status_[0]) surface_->DrawStatusText(status_, {1 - clearColour_[0], 1 - clearColour_[1], 1 - clearColour_[2]});
  surface_->Present(true);
}

void GLWindow::PaintPick() {
  glSelectBuffer(pickBufferSize_, selectionBuffer_.data());
  glRenderMode(GL_SELECT);
  glInitNames();
  // Selection draws no pixels, so the buffers are left alone: a single-
  // buffered surface keeps showing the picture the pick was made on.
  ApplyProjection(0, 0);
  Draw();
  hitCount_ = glRenderMode(GL_RENDER);
  pickRequest_ = false;
}

int GLWindow::Pick(int x, int y, int size) {
  pickBufferSize_ = std::clamp(size, 0, kSelectionBufferSize);
  pickX_ = x;
  pickY_ = y;
  hitCount_ = 0;
  pickRequest_ = true;
  Invalidate();
  Paint();
  return hitCount_;
}

std::span<const uint32_t> GLWindow::SelectionBuffer() const {
  return std::span<const uint32_t>(selectionBuffer_.data(), static_cast<size_t>(pickBufferSize_));
}

void GLWindow::Accumulate(int first, int last) {
  if (last < 0) last = first;
  if (first > last || !MakeCurrent()) return;
  glReadBuffer(surface_->Format().doubleBuffer ? GL_BACK : GL_FRONT);
  for (int step = first; step <= last; ++step) RunAccumulationStep(step, step == last);
}

void GLWindow::RunAccumulationStep(int step, bool last) {
  const AccumulationStep* entry = FindAccumulationStep(step);
  if (!entry) return;
  if (entry->operation == GL_RETURN) {
    glAccum(GL_RETURN, entry->value);
    if (last) surface_->Present(true);
    return;
  }
  const float dx = camera_.width > 0 ? 2.0f / (3.0f * camera_.width) : 0.0f;
  const float dy = camera_.height > 0 ? 2.0f / (3.0f * camera_.height) : 0.0f;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  ApplyProjection(static_cast<float>(entry->jitterX) * dx, static_cast<float>(entry->jitterY) * dy);
  DrawScene();
  glAccum(entry->operation, entry->value);
}

void GLWindow::OnTimer() {
  if (antialiasing_) {
    if (antialiasCounter_ >= kAntialiasLastTick) return;
    ++antialiasCounter_;
    if (antialiasCounter_ >= kAntialiasFirstTick) Accumulate(antialiasCounter_ - kAntialiasFirstTick, -1);
  }
  if (EaseTarget(camera_.target, camera_.goal)) {
    MarkDirty();
    Invalidate();
  }
}

void GLWindow::OnMouseButton(MouseMessage message, int x, int y) {
  if (message == MouseMessage::kLeftDown) {
    dragging_ = true;
    lastX_ = x;
    lastY_ = y;
  } else if (message == MouseMessage::kLeftUp) {
    dragging_ = false;
  }
}

void GLWindow::OnMouseMove(int x, int y) {
  if (dragging_) DragCamera(x, y);
}

void GLWindow::DragCamera(int x, int y) {
  const float dx = static_cast<float>((x - lastX_) % kDragWrap);
  const float dy = static_cast<float>((y - lastY_) % kDragWrap);
  if (surface_ && surface_->KeyHeld(HostKey::kControl))
    Orbit(-0.2f * dx, 0.2f * dy, camera_.goal, camera_.eye);  // look around the eye
  else if (surface_ && surface_->KeyHeld(HostKey::kAlt))
    Orbit(dx, dy, camera_.eye, camera_.goal, &camera_.fov);  // zoom
  else
    Orbit(dx, dy, camera_.eye, camera_.goal);
  camera_.target = camera_.goal;
  lastX_ = x;
  lastY_ = y;
  MarkDirty();
  Invalidate();
}

}  // namespace qx
