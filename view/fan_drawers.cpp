#include "view/fan_drawers.h"

#include "fan/pck.h"
#include "platform/gl_api.h"

namespace qx {
namespace {

void Normal(Vector n) { glNormal3f(n.x, n.y, n.z); }
void Vertex(Vector p) { glVertex3f(p.x, p.y, p.z); }

}  // namespace

FanShading ShadingForLevel(float shadingLevel) {
  if (shadingLevel >= 1.0f) return FanShading::kSmooth;
  if (shadingLevel <= 0.0f) return FanShading::kFlat;
  return FanShading::kByLevel;
}

Vector FlatNormal(Vector centre, Vector a, Vector b) {
  const Vector n = Cross(a - centre, b - centre);
  return Dot(n, n) >= 1e-20f ? n * (1 / Length(n)) : n;
}

bool FanIsFlat(const QXPck& mesh, VertexIndex centre, float shadingLevel) {
  return shadingLevel <= mesh.Record(centre).Metrics().crease;
}

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
  const bool flat =
      shading_ == FanShading::kFlat || (shading_ == FanShading::kByLevel && FanIsFlat(mesh_, fan.centre, level_));
  if (flat)
    DrawFanFlat(mesh_, fan);
  else
    DrawFanSmooth(mesh_, fan);
}

}  // namespace qx
