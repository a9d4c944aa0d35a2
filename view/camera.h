// The camera of a GL window: an eye that orbits a target, a field-of-view
// zoom, a target that eases towards its goal, and the two matrices every
// paint builds from them. Pure arithmetic: nothing here calls OpenGL, so the
// formulas are checked without a context.
//
// Conventions. Angles of the interface are degrees. Matrices are column-major
// (geometry.h). View space has the eye at the origin, x to the side, y up and
// z *forward* (positive in front of the eye); the projection mirrors x back,
// so the picture is not mirrored and the world's +y is up on screen.
#pragma once

#include <array>

#include "common/geometry.h"

namespace qx {

// Limits of the field of view, degrees.
inline constexpr float kMinFov = 5.0f;
inline constexpr float kMaxFov = 120.0f;
// The view direction never comes closer than this to the up axis, radians.
inline constexpr float kPoleMargin = 0.05f;

struct Camera {
  float fov = 45;       // horizontal field of view, degrees
  float nearPlane = 0;  // clip distances, recomputed every paint
  float farPlane = 0;
  float aspect = 1;  // viewport width ÷ height
  float width = 0;   // viewport size in pixels
  float height = 0;
  Vector eye{5, 5, 5};
  Vector target{0, 0, 0};  // point looked at
  Vector goal{0, 0, 0};    // where the target is easing to
  Vector centre{0, 0, 0};  // centre of the scene's box
  Vector half{5, 5, 5};    // half extent of the scene's box

  // Back to the values above for fov, eye, target, goal, centre and half.
  void Reset();
};

// Clip distances of a paint: with L = |centre − eye| and R = |half|,
// near = L − R and far = L + R; a near that is not above 0 becomes far × 0.002
// (a zero near would flatten every depth to 1).
struct ClipDistances {
  float nearPlane;
  float farPlane;
};
ClipDistances ComputeClipDistances(const Camera& camera);

// The perspective projection: with t = tan(fov / 2), m[0] = −1/t,
// m[5] = aspect/t, m[10] = far/(far − near), m[11] = 1,
// m[14] = −near·far/(far − near), all others 0. fov is the horizontal angle
// whatever the window's shape; depth runs from 0 at near to 1 at far.
Matrix ProjectionMatrix(float fovDegrees, float aspect, float nearPlane, float farPlane);

// The look-at basis: forward d = normalise(target − eye); up
// u = (0, 1, 0) − d·(d·(0, 1, 0)), or (0, 0, 1) − d·(d·(0, 0, 1)) when that is
// shorter than 1e-6, normalised; side s = u × d.
struct ViewBasis {
  Vector side;
  Vector up;
  Vector forward;
};
ViewBasis LookAtBasis(Vector eye, Vector target);

// World to view space: rows (s, −s·eye), (u, −u·eye), (d, −d·eye), (0, 0, 0, 1).
Matrix ViewMatrix(Vector eye, Vector target);
// The inverse of ViewMatrix (view space to world): columns s, u, d, eye.
Matrix ViewToWorldMatrix(Vector eye, Vector target);

// Turns `point` about `centre`: by `yaw` degrees about the world's up axis
// and by `pitch` degrees up or down, never closer than kPoleMargin radians
// to the up axis (the elevation is clamped, so the view never flips).
// With `fov` given, only the field of view changes instead: fov += pitch,
// clamped to [kMinFov, kMaxFov].
void Orbit(float yaw, float pitch, Vector& point, Vector centre, float* fov = nullptr);

// One easing tick: when the target differs from the goal it moves 5 % of the
// way there, or onto the goal when closer than 0.1. Returns whether the
// target differed from the goal (the picture must be redrawn).
bool EaseTarget(Vector& target, Vector goal);

// Restricts drawing to a w × h pixel region centred on (x, y), x and y
// counted from the viewport's bottom-left corner; applied on top of the
// projection (it maps the region onto the whole clip volume).
Matrix PickMatrix(float x, float y, float w, float h, const std::array<int, 4>& viewport);

}  // namespace qx
