#include "view/culling_frustum.h"

#include <cmath>
#include <numbers>

#include "view/camera.h"

namespace qx {
namespace {

Plane PlaneThrough(Vector normal, Vector point) { return {normal.x, normal.y, normal.z, Dot(normal, point)}; }

}  // namespace

std::array<Plane, 4> CullingPlanes(Vector eye, Vector target, float fovDegrees, float tolerance, float aspect) {
  const float h = 0.5f * fovDegrees * (kCullingScale - tolerance) * std::numbers::pi_v<float> / 180.0f;
  const float horizontal = h;
  const float vertical = std::atan(std::tan(h) / (aspect > 0 ? aspect : 1.0f));
  const ViewBasis b = LookAtBasis(eye, target);
  // A side plane tilted by angle a from the view direction has the inward
  // normal forward·sin a ± axis·cos a.
  const auto inward = [&](Vector axis, float angle, float sign) {
    return b.forward * std::sin(angle) + axis * (sign * std::cos(angle));
  };
  return {PlaneThrough(inward(b.side, horizontal, 1), eye), PlaneThrough(inward(b.side, horizontal, -1), eye),
          PlaneThrough(inward(b.up, vertical, 1), eye), PlaneThrough(inward(b.up, vertical, -1), eye)};
}

Plane PlaneInSpace(const Plane& plane, const Matrix& toPlaneSpace) {
  const Vector n{plane[0], plane[1], plane[2]};
  // Column c of the linear part is the image of axis c: its dot with n is the
  // c-th component of Rᵀn.
  Vector normal;
  for (int c = 0; c < 3; ++c)
    normal[c] = toPlaneSpace[4 * c] * n.x + toPlaneSpace[4 * c + 1] * n.y + toPlaneSpace[4 * c + 2] * n.z;
  const Vector translation{toPlaneSpace[12], toPlaneSpace[13], toPlaneSpace[14]};
  float offset = plane[3] - Dot(n, translation);
  const float length = Length(normal);
  if (length > 0) {
    normal = normal * (1 / length);
    offset /= length;
  }
  return {normal.x, normal.y, normal.z, offset};
}

}  // namespace qx
