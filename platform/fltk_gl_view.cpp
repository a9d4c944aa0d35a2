#include "platform/fltk_gl_view.h"

#include <FL/Fl.H>
#include <GL/glx.h>

#include "common/diagnostics.h"
#include "view/gl_window.h"

// FLTK remembers which of its contexts it made current and skips making it
// current again; once another kind of context (OSMesa) has been current that
// memory is wrong. This resets it (exported by libfltk_gl, not declared in
// its headers).
void fl_no_gl_context();

namespace qx {

FltkGlView::FltkGlView(int x, int y, int width, int height) : Fl_Gl_Window(x, y, width, height) {}

bool FltkGlView::CreateContext() {
  for (const PixelFormatAttempt& attempt : kPixelFormatAttempts) {
    const int wanted = FL_RGB | FL_DOUBLE | FL_DEPTH | FL_ACCUM | (attempt.alphaBits ? FL_ALPHA : 0) |
                       (attempt.stencilBits ? FL_STENCIL : 0);
    if (!can_do(wanted)) continue;
    mode(wanted);
    if (!shown()) show();
    hasContext_ = true;
    if (!MakeCurrent()) break;
    ReadFormat();
    return true;
  }
  hasContext_ = false;
  return false;
}

void FltkGlView::ReadFormat() {
  glGetIntegerv(GL_ALPHA_BITS, &format_.alphaBits);
  glGetIntegerv(GL_DEPTH_BITS, &format_.depthBits);
  glGetIntegerv(GL_STENCIL_BITS, &format_.stencilBits);
  glGetIntegerv(GL_ACCUM_RED_BITS, &format_.accumBits);
  format_.doubleBuffer = true;
}

void FltkGlView::DestroyContext() { hasContext_ = false; }

bool FltkGlView::MakeCurrent() {
  if (!hasContext_ || !shown()) return false;
  fl_no_gl_context();
  make_current();
  return context() != nullptr;
}

void FltkGlView::Present(bool once) {
  // Inside draw() FLTK swaps the buffers itself when draw() returns.
  if (drawing_) return;
  swap_buffers();
  if (!once) swap_buffers();
}

GLProc FltkGlView::GetProcAddress(const char* name) const {
  return reinterpret_cast<GLProc>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}


void FltkGlView::draw() {
  if (!view_) return;
  drawing_ = true;
  if (!valid()) view_->OnSize(w(), h());
  // FLTK asks for a picture only when one is due (a change, or the window
  // was uncovered), and the old back buffer may be gone: draw it afresh.
  view_->MarkDirty();
  view_->Paint();
  drawing_ = false;
}

int FltkGlView::handle(int event) {
  if (Deliver(*this, event)) return 1;
  return Fl_Gl_Window::handle(event);
}

void FltkGlView::resize(int x, int y, int width, int height) {
  Fl_Gl_Window::resize(x, y, width, height);
  if (view_) view_->OnSize(width, height);
}

}  // namespace qx
