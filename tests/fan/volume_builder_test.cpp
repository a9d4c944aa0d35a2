#include "fan/volume_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace qx {
namespace {

TEST(VolumeBuilderOrientation, SignIsExactNearDegeneracy) {
  EXPECT_EQ(OrientationSign(0, 0, 1, 0, 0, 1), 1);
  EXPECT_EQ(OrientationSign(0, 0, 0, 1, 1, 0), -1);
  // Exactly collinear points far from the origin.
  EXPECT_EQ(OrientationSign(1e6f, 1e6f, 3e6f, 3e6f, 7e6f, 7e6f), 0);
  // One ulp off the line y = x, with coordinates where the rounded
  // determinant is dominated by cancellation.
  const float x = 12345.678f;
  const float up = std::nextafter(x, 1e9f), down = std::nextafter(x, -1e9f);
  EXPECT_EQ(OrientationSign(0.5f, 0.5f, 24.25f, 24.25f, x, up), 1);
  EXPECT_EQ(OrientationSign(0.5f, 0.5f, 24.25f, 24.25f, x, down), -1);
  EXPECT_EQ(OrientationSign(0.5f, 0.5f, 24.25f, 24.25f, x, x), 0);
  // Swapping two points flips the sign, over a cloud of near-collinear points.
  float values[6];
  for (int k = 0; k < 200; ++k) {
    for (int i = 0; i < 6; ++i) values[i] = 0.1f * float(k % 7 + i) + std::ldexp(float(k * 31 % 5) - 2, -20);
    const int abc = OrientationSign(values[0], values[1], values[2], values[3], values[4], values[5]);
    const int bac = OrientationSign(values[2], values[3], values[0], values[1], values[4], values[5]);
    const int bca = OrientationSign(values[2], values[3], values[4], values[5], values[0], values[1]);
    EXPECT_EQ(abc, -bac);
    EXPECT_EQ(abc, bca);
  }
}

// Welded index of a position.
VertexIndex IndexOf(const FanBuilder& builder, Vector p) {
  for (VertexIndex v = 1; v < builder.VertexCount(); ++v)
    if (builder.Position(v) == p) return v;
  return -1;
}

// A fan of triangles (centre, ring[i], ring[i+1]); closed adds the last one back to ring[0].
void AddFan(FanBuilder& builder, Vector centre, const std::vector<Vector>& ring, bool closed,
            const std::vector<int32_t>& groups = {}) {
  const size_t count = closed ? ring.size() : ring.size() - 1;
  for (size_t i = 0; i < count; ++i)
    builder.AddTriangle(centre, ring[i], ring[(i + 1) % ring.size()], groups.empty() ? 0 : groups[i]);
}

TEST(VolumeBuilderClip, ApexOfASquarePyramid) {
  VolumeBuilder builder;
  AddFan(builder, {0, 0, 1}, {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}}, true);
  const auto hole = ClipHole(builder, 1);
  ASSERT_TRUE(hole);
  // Two ears, each a tetrahedron of volume 1/3 with the apex: 2 × ½ (1/3)².
  EXPECT_NEAR(hole->cost, 1.0f / 9, 1e-6f);
  ASSERT_EQ(hole->triangles.size(), 2u);
  for (const FillTriangle& t : hole->triangles) {
    const Vector n = Cross(builder.Position(t.a) - builder.Position(t.x), builder.Position(t.b) - builder.Position(t.x));
    EXPECT_GT(n.z, 0);  // the fill faces the way the fan did
  }
}

TEST(VolumeBuilderClip, FlatHexagonCostsNothing) {
  VolumeBuilder builder;
  std::vector<Vector> ring;
  for (int i = 0; i < 6; ++i) {
    const float angle = float(i) * 3.14159265f / 3;
    ring.push_back({std::cos(angle), std::sin(angle), 0});
  }
  AddFan(builder, {0, 0, 0}, ring, true);
  const auto hole = ClipHole(builder, 1);
  ASSERT_TRUE(hole);
  EXPECT_EQ(hole->cost, 0);
  EXPECT_EQ(hole->triangles.size(), 4u);
}

