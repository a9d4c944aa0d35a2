// The selective mode's culling planes and their move into a model's space.
#include "view/culling_frustum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "view/camera.h"

namespace qx {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

float Measure(const Plane& p, Vector x) { return p[0] * x.x + p[1] * x.y + p[2] * x.z - p[3]; }

bool Inside(const std::array<Plane, 4>& planes, Vector x) {
  for (const Plane& p : planes)
    if (Measure(p, x) < 0) return false;
  return true;
}

TEST(CullingPlanes, NarrowWithTheToleranceAroundTheViewDirection) {
  const Vector eye{0, 0, 10}, target{0, 0, 0};
  // At tolerance 0.05 the frustum is the view: fov 60 horizontal, aspect 2.
  const auto planes = CullingPlanes(eye, target, 60, 0.05f, 2);
  EXPECT_TRUE(Inside(planes, target));
  EXPECT_FALSE(Inside(planes, {0, 0, 20}));  // behind the eye
  const float halfWidth = 10 * std::tan(30 * kPi / 180), halfHeight = halfWidth / 2;
  EXPECT_TRUE(Inside(planes, {halfWidth * 0.98f, 0, 0}));
  EXPECT_FALSE(Inside(planes, {halfWidth * 1.02f, 0, 0}));
  EXPECT_TRUE(Inside(planes, {0, halfHeight * 0.98f, 0}));
  EXPECT_FALSE(Inside(planes, {0, -halfHeight * 1.02f, 0}));
  for (const Plane& p : planes) {
    EXPECT_NEAR(std::hypot(p[0], p[1], p[2]), 1, 1e-6f);
    EXPECT_NEAR(Measure(p, eye), 0, 1e-5f);
  }
  // A larger tolerance leaves out what the view still shows.
  EXPECT_FALSE(Inside(CullingPlanes(eye, target, 60, 0.5f, 2), {halfWidth * 0.7f, 0, 0}));
}

// At tolerance 0.05 the frustum is what the projection shows, in windows
// wider than tall too: the projection's field of view is horizontal for
// every shape, so the frustum's is as well (a vertical one would reach
// beyond the top and bottom of a wide window and refine what is not seen).
TEST(CullingPlanes, MatchTheProjectionForWideAndTallWindows) {
  const Vector eye{1, 2, 10}, target{0, 0, 0};
  const Matrix view = ViewMatrix(eye, target);
  for (float aspect : {2.5f, 1.0f, 0.4f}) {
    const auto planes = CullingPlanes(eye, target, 50, 0.05f, aspect);
    const Matrix projection = ProjectionMatrix(50, aspect, 1, 30);
    int inside = 0;
    for (int j = -30; j <= 30; ++j)
      for (int i = -30; i <= 30; ++i) {
        const Vector p = Vector{0.4f * float(i), 0.4f * float(j), 0.3f * float(i - j)};
        const Vector v = TransformPoint(view, p);
        // Clip coordinates of the column-major projection: x, y and w.
        const float x = projection[0] * v.x, y = projection[5] * v.y, w = projection[11] * v.z;
        if (w < 1) continue;  // behind the eye or before the near plane
        const float reach = std::max(std::fabs(x), std::fabs(y)) / w;
        if (std::fabs(reach - 1) < 0.02f) continue;  // too close to the border to tell
        EXPECT_EQ(Inside(planes, p), reach < 1) << "aspect " << aspect << " at " << i << "," << j;
        inside += reach < 1;
      }
    EXPECT_GT(inside, 100) << aspect;
  }
}

TEST(PlaneInSpace, DistancesSurviveTranslationAndUniformScale) {
  // Model space maps to plane space by scale 2 then translation (5, 0, 0).
  Matrix toPlane = IdentityMatrix();
  toPlane[0] = toPlane[5] = toPlane[10] = 2;
  toPlane[12] = 5;
  const Plane plane{1, 0, 0, 7};  // x ≥ 7 in plane space
  const Plane model = PlaneInSpace(plane, toPlane);
  // Model x = 1 is plane x = 7: on the plane; model x = 2 is 2 plane units
  // inside, which is 1 model unit.
  EXPECT_NEAR(Measure(model, {1, 0, 0}), 0, 1e-6f);
  EXPECT_NEAR(Measure(model, {2, 3, 4}), 1, 1e-6f);
  EXPECT_NEAR(std::hypot(model[0], model[1], model[2]), 1, 1e-6f);
}

}  // namespace
}  // namespace qx
