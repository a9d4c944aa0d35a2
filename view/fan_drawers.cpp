#include "view/fan_drawers.h"

#include "fan/pck.h"
#include "platform/gl_api.h"

namespace qx {
namespace {

void Normal(Vector n) { glNormal3f(n.x, n.y, n.z); }
void Vertex(Vector p) { glVertex3f(p.x, p.y, p.z); }

}  // namespace

void DrawFanSmooth(const QXPck& mesh, const Fan& fan) {
  const FanVertex& centre = mesh.vertices[fan.centre];
  for (int i = fan.start + 1; i <= fan.end; ++i) {
    const FanVertex& a = mesh.vertices[fan.Corner1(i)];
    const FanVertex& b = mesh.vertices[fan.Corner2(i)];
    Normal(centre.normal);
    Vertex(centre.position);
    Normal(a.normal);
    Vertex(a.position);
    Normal(b.normal);
    Vertex(b.position);
  }
}

void DrawFanFlat(const QXPck& mesh, const Fan& fan) {
  const Vector centre = mesh.vertices[fan.centre].position;
  for (int i = fan.start + 1; i <= fan.end; ++i) {
    const Vector a = mesh.vertices[fan.Corner1(i)].position;
    const Vector b = mesh.vertices[fan.Corner2(i)].position;
    Normal(FlatNormal(centre, a, b));
    Vertex(centre);
    Vertex(a);
    Vertex(b);
  }
}

void FanDrawer::operator()(const Fan& fan) const {
  if (FanDrawnFlat(mesh_, fan.centre, shading_, level_))
    DrawFanFlat(mesh_, fan);
  else
    DrawFanSmooth(mesh_, fan);
}

}  // namespace qx