TEST(VolumeBuilderClip, ReflexEarsAreNotClipped) {
  // A star-shaped, non-convex ring around the origin: clipping at a reflex
  // corner would fold a triangle over the outside of the hole.
  VolumeBuilder builder;
  const std::vector<Vector> ring{{2, 0, 0}, {0.5f, 0.4f, 0}, {0, 2, 0}, {-0.4f, 0.5f, 0}, {-2, 0, 0},
                                 {-0.5f, -0.4f, 0}, {0, -2, 0}, {0.4f, -0.5f, 0}};
  AddFan(builder, {0, 0, 0}, ring, true);
  const auto hole = ClipHole(builder, 1);
  ASSERT_TRUE(hole);
  ASSERT_EQ(hole->triangles.size(), 6u);
  double area = 0;
  for (const FillTriangle& t : hole->triangles) {
    const Vector n = Cross(builder.Position(t.a) - builder.Position(t.x), builder.Position(t.b) - builder.Position(t.x));
    EXPECT_GT(n.z, 0);
    area += 0.5 * n.z;
  }
  // Without folds the fill covers exactly the hole.
  double hole_area = 0;
  for (size_t i = 0; i < ring.size(); ++i) hole_area += 0.5 * Cross(ring[i], ring[(i + 1) % ring.size()]).z;
  EXPECT_NEAR(area, hole_area, 1e-5);
}

TEST(VolumeBuilderClip, OpenRingPaysForItsGap) {
  // A lone triangle: nothing to clip, the gap is the triangle itself.
  VolumeBuilder lone;
  lone.AddTriangle({0, 0, 0}, {2, 0, 0}, {0, 1, 0}, 0);
  const auto single = ClipHole(lone, 1);
  ASSERT_TRUE(single);
  EXPECT_TRUE(single->triangles.empty());
  EXPECT_NEAR(single->cost, 1.0f * std::sqrt(5.0f), 1e-5f);  // area 1 × gap length √5

  // A boundary vertex with a straight boundary: a flat ear and a gap of no area.
  VolumeBuilder edge;
  AddFan(edge, {0, 0, 0}, {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}}, false);
  const auto straight = ClipHole(edge, 1);
  ASSERT_TRUE(straight);
  EXPECT_EQ(straight->cost, 0);
  ASSERT_EQ(straight->triangles.size(), 1u);
}

TEST(VolumeBuilderClip, SeveralChainsCannotBeClipped) {
  // Two fans meeting only at the centre (a bow tie).
  VolumeBuilder builder;
  builder.AddTriangle({0, 0, 0}, {1, -1, 0}, {1, 1, 0}, 0);
  builder.AddTriangle({0, 0, 0}, {-1, 1, 0}, {-1, -1, 0}, 0);
  EXPECT_FALSE(ClipHole(builder, 1));
  builder.PrepareSimplification();
  EXPECT_EQ(builder.VertexCost(1), kHuge);
}

TEST(VolumeBuilderClip, EarsAcrossGroupsCostTheGroupPenalty) {
  VolumeBuilder builder;
  AddFan(builder, {0, 0, 0}, {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}}, false, {4, 5});
  const auto hole = ClipHole(builder, 1);
  ASSERT_TRUE(hole);
  EXPECT_EQ(hole->cost, 5e34f);
  ASSERT_EQ(hole->triangles.size(), 1u);
  // The new triangle takes the group of the first link of its ear.
  const VertexIndex first = IndexOf(builder, {1, 0, 0});
  EXPECT_EQ(hole->triangles[0].x, first);
  EXPECT_EQ(hole->triangles[0].group, 4);
}

TEST(VolumeBuilderClip, RemovalNeverFoldsOntoAnExistingFace) {
  // The apex of a tetrahedron: its only ear is the base face reversed.
  VolumeBuilder builder;
  AddFan(builder, {0, 0, 1}, {{1, 0, 0}, {0, 1, 0}, {-1, -1, 0}}, true);
  builder.AddTriangle({1, 0, 0}, {-1, -1, 0}, {0, 1, 0}, 0);
  EXPECT_TRUE(ClipHole(builder, 1));  // the clipping itself works …
  builder.PrepareSimplification();
  EXPECT_EQ(builder.VertexCost(1), kHuge);  // … but the fill is refused
}

}  // namespace
}  // namespace qx
