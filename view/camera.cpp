#include "view/camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qx {
namespace {

constexpr Vector kUp{0, 1, 0};
constexpr float kDegrees = std::numbers::pi_v<float> / 180.0f;

// The angle between the up axis and d, radians; the product of the lengths
// is taken as 1e-10 when smaller, so a zero d reads as horizontal.
float AngleFromUp(Vector d) {
  const float lengths = std::max(Length(d), 1e-10f);
  return std::acos(std::clamp(Dot(kUp, d) / lengths, -1.0f, 1.0f));
}

// The pitch rotation in radians that moves the angle from up from θ to
// θ − p, with p clamped so that θ − p stays within the pole margins.
float ClampedPitch(float theta, float pitchDegrees) {
  float p = -pitchDegrees * kDegrees;
  if (theta - p <= kPoleMargin) p = theta - kPoleMargin;
  if (theta - p >= std::numbers::pi_v<float> - kPoleMargin) p = -(std::numbers::pi_v<float> - theta - kPoleMargin);
  return p;
}

}  // namespace

void Camera::Reset() {
  fov = 45;
  eye = {5, 5, 5};
  target = goal = centre = {0, 0, 0};
  half = {5, 5, 5};
}

ClipDistances ComputeClipDistances(const Camera& camera) {
  const float distance = Length(camera.centre - camera.eye);
  const float radius = Length(camera.half);
  ClipDistances clip{distance - radius, distance + radius};
  if (clip.nearPlane <= 0) clip.nearPlane = clip.farPlane * 0.002f;
  return clip;
}

Matrix ProjectionMatrix(float fovDegrees, float aspect, float nearPlane, float farPlane) {
  const float t = std::tan(fovDegrees * kDegrees / 2);
  Matrix m{};
  m[0] = -1 / t;
  m[5] = aspect / t;
  m[10] = farPlane / (farPlane - nearPlane);
  m[11] = 1;
  m[14] = -nearPlane * farPlane / (farPlane - nearPlane);
  return m;
}

ViewBasis LookAtBasis(Vector eye, Vector target) {
  const Vector d = Normalize(target - eye);
  Vector u = kUp - d * Dot(d, kUp);
  if (Length(u) < 1e-6f) {
    const Vector z{0, 0, 1};
    u = z - d * Dot(d, z);
  }
  u = Normalize(u);
  return {Cross(u, d), u, d};
}

Matrix ViewMatrix(Vector eye, Vector target) {
  const ViewBasis b = LookAtBasis(eye, target);
  Matrix m = IdentityMatrix();
  const Vector rows[3] = {b.side, b.up, b.forward};
  for (int r = 0; r < 3; ++r) {
    m[r] = rows[r].x;
    m[4 + r] = rows[r].y;
    m[8 + r] = rows[r].z;
    m[12 + r] = -Dot(rows[r], eye);
  }
  return m;
}

Matrix ViewToWorldMatrix(Vector eye, Vector target) {
  const ViewBasis b = LookAtBasis(eye, target);
  const Vector columns[4] = {b.side, b.up, b.forward, eye};
  Matrix m = IdentityMatrix();
  for (int c = 0; c < 4; ++c) {
    m[4 * c] = columns[c].x;
    m[4 * c + 1] = columns[c].y;
    m[4 * c + 2] = columns[c].z;
  }
  return m;
}

void Orbit(float yaw, float pitch, Vector& point, Vector centre, float* fov) {
  if (fov) {
    *fov = std::clamp(*fov + pitch, kMinFov, kMaxFov);
    return;
  }
  const Vector d = Normalize(centre - point);
  const float p = ClampedPitch(AngleFromUp(d), pitch);
  // The pitch turns about the horizontal axis of the current direction and
  // comes before the yaw: yawing first would leave that axis behind, and a
  // large yaw would then tilt the view the wrong way, past the pole.
  Matrix transform = TranslationMatrix(centre * -1.0f);
  const Vector axis = Cross(kUp, d);
  if (Dot(axis, axis) >= 1e-20f) transform = MatrixProduct(transform, RotationMatrix(axis, -p));
  transform = MatrixProduct(transform, RotationMatrix(kUp, yaw * kDegrees));
  transform = MatrixProduct(transform, TranslationMatrix(centre));
  point = TransformPoint(transform, point);
}

bool EaseTarget(Vector& target, Vector goal) {
  if (target == goal) return false;
  const Vector step = goal - target;
  if (Dot(step, step) < 0.01f)
    target = goal;
  else
    target = target + step * 0.05f;
  return true;
}

Matrix PickMatrix(float x, float y, float w, float h, const std::array<int, 4>& viewport) {
  Matrix m = IdentityMatrix();
  m[0] = static_cast<float>(viewport[2]) / w;
  m[5] = static_cast<float>(viewport[3]) / h;
  m[12] = (static_cast<float>(viewport[2]) - 2 * (x - static_cast<float>(viewport[0]))) / w;
  m[13] = (static_cast<float>(viewport[3]) - 2 * (y - static_cast<float>(viewport[1]))) / h;
  return m;
}

}  // namespace qx
