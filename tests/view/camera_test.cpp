// The camera's arithmetic: projection and view matrices against their
// formulas, orbiting limits, easing, the pick region and the mouse drag.
#include "view/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "view/gl_window.h"

namespace qx {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Clip coordinates of a world point through projection × view.
std::array<float, 4> Clip(const Matrix& projection, const Matrix& view, Vector p) {
  const Vector v = TransformPoint(view, p);
  std::array<float, 4> clip{};
  for (int r = 0; r < 4; ++r)
    clip[r] = projection[r] * v.x + projection[4 + r] * v.y + projection[8 + r] * v.z + projection[12 + r];
  return clip;
}

float AngleFromUp(Vector d) { return std::acos(Dot(Normalize(d), {0, 1, 0})); }

TEST(Projection, MatrixFollowsTheFormula) {
  const float fov = 60, aspect = 1.5f, nearPlane = 2, farPlane = 10;
  const Matrix m = ProjectionMatrix(fov, aspect, nearPlane, farPlane);
  const float t = std::tan(fov * kPi / 360);
  Matrix expected{};
  expected[0] = -1 / t;
  expected[5] = aspect / t;
  expected[10] = farPlane / (farPlane - nearPlane);
  expected[11] = 1;
  expected[14] = -nearPlane * farPlane / (farPlane - nearPlane);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], expected[i], 1e-6f) << i;
}

TEST(Projection, ClipDistancesFromTheSceneSphere) {
  Camera camera;
  camera.eye = {0, 0, 10};
  camera.centre = {0, 0, 0};
  camera.half = {3, 0, 4};  // radius 5
  ClipDistances clip = ComputeClipDistances(camera);
  EXPECT_FLOAT_EQ(clip.nearPlane, 5);
  EXPECT_FLOAT_EQ(clip.farPlane, 15);
  // Eye inside the sphere: near falls back to a small fraction of far.
  camera.eye = {0, 0, 1};
  clip = ComputeClipDistances(camera);
  EXPECT_FLOAT_EQ(clip.farPlane, 6);
  EXPECT_FLOAT_EQ(clip.nearPlane, 6 * 0.002f);
  // Exactly on the sphere: a zero near would flatten every depth.
  camera.eye = {0, 0, 5};
  EXPECT_GT(ComputeClipDistances(camera).nearPlane, 0);
}

TEST(Projection, DepthRunsFromNearToFarAndThePictureIsNotMirrored) {
  const Vector eye{0, 0, 5}, target{0, 0, 0};
  const Matrix view = ViewMatrix(eye, target);
  const Matrix projection = ProjectionMatrix(45, 1, 2, 8);
  const auto centre = Clip(projection, view, {0, 0, 0});
  EXPECT_NEAR(centre[0] / centre[3], 0, 1e-6f);
  EXPECT_NEAR(centre[1] / centre[3], 0, 1e-6f);
  const auto atNear = Clip(projection, view, {0, 0, 3}), atFar = Clip(projection, view, {0, 0, -3});
  EXPECT_NEAR(atNear[2] / atNear[3], 0, 1e-6f);
  EXPECT_NEAR(atFar[2] / atFar[3], 1, 1e-6f);
  // Looking down -z from +z, world +x is on the right and +y at the top.
  const auto right = Clip(projection, view, {1, 0, 0}), up = Clip(projection, view, {0, 1, 0});
  EXPECT_GT(right[0] / right[3], 0);
  EXPECT_GT(up[1] / up[3], 0);
  // fov is horizontal: a point at the half-angle lands on the left/right edge.
  const float edge = 5 * std::tan(22.5f * kPi / 180);
  const auto onEdge = Clip(projection, view, {edge, 0, 0});
  EXPECT_NEAR(onEdge[0] / onEdge[3], 1, 1e-5f);
}

TEST(ViewMatrix, RowsAreTheLookAtBasis) {
  const Vector eye{1, 2, 3}, target{4, 6, 3};
  const Matrix m = ViewMatrix(eye, target);
  const Vector d = Normalize(target - eye);
  const Vector u = Normalize(Vector{0, 1, 0} - d * Dot(d, {0, 1, 0}));
  const Vector s = Cross(u, d);
  const Vector rows[3] = {s, u, d};
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(m[r], rows[r].x, 1e-6f);
    EXPECT_NEAR(m[4 + r], rows[r].y, 1e-6f);
    EXPECT_NEAR(m[8 + r], rows[r].z, 1e-6f);
    EXPECT_NEAR(m[12 + r], -Dot(rows[r], eye), 1e-5f);
  }
  EXPECT_EQ(m[3], 0);
  EXPECT_EQ(m[15], 1);
  // The target lies straight ahead at its distance.
  const Vector ahead = TransformPoint(m, target);
  EXPECT_NEAR(ahead.x, 0, 1e-5f);
  EXPECT_NEAR(ahead.y, 0, 1e-5f);
  EXPECT_NEAR(ahead.z, 5, 1e-5f);
}

TEST(ViewMatrix, LookingStraightDownUsesTheZAxisAsUp) {
  const ViewBasis b = LookAtBasis({0, 5, 0}, {0, 0, 0});
  EXPECT_NEAR(b.up.z, 1, 1e-6f);
  EXPECT_NEAR(Length(b.side), 1, 1e-6f);
  const Matrix there = ViewMatrix({0, 5, 0}, {0, 0, 0}), back = ViewToWorldMatrix({0, 5, 0}, {0, 0, 0});
  const Vector p{0.3f, -2, 7};
  const Vector round = TransformPoint(back, TransformPoint(there, p));
  EXPECT_NEAR(round.x, p.x, 1e-5f);
  EXPECT_NEAR(round.y, p.y, 1e-5f);
  EXPECT_NEAR(round.z, p.z, 1e-5f);
}

