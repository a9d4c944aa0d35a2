// How a fan is shaded at a shading level L: the rule that both the GL
// renderer and the WebAssembly viewer follow.
//
//   L = 1  smooth: every corner with its stored vertex normal;
//   L = 0  flat: one normal per triangle, computed from its corners;
//   else   by level: flat when L ≤ the centre's `crease` (a fan around a
//          sharp vertex), smooth otherwise.
#pragma once

#include "common/geometry.h"
#include "fan/face_link.h"

namespace qx {

class QXPck;

enum class FanShading { kSmooth, kFlat, kByLevel };

// The shading that level L asks for.
FanShading ShadingForLevel(float shadingLevel);

// The normal of the triangle (centre, a, b): (a − centre) × (b − centre),
// normalised when its squared length is at least 1e-20, else as it is.
Vector FlatNormal(Vector centre, Vector a, Vector b);

// Whether a fan around `centre` is drawn flat at level L in the by-level
// shading: L not greater than the centre's `crease`.
bool FanIsFlat(const QXPck& mesh, VertexIndex centre, float shadingLevel);

// Whether the fan around `centre` is flat under `shading` at level L.
inline bool FanDrawnFlat(const QXPck& mesh, VertexIndex centre, FanShading shading, float shadingLevel) {
  return shading == FanShading::kFlat || (shading == FanShading::kByLevel && FanIsFlat(mesh, centre, shadingLevel));
}

}  // namespace qx
