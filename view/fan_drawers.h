// The fan drawers of the immediate path: inside a glBegin(GL_TRIANGLES) …
// glEnd, each sends the triangles (centre, ring[i − 1], ring[i mod n]) of
// one fan with the normals its shading asks for.
//
// The shading level L chooses per fan:
//   L = 1  smooth: every corner with its stored vertex normal;
//   L = 0  flat: one normal per triangle, computed from its corners;
//   else   by level: flat when L ≤ the centre's `crease` (a fan around a
//          sharp vertex), smooth otherwise.
#pragma once

#include "common/geometry.h"
#include "fan/fan_walk.h"

namespace qx {

class QXPck;

enum class FanShading { kSmooth, kFlat, kByLevel };

// The drawer that level L asks for.
FanShading ShadingForLevel(float shadingLevel);

// The normal of the triangle (centre, a, b): (a − centre) × (b − centre),
// normalised when its squared length is at least 1e-20, else as it is.
Vector FlatNormal(Vector centre, Vector a, Vector b);

// Whether a fan around `centre` is drawn flat at level L in the by-level
// shading: L not greater than the centre's `crease`.
bool FanIsFlat(const QXPck& mesh, VertexIndex centre, float shadingLevel);

void DrawFanSmooth(const QXPck& mesh, const Fan& fan);
void DrawFanFlat(const QXPck& mesh, const Fan& fan);

// Calls the drawer of its shading for each fan; the callback of the walks.
class FanDrawer {
 public:
  FanDrawer(const QXPck& mesh, float shadingLevel)
      : mesh_(mesh), level_(shadingLevel), shading_(ShadingForLevel(shadingLevel)) {}
  void operator()(const Fan& fan) const;

 private:
  const QXPck& mesh_;
  float level_;
  FanShading shading_;
};

}  // namespace qx
