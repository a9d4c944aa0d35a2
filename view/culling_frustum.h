// The culling frustum of the selective refinement mode: four side planes
// through the eye (no near or far plane), narrower than the view by the
// tolerance, so that the culling can be watched at work inside the window.
//
// Planes use the convention of fan/frustum.h: (a, b, c, d) measures
// s(x) = a·x + b·y + c·z − d, and inside is s ≥ 0.
#pragma once

#include <array>

#include "common/geometry.h"
#include "fan/frustum.h"

namespace qx {

// Half-angle scale of the culling frustum: the frustum spans
// (kCullingScale − tolerance) × fov, so at tolerance 0.05 it is the view.
inline constexpr float kCullingScale = 1.05f;

// The four side planes in world space, each a unit inward normal n with the
// offset n·eye. With h = ½·fov·(1.05 − tolerance) the horizontal half-angle
// is h and the vertical one atan(tan h ÷ aspect), matching the projection
// (whose fov is horizontal for every window shape). Order: the two side
// planes (left and right), then bottom and top.
std::array<Plane, 4> CullingPlanes(Vector eye, Vector target, float fovDegrees, float tolerance, float aspect);

// The plane re-expressed in the space that `toPlaneSpace` maps from (for
// example a model's space, given its model-view matrix for view-space
// planes): normal Rᵀn and offset d − n·t, then scaled to a unit normal, so
// that distances keep their meaning under a uniform scale. A plane whose
// normal vanishes is returned unscaled.
Plane PlaneInSpace(const Plane& plane, const Matrix& toPlaneSpace);

}  // namespace qx