TEST(Orbit, FieldOfViewStaysWithinItsLimits) {
  float fov = 45;
  Vector eye{5, 5, 5};
  for (int i = 0; i < 40; ++i) Orbit(0, 7, eye, {}, &fov);
  EXPECT_EQ(fov, kMaxFov);
  for (int i = 0; i < 40; ++i) Orbit(0, -9, eye, {}, &fov);
  EXPECT_EQ(fov, kMinFov);
  EXPECT_EQ(eye, (Vector{5, 5, 5}));  // the zoom form moves nothing
}

TEST(Orbit, PitchNeverReachesThePoles) {
  const Vector centre{1, 2, 3};
  for (float yaw : {0.0f, 30.0f, 180.0f, 359.0f})
    for (float pitch : {-300.0f, -90.0f, -20.0f, 20.0f, 90.0f, 300.0f}) {
      Vector eye = centre + Vector{4, 1, 2};
      const float distance = Length(eye - centre);
      for (int i = 0; i < 10; ++i) {
        Orbit(yaw, pitch, eye, centre);
        const float theta = AngleFromUp(centre - eye);
        EXPECT_GE(theta, kPoleMargin - 1e-3f) << yaw << " " << pitch;
        EXPECT_LE(theta, kPi - kPoleMargin + 1e-3f) << yaw << " " << pitch;
        EXPECT_NEAR(Length(eye - centre), distance, 1e-3f);
      }
    }
}

// Pitching past a pole from a general angle stops exactly at the margin on
// that side, whatever the yaw; it never swings towards the other pole.
TEST(Orbit, PitchPastAPoleStopsAtItsMargin) {
  const Vector centre{1, 2, 3};
  for (Vector start : {Vector{4, 1, 2}, Vector{-2, -3, 1}})  // looking down at the centre, and up
    for (float yaw : {0.0f, 40.0f})
      for (float pitch : {-300.0f, -170.0f, 170.0f, 300.0f}) {
        Vector eye = centre + start;
        Orbit(yaw, pitch, eye, centre);
        const float limit = pitch < 0 ? kPoleMargin : kPi - kPoleMargin;
        EXPECT_NEAR(AngleFromUp(centre - eye), limit, 1e-4f) << start.y << " " << yaw << " " << pitch;
      }
}

TEST(Orbit, PitchMovesTheViewByTheAngleAndYawTurnsAboutTheUpAxis) {
  Vector eye{0, 0, 10};
  Orbit(0, 10, eye, {});
  // Positive pitch lifts the direction towards the centre away from up by 10°.
  EXPECT_NEAR(AngleFromUp(Vector{} - eye), kPi / 2 + 10 * kPi / 180, 1e-4f);
  eye = {0, 3, 10};
  Orbit(90, 0, eye, {});
  EXPECT_NEAR(eye.x, 10, 1e-4f);
  EXPECT_NEAR(eye.y, 3, 1e-4f);
  EXPECT_NEAR(eye.z, 0, 1e-4f);
}

TEST(Easing, TargetApproachesTheGoalThenSnaps) {
  Vector target{0, 0, 0};
  const Vector goal{10, 0, 0};
  EXPECT_TRUE(EaseTarget(target, goal));
  EXPECT_FLOAT_EQ(target.x, 0.5f);
  int ticks = 1;
  while (EaseTarget(target, goal)) ++ticks;
  EXPECT_EQ(target, goal);
  EXPECT_GT(ticks, 50);
  EXPECT_FALSE(EaseTarget(target, goal));
}

TEST(PickMatrix, MapsThePixelRegionOntoTheClipVolume) {
  const std::array<int, 4> viewport{0, 0, 200, 100};
  const Matrix m = PickMatrix(50, 25, 8, 8, viewport);
  // Pixel (50, 25) is at NDC (-0.5, -0.5); the region's corners at ±1.
  const auto ndc = [&](float px, float py) { return TransformPoint(m, {2 * px / 200 - 1, 2 * py / 100 - 1, 0}); };
  EXPECT_NEAR(ndc(50, 25).x, 0, 1e-5f);
  EXPECT_NEAR(ndc(50, 25).y, 0, 1e-5f);
  EXPECT_NEAR(ndc(54, 29).x, 1, 1e-5f);
  EXPECT_NEAR(ndc(46, 21).y, -1, 1e-5f);
}

TEST(MouseDrag, OneLongMoveTurnsByItsRemainderOfAFullTurn) {
  GLWindow window(true);  // no surface: the camera alone
  Camera& camera = window.GetCamera();
  camera.eye = {0, 0, 10};
  window.OnMouseButton(MouseMessage::kLeftDown, 100, 100);
  window.OnMouseMove(500, 100);  // 400 pixels: 40°, not 400°
  EXPECT_NEAR(std::atan2(camera.eye.x, camera.eye.z), 40 * kPi / 180, 1e-4f);
  EXPECT_TRUE(window.IsDirty());
  window.OnMouseButton(MouseMessage::kLeftUp, 500, 100);
  const Vector before = camera.eye;
  window.OnMouseMove(600, 100);
  EXPECT_EQ(camera.eye, before);
}

}  // namespace
}  // namespace qx
