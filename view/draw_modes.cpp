#include "view/draw_modes.h"

#include "platform/gl_api.h"

namespace qx {

bool IsHiddenMode(int drawMode) { return drawMode == kDrawHiddenLines || drawMode == kDrawHiddenPoints; }

void DrawWithHiddenSurfaces(int drawMode, const std::function<void()>& drawScene) {
  if (!IsHiddenMode(drawMode)) {
    drawScene();
    return;
  }
  glPushAttrib(GL_POLYGON_BIT | GL_DEPTH_BUFFER_BIT | GL_LIGHTING_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_POLYGON_OFFSET_FILL);
  glPolygonOffset(0.85f, 0.0f);
  glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
  drawScene();
  glDisable(GL_POLYGON_OFFSET_FILL);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glDepthMask(GL_FALSE);
  glPolygonMode(GL_FRONT_AND_BACK, drawMode == kDrawHiddenLines ? GL_LINE : GL_POINT);
  drawScene();
  glPopAttrib();
}

}  // namespace qx
