#include "view/overlays.h"

#include "platform/gl_api.h"

namespace qx {
namespace {

// The six faces of the unit cube −0.5 … 0.5, four corners each.
constexpr float kCubeFaces[6][4][3] = {
    {{-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, -0.5f}, {-0.5f, 0.5f, -0.5f}},
    {{-0.5f, -0.5f, 0.5f}, {0.5f, -0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {-0.5f, 0.5f, 0.5f}},
    {{-0.5f, -0.5f, -0.5f}, {-0.5f, 0.5f, -0.5f}, {-0.5f, 0.5f, 0.5f}, {-0.5f, -0.5f, 0.5f}},
    {{0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}, {0.5f, -0.5f, 0.5f}},
    {{-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, 0.5f}, {-0.5f, -0.5f, 0.5f}},
    {{-0.5f, 0.5f, -0.5f}, {0.5f, 0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}, {-0.5f, 0.5f, 0.5f}},
};

}  // namespace

void DrawAxisCross(float length) {
  glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
  glDisable(GL_LIGHTING);
  glBegin(GL_LINES);
  glColor3f(1, 0, 0);
  glVertex3f(0, 0, 0);
  glVertex3f(length, 0, 0);
  glColor3f(0, 1, 0);
  glVertex3f(0, 0, 0);
  glVertex3f(0, length, 0);
  glColor3f(0, 0, 1);
  glVertex3f(0, 0, 0);
  glVertex3f(0, 0, length);
  glEnd();
  glPopAttrib();
}

void DrawSelectionBox(Vector centre, Vector half) {
  glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glDisable(GL_POLYGON_STIPPLE);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  glColor3f(0, 0, 0);
  glPushMatrix();
  glTranslatef(centre.x, centre.y, centre.z);
  glScalef(2 * half.x, 2 * half.y, 2 * half.z);
  for (const auto& face : kCubeFaces) {
    glBegin(GL_POLYGON);
    for (const auto& corner : face) glVertex3fv(corner);
    glEnd();
  }
  glPopMatrix();
  glPopAttrib();
}

std::array<uint8_t, 128> CheckerboardStipple() {
  std::array<uint8_t, 128> pattern{};
  for (size_t row = 0; row < 32; ++row)
    for (size_t byte = 0; byte < 4; ++byte) pattern[4 * row + byte] = row % 2 == 0 ? 0xAA : 0x55;
  return pattern;
}

}  // namespace qx
