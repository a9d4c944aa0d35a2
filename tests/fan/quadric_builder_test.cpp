#include "fan/quadric_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/fan/builder_test_meshes.h"

namespace qx {
namespace {

using builder_test::Feed;
using builder_test::InputMesh;

VertexIndex IndexOf(const FanBuilder& builder, Vector p) {
  for (VertexIndex v = 1; v < builder.VertexCount(); ++v)
    if (builder.Position(v) == p) return v;
  return -1;
}

TEST(QuadricBuilderQuadric, MeasuresSquaredPlaneDistance) {
  // The plane z = 1 with weight 2: twice the squared distance.
  Quadric k = Quadric::FromPlane(0, 0, 1, -1, 2);
  EXPECT_DOUBLE_EQ(k.Evaluate({3, 4, 5}), 2 * 16);
  k += Quadric::FromPlane(1, 0, 0, 0, 1);  // plus the plane x = 0
  EXPECT_DOUBLE_EQ(k.Evaluate({3, 4, 5}), 32 + 9);
  EXPECT_DOUBLE_EQ(k.Evaluate({0, 7, 1}), 0);
}

// Builds a flat 3 × 3 grid and makes every cost valid except `last`'s, which
// is then computed with all its neighbours available as targets.
float CostWithAllTargets(QuadricBuilder& builder, Vector last) {
  Feed(builder, builder_test::Grid(3, 0));
  builder.PrepareSimplification();
  const VertexIndex v = IndexOf(builder, last);
  for (VertexIndex u = 1; u < builder.VertexCount(); ++u)
    if (u != v) builder.VertexCost(u);
  return builder.VertexCost(v);
}

TEST(QuadricBuilderCost, BoundaryPlanesHoldTheOutline) {
  QuadricOptions plain;
  plain.pairContraction = false;
  QuadricOptions loose = plain;
  loose.preserveBoundary = false;

  // A corner can only go by moving the outline.
  QuadricBuilder held(plain), free(loose);
  EXPECT_GT(CostWithAllTargets(held, {0, 0, 0}), 0.01f);
  EXPECT_LT(CostWithAllTargets(free, {0, 0, 0}), 1e-9f);

  // An edge midpoint may slide along its straight edge.
  QuadricBuilder edge(plain);
  EXPECT_LT(CostWithAllTargets(edge, {1, 0, 0}), 1e-9f);
  EXPECT_EQ(edge.Position(edge.TargetOf(IndexOf(edge, {1, 0, 0}))), (Vector{2, 0, 0}));

  // The centre is free with or without the boundary planes.
  QuadricBuilder centre(plain);
  EXPECT_LT(CostWithAllTargets(centre, {1, 1, 0}), 1e-9f);
}

TEST(QuadricBuilderCost, OnlyNeighboursWithValidCostsAreTargets) {
  QuadricOptions options;
  options.pairContraction = false;
  QuadricBuilder builder(options);
  Feed(builder, builder_test::Grid(3, 0));
  builder.PrepareSimplification();
  const VertexIndex centre = IndexOf(builder, {1, 1, 0});
  EXPECT_EQ(builder.VertexCost(centre), kHuge);
  EXPECT_EQ(builder.TargetOf(centre), -1);
  const VertexIndex corner = IndexOf(builder, {2, 2, 0});
  builder.VertexCost(corner);
  EXPECT_LT(builder.VertexCost(centre), 1e-9f);
  EXPECT_EQ(builder.TargetOf(centre), corner);
}

TEST(QuadricBuilderCost, MeshQualityPenalisesAFlip) {
  // A flat fan whose ring dents in at B: collapsing the centre into A turns
  // the triangle (centre, B, C) over.
  const Vector centre{0, 0, 0}, a{2, 0, 0}, b{0.3f, 0.3f, 0}, c{0, 2, 0}, d{-1, -1, 0};
  for (bool quality : {false, true}) {
    QuadricOptions options;
    options.pairContraction = false;
    options.meshQuality = quality;
    QuadricBuilder builder(options);
    const std::vector<Vector> ring{a, b, c, d};
    for (size_t i = 0; i < ring.size(); ++i) builder.AddTriangle(centre, ring[i], ring[(i + 1) % 4], 0);
    builder.PrepareSimplification();
    builder.VertexCost(IndexOf(builder, a));  // A is the only target on offer
    const float cost = builder.VertexCost(IndexOf(builder, centre));
    if (quality)
      EXPECT_GE(cost, 1e9f);
    else
      EXPECT_LT(cost, 1e-9f);
  }
}

TEST(QuadricBuilderCost, PairContractionReachesAnUnconnectedTwin) {
  // Two triangles touching at the origin, one at 0.0 and one at -0.0: the
  // positions differ in their bytes, so they are not welded.
  for (bool pairs : {false, true}) {
    QuadricOptions options;
    options.pairContraction = pairs;
    QuadricBuilder builder(options);
    builder.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0);
    builder.AddTriangle({-0.0f, 0, 0}, {-1, 0, 0}, {0, -1, 0}, 0);
    builder.PrepareSimplification();
    const VertexIndex twin = 4, origin = 1;
    builder.VertexCost(twin);
    builder.VertexCost(2);
    const float cost = builder.VertexCost(origin);
    if (pairs) {
      EXPECT_EQ(builder.TargetOf(origin), twin);
      EXPECT_LT(cost, 1e-9f);
    } else {
      // Collapsing a lone triangle's corner into a neighbour leaves nothing.
      EXPECT_EQ(builder.TargetOf(origin), -1);
      EXPECT_EQ(cost, kHuge);
    }
  }
}

TEST(QuadricBuilderCost, GroupBordersCostThePenalty) {
  QuadricOptions options;
  options.pairContraction = false;
  QuadricBuilder builder(options);
  InputMesh grid = builder_test::Grid(3, 0);
  grid.groups.assign(grid.triangles.size(), 1);
  grid.groups[0] = 2;  // one triangle at the corner (0, 0) is another material
  Feed(builder, grid);
  builder.PrepareSimplification();
  for (VertexIndex u = 1; u < builder.VertexCount(); ++u) builder.VertexCost(u);
  EXPECT_EQ(builder.VertexCost(IndexOf(builder, {1, 1, 0})), 5e34f);
  EXPECT_LT(builder.VertexCost(IndexOf(builder, {2, 2, 0})), 5e34f);
}

TEST(QuadricBuilderCost, TheCheapestAllowedCollapseWins) {
  // A pyramid (apex 1, open square base 2, 3, 4, 5) with a flap (2, 3, 4)
  // across its base, corner 2 pulled up towards the apex: collapsing the
  // apex into 2 or 4 would repeat the flap, so the cheaper of 3 and 5 wins
  // even though 2 is cheaper still.
  QuadricOptions options;
  options.pairContraction = false;
  QuadricBuilder builder(options);
  const Vector apex{0, 0, 1}, ring[4] = {{0.4f, 0, 0.8f}, {0, 1, 0}, {-1, 0, 0}, {0, -1.2f, 0}};
  for (int i = 0; i < 4; ++i) builder.AddTriangle(apex, ring[i], ring[(i + 1) % 4], 0);
  ASSERT_TRUE(builder.AddFace(2, 3, 4, 0, 0));
  builder.PrepareSimplification();
  for (VertexIndex u = 2; u <= 5; ++u) builder.VertexCost(u);

  auto error = [&](VertexIndex u) {
    Quadric sum = builder.QuadricOf(1);
    sum += builder.QuadricOf(u);
    return std::fabs(sum.Evaluate(builder.Position(u)));
  };
  ASSERT_LT(error(2), std::min(error(3), error(5)));
  const VertexIndex allowed = error(5) < error(3) ? 5 : 3;
  EXPECT_EQ(builder.VertexCost(1), static_cast<float>(error(allowed)));
  EXPECT_EQ(builder.TargetOf(1), allowed);
}

TEST(QuadricBuilderBuild, SphereKeepsItsShape) {
  // Simplifying a sphere by half must keep every base vertex on it and every
  // base triangle facing outward-reversed (the builder flips the input).
  for (bool pairs : {false, true}) {
    QuadricOptions options;
    options.pairContraction = pairs;
    QuadricBuilder builder(options);
    Feed(builder, builder_test::Sphere(12, 18));
    const auto meshes = builder.Build(0.5f, kStrategyStandard, nullptr);
    ASSERT_EQ(meshes.size(), 1u);
    const QXPck& mesh = *meshes[0];
    ForEachFan(mesh, mesh.splitIndex - 1, [&](const Fan& fan) {
      for (int i = fan.start + 1; i <= fan.end; ++i) {
        const Vector p0 = mesh.vertices[fan.centre].position, p1 = mesh.vertices[fan.Corner1(i)].position,
                     p2 = mesh.vertices[fan.Corner2(i)].position;
        EXPECT_LT(Dot(Cross(p1 - p0, p2 - p0), p0 + p1 + p2), 0);
      }
    });
  }
}

}  // namespace
}  // namespace qx
