#include "platform/fltk_soft_view.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include "view/gl_window.h"

namespace qx {

FltkSoftView::FltkSoftView(int x, int y, int width, int height)
    : Fl_Widget(x, y, width, height), memory_(width, height) {}

FltkSoftView::~FltkSoftView() { Fl::remove_timeout(PaintNow, this); }

void FltkSoftView::Invalidate() {
  if (paintPending_) return;
  paintPending_ = true;
  Fl::add_timeout(0, PaintNow, this);
}

void FltkSoftView::PaintNow(void* data) {
  auto* self = static_cast<FltkSoftView*>(data);
  self->paintPending_ = false;
  if (self->view_) self->view_->Paint();
}

bool FltkSoftView::CreateContext() { return memory_.Resize(w(), h()) && memory_.CreateContext(); }

void FltkSoftView::Present(bool /*once*/) {
  if (!memory_.MakeCurrent()) return;
  frameWidth_ = w();
  frameHeight_ = h();
  frame_.resize(static_cast<size_t>(frameWidth_) * static_cast<size_t>(frameHeight_) * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_FRONT);
  glReadPixels(0, 0, frameWidth_, frameHeight_, GL_RGB, GL_UNSIGNED_BYTE, frame_.data());
  redraw();
}

void FltkSoftView::draw() {
  if (frame_.empty() || frameWidth_ != w() || frameHeight_ != h()) {
    // No picture of this size yet: clear, and have one painted.
    fl_rectf(x(), y(), w(), h(), FL_BLACK);
    if (view_) {
      view_->MarkDirty();
      Invalidate();
    }
    return;
  }
  // OpenGL's rows run bottom-up: start at the last row and step backwards.
  const int rowBytes = frameWidth_ * 3;
  fl_draw_image(frame_.data() + static_cast<size_t>(frameHeight_ - 1) * static_cast<size_t>(rowBytes), x(), y(),
                frameWidth_, frameHeight_, 3, -rowBytes);
}

int FltkSoftView::handle(int event) {
  if (Deliver(*this, event)) return 1;
  return Fl_Widget::handle(event);
}

void FltkSoftView::resize(int x, int y, int width, int height) {
  Fl_Widget::resize(x, y, width, height);
  if (view_) view_->OnSize(width, height);
}


}  // namespace qx
