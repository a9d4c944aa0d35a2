// The fan drawers of the immediate path: inside a glBegin(GL_TRIANGLES) …
// glEnd, each sends the triangles (centre, ring[i − 1], ring[i mod n]) of
// one fan with the normals its shading asks for.
//
// The shading level L chooses per fan (fan/fan_shading.h).
#pragma once

#include "common/geometry.h"
#include "fan/fan_shading.h"
#include "fan/fan_walk.h"

namespace qx {

class QXPck;

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
