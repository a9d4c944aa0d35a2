#include "fan/fan_shading.h"

#include "fan/pck.h"

namespace qx {

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

}  // namespace qx
