#include "platform/fltk_soft_view.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include "view/gl_window.h"

namespace qx {

FltkSoftView::FltkSoftView(int x, int y, int width, int height)
    : Fl_Widget(x, y, width, height), memory_(width, height) {}

bool FltkSoftView::CreateContext() { return memory_.Resize(w(), h()) && memory_.CreateContext(); }

void FltkSoftView::Present(bool /*once*/) {
  if (!memory_.MakeCurrent()) return;
  frameWidth_ = w();
  frameHeight_ = h();
  frame_.resize(static_cast<size_t>(frameWidth_) * static_cast<size_t>(frameHeight_) * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_FRONT);
  glReadPixels(0, 0, frameWidth_, frameHeight_, GL_RGB, GL_UNSIGNED_BYTE, frame_.data());
  if (!drawing_) redraw();
}

void FltkSoftView::draw() {
  drawing_ = true;
  if (view_ && view_->IsDirty()) view_->Paint();
  drawing_ = false;
  if (frame_.empty() || frameWidth_ != w() || frameHeight_ != h()) {
    fl_rectf(x(), y(), w(), h(), FL_BLACK);
    return;
  }
  // OpenGL's rows run bottom-up: start at the last row and step backwards.
  const int rowBytes = frameWidth_ * 3;
  fl_draw_image(frame_.data() + static_cast<size_t>(frameHeight_ - 1) * static_cast<size_t>(rowBytes), x(), y(),
                frameWidth_, frameHeight_, 3, -rowBytes);
}

int FltkSoftView::handle(int event) {
  if (view_ && DeliverViewEvent(*this, *view_, event, accelerators_)) return 1;
  return Fl_Widget::handle(event);
}

void FltkSoftView::resize(int x, int y, int width, int height) {
  Fl_Widget::resize(x, y, width, height);
  if (view_) view_->OnSize(width, height);
}


}  // namespace qx
