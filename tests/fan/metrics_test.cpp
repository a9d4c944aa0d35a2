#include "fan/metrics.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fan/frustum.h"
#include "fan/triangle_distance.h"
#include "fan_test_mesh.h"
#include "progressive_grid.h"

namespace qx {
namespace {

using testing_fan::BuildFanMesh;
using testing_fan::BuildTetraMesh;
using testing_fan::Triangle;
using testing_coders::MakeProgressiveGrid;

void ExpectNear(Vector actual, Vector expected, float tolerance = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// One triangle (1, 2, 3) and no refinement: N = 4, S = 1.
void BuildSingleTriangle(QXPck& mesh) {
  const Triangle triangle[] = {{1, 2, 3, 0}};
  BuildFanMesh(mesh, 4, triangle);
  mesh.splitIndex = 1;
  mesh.vertices[1].position = {0, 0, 0};
  mesh.vertices[2].position = {2, 0, 0};
  mesh.vertices[3].position = {0, 1, 0};
}

TEST(Metrics, SingleTriangleGetsUnitFaceNormalsRinglessDefaultsAndErrorsFromOwnErrors) {
  QXPck mesh;
  BuildSingleTriangle(mesh);
  ComputeMetrics(mesh);
  for (VertexIndex v = 1; v <= 3; ++v) ExpectNear(mesh.vertices[v].normal, {0, 0, 1});
  EXPECT_FLOAT_EQ(mesh.weight, Length(Vector{1, 0.5f, 0}));
  const float ceiling = 4 * mesh.weight * mesh.weight;
  for (VertexIndex v : {2, 3}) {
    const RecordMetrics& metrics = mesh.Record(v).Metrics();
    EXPECT_EQ(metrics.crease, 1.0f);
    EXPECT_FLOAT_EQ(metrics.error, ceiling);
    EXPECT_FLOAT_EQ(metrics.ownError, ceiling);
  }
  // Vertex 1's ring is open (a gap closes it), so its own error covers its
  // region: itself and the first ring corner (2,0,0) of its triangle; its
  // error, with nothing refining it, is never below that.
  EXPECT_FLOAT_EQ(mesh.Record(1).Metrics().ownError, 1.0f);
  EXPECT_FLOAT_EQ(mesh.Record(1).Metrics().error, 1.0f);
  // A ringless vertex's region is the mesh box (centre (1, 0.5, 0), half
  // extent (1, 0.5, 0)): its sphere reaches from it around the whole box.
  EXPECT_FLOAT_EQ(mesh.Record(2).Metrics().radius, Length(Vector{1, -0.5f, 0}) + Length(Vector{1, 0.5f, 0}));
  EXPECT_FLOAT_EQ(mesh.Record(3).Metrics().radius, Length(Vector{-1, 0.5f, 0}) + Length(Vector{1, 0.5f, 0}));
  EXPECT_EQ(mesh.finalTriangles, 1);
  EXPECT_EQ(mesh.allTriangles, 1);
  EXPECT_EQ(mesh.finalised, 1);
}

TEST(Metrics, RefinementErrorsCoverTheTrianglesTheyReplace) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  ComputeMetrics(mesh);
  EXPECT_EQ(mesh.finalTriangles, 6);
  EXPECT_EQ(mesh.allTriangles, 7);
  // Vertex 1 sits 0.25 in front of face (3,5,4), the plane y = ... through
  // (1,0,0), (0,0,0.5), (0,1,0): distance |x + y + 2z - 1| / sqrt(6).
  const float distance = std::fabs(0.25f + 0.25f + 0.5f - 1.0f) / std::sqrt(6.0f);
  EXPECT_GE(mesh.Record(1).Metrics().error, distance * distance);
  // The radius of every vertex encloses its neighbours of final triangles.
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    const RecordView record = mesh.Record(v);
    for (int j = 0; j < record.RingSize(); ++j) {
      const float reach = Length(mesh.vertices[record.Neighbour(j)].position - mesh.vertices[v].position);
      if (record.Group(0).dependency == 0 && record.Group(0).Has(j)) {
        EXPECT_LE(reach, record.Metrics().radius * 1.0001f) << v;
      }
    }
  }
}

// A hub (vertex 2) with a closed fan of twelve triangles around ring vertices
// 3 … 14, so that its group masks span two bytes. Vertex 1 refines the hub's
// triangles 9 and 10, (2, 12, 13) and (2, 13, 14), both in the second mask
// byte, with a fan of its own over the quad 2, 12, 13, 14. Ring vertex 11,
// first corner of final triangle 8, lies ten times further out than the
// others. N = 15, S = 2.
void BuildWideHubMesh(QXPck& mesh) {
  std::vector<Triangle> triangles;
  for (VertexIndex j = 0; j < 12; ++j) {
    const VertexIndex dependency = (j == 9 || j == 10) ? 1 : 0;
    triangles.push_back({2, 3 + j, 3 + (j + 1) % 12, dependency});
  }
  for (const Triangle& t : {Triangle{1, 12, 13, 0}, {1, 13, 14, 0}, {1, 14, 2, 0}, {1, 2, 12, 0}})
    triangles.push_back(t);
  BuildFanMesh(mesh, 15, triangles);
  mesh.splitIndex = 2;
  mesh.baseCount = 13;
  mesh.vertices[2].position = {0, 0, 0};
  for (VertexIndex v = 3; v <= 14; ++v) {
    const float angle = 2 * 3.14159265f * float(v - 3) / 12;
    const float reach = v == 11 ? 10.0f : 1.0f;
    mesh.vertices[v].position = {reach * std::cos(angle), reach * std::sin(angle), 0};
  }
  // 0.5 above the centroid of triangle (2, 12, 13), which lies 1/6 from the
  // edge (2, 13) it shares with triangle (2, 13, 14).
  const Vector p12 = mesh.vertices[12].position, p13 = mesh.vertices[13].position;
  mesh.vertices[1].position = {(p12.x + p13.x) / 3, (p12.y + p13.y) / 3, 0.5f};
}

TEST(Metrics, TrianglesInLaterMaskBytesCount) {
  QXPck mesh;
  BuildWideHubMesh(mesh);
  ASSERT_EQ(mesh.Record(2).RingSize(), 12);
  ASSERT_EQ(mesh.Record(2).MaskBytes(), 2);
  ComputeMetrics(mesh);
  EXPECT_EQ(mesh.finalTriangles, 10 + 4);
  EXPECT_EQ(mesh.allTriangles, 12 + 4);
  // Final triangle 8 brings ring vertex 11 into the hub's region.
  EXPECT_GE(mesh.Record(2).Metrics().radius, 10.0f * 0.9999f);
  // Vertex 1's error is its squared distance to the farther of the two
  // triangles it replaces, (2, 13, 14).
  EXPECT_NEAR(mesh.Record(1).Metrics().error, 0.25f + 1.0f / 36, 1e-5f);
}

TEST(Metrics, FinaliseLeavesZeroNormalsAndRunsOnce) {
  QXPck mesh;
  BuildSingleTriangle(mesh);
  mesh.vertices[3].position = {4, 0, 0};  // collinear: the face normal vanishes
  ComputeMetrics(mesh);
  for (VertexIndex v = 1; v <= 3; ++v) EXPECT_EQ(mesh.vertices[v].normal, Vector{}) << v;
  mesh.vertices[1].normal = {0, 0, 5};
  Finalise(mesh);
  EXPECT_EQ(mesh.vertices[1].normal.z, 5.0f) << "a finalised mesh is left alone";
}

// Decodes `source` vertex by vertex into a copy, measuring incrementally.
void InsertAllVertices(const QXPck& source, QXPck& copy) {
  copy.Create(source.vertexCount);
  copy.splitIndex = source.splitIndex;
  copy.weight = source.weight;
  copy.pendingCount = source.vertexCount;
  RegionBoxes regions(source.vertexCount);
  for (VertexIndex v = source.vertexCount - 1; v >= 1; --v) {
    FaceList links = RecordLinks(source.Record(v), false);
    CloseRing(v, links);
    copy.records[v] = BuildRecord(v, links);
    copy.vertices[v].position = source.vertices[v].position;
    InsertVertex(copy, v, INT32_MAX, regions);
    copy.pendingCount = v;
  }
  copy.pendingCount = 0;
  Finalise(copy);
}

TEST(Metrics, IncrementalInsertionMatchesTheWholePass) {
  QXPck whole;
  BuildTetraMesh(whole);
  ComputeMetrics(whole);
  QXPck incremental;
  InsertAllVertices(whole, incremental);

  EXPECT_EQ(incremental.finalTriangles, whole.finalTriangles);
  EXPECT_EQ(incremental.allTriangles, whole.allTriangles);
  EXPECT_EQ(incremental.recordBytes, whole.recordBytes);
  ExpectNear(incremental.box.centre, whole.box.centre);
  ExpectNear(incremental.box.half, whole.box.half);
  for (VertexIndex v = 1; v < whole.vertexCount; ++v) {
    ExpectNear(incremental.vertices[v].normal, whole.vertices[v].normal, 1e-4f);
    EXPECT_NEAR(incremental.Record(v).Metrics().radius, whole.Record(v).Metrics().radius, 1e-4f) << v;
  }
}

// The largest squared distance from each vertex to the triangles whose
// dependency it is (the triangles its insertion removes), from the records.
std::vector<float> FarthestRemoved(const QXPck& mesh) {
  std::vector<float> farthest(static_cast<size_t>(mesh.vertexCount), 0.0f);
  for (VertexIndex u = 1; u < mesh.vertexCount; ++u) {
    const RecordView record = mesh.Record(u);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const DependencyGroup group = record.Group(g);
      if (group.dependency == 0) continue;
      const Vector p = mesh.vertices[group.dependency].position;
      for (int j = 0; j < record.RingSize(); ++j) {
        if (!group.Has(j)) continue;
        const float d2 = PointTriangleDistanceSquared(p, mesh.vertices[u].position,
                                                      mesh.vertices[record.Neighbour(j)].position,
                                                      mesh.vertices[record.Neighbour(j + 1)].position);
        farthest[group.dependency] = std::max(farthest[group.dependency], d2);
      }
    }
  }
  return farthest;
}

// A mesh large enough for the pass to measure these distances beside its
// other work: every refiner's error covers what it removes, exactly where
// nothing propagates into it (a refiner whose own triangles are all final)
// and its own error (a gap in its ring) is not larger. No error is below its
// vertex's own error.
TEST(Metrics, LargeMeshErrorsCoverTheTrianglesEachRefinerRemoves) {
  const std::unique_ptr<QXPck> mesh = MakeProgressiveGrid(72, 72, 2500);
  ASSERT_GT(mesh->vertexCount, 5000);
  ComputeMetrics(*mesh);
  const std::vector<float> farthest = FarthestRemoved(*mesh);
  int exact = 0;
  for (VertexIndex v = 1; v < mesh->splitIndex; ++v) {
    const RecordView record = mesh->Record(v);
    const float error = record.Metrics().error, ownError = record.Metrics().ownError;
    EXPECT_GE(error, ownError) << v;
    bool propagates = false;
    for (int g = 0; g < record.GroupCount(); ++g) propagates |= record.Group(g).dependency != 0;
    if (propagates) {
      EXPECT_GE(error, farthest[v]) << v;
    } else {
      EXPECT_FLOAT_EQ(error, std::max(farthest[v], ownError)) << v;
      exact += farthest[v] > ownError;
    }
  }
  for (VertexIndex v = mesh->splitIndex; v < mesh->vertexCount; ++v)
    EXPECT_GE(mesh->Record(v).Metrics().error, mesh->Record(v).Metrics().ownError) << v;
  EXPECT_GT(exact, 100) << "the bumpy grid gives many final refiners an error";
}

TEST(Frustum, WholeSphereTestsDecideWithoutTouchingVertices) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  ComputeMetrics(mesh);
  VertexBits culled, inside;
  culled.Reset(mesh.vertexCount);
  inside.Reset(mesh.vertexCount);
  const Plane open{0, 0, 0, -1};  // s = 1 everywhere
  std::array<Plane, 4> planes{Plane{1, 0, 0, 100}, open, open, open};  // x >= 100
  EXPECT_EQ(SelectByFrustum(mesh, culled, inside, planes).result, -1);
  EXPECT_FALSE(culled.Test(1));
  planes[0] = Plane{1, 0, 0, -100};  // x >= -100
  const FrustumTest all = SelectByFrustum(mesh, culled, inside, planes);
  EXPECT_EQ(all.result, 1);
  EXPECT_EQ(all.count, 1);
}

TEST(Frustum, RefinementVertexBehindAPlaneIsCulledWithItsDependencies) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  ComputeMetrics(mesh);
  VertexBits culled, inside;
  culled.Reset(mesh.vertexCount);
  inside.Reset(mesh.vertexCount);
  const Plane open{0, 0, 0, -1};
  // A plane facing (1,1,1) just beyond vertex 1's sphere still cuts the
  // mesh's sphere (centre (0.5,0.5,0.5), radius 0.866).
  const float k = 1 / std::sqrt(3.0f);
  const Vector p1 = mesh.vertices[1].position;
  const float d = k * (p1.x + p1.y + p1.z) + mesh.Record(1).Metrics().radius + 0.01f;
  ASSERT_LT(d, 2 * mesh.weight);
  std::array<Plane, 4> planes{Plane{k, k, k, d}, open, open, open};
  const FrustumTest test = SelectByFrustum(mesh, culled, inside, planes);
  ASSERT_EQ(test.result, 0);
  EXPECT_EQ(test.count, 2);
  EXPECT_FALSE(culled.Test(1));
  EXPECT_TRUE(inside.Test(1));
  // Vertex 1 not selected: its fan is hidden and the face it splits shows.
  int64_t triangles = ForEachSelectedFan(mesh, culled, [](const Fan&) {});
  EXPECT_EQ(triangles, 4);
}


TEST(Frustum, NoSelectionKeepsADependencyWithoutItsRefiner) {
  // On a simplified grid, random planes: whatever the selection leaves, a
  // selected vertex brings every vertex whose triangles it refines.
  std::unique_ptr<QXPck> mesh = MakeProgressiveGrid(12, 12, 80);
  ComputeMetrics(*mesh);
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(-1, 1);
  int straddling = 0;
  for (int trial = 0; trial < 300; ++trial) {
    std::array<Plane, 4> planes;
    for (Plane& plane : planes) {
      const Vector n = Normalize({unit(random), unit(random), unit(random)});
      plane = {n.x, n.y, n.z, 4 * unit(random)};
    }
    VertexBits culled, inside;
    culled.Reset(mesh->vertexCount);
    inside.Reset(mesh->vertexCount);
    if (SelectByFrustum(*mesh, culled, inside, planes).result != 0) continue;
    ++straddling;
    for (VertexIndex v = 1; v < mesh->splitIndex; ++v) {
      const RecordView record = mesh->Record(v);
      for (int g = 0; g < record.GroupCount(); ++g) {
        const VertexIndex c = record.Group(g).dependency;
        if (c == 0) continue;
        for (const VertexBits* set : {&culled, &inside}) {
          EXPECT_TRUE(!set->Test(c) || set->Test(v)) << trial << ": " << c << " refines " << v;
        }
      }
    }
  }
  EXPECT_GT(straddling, 10);
}

TEST(LevelFromTolerance, EveryFractionOfTheVertexCountSelectsItsOwnLevel) {
  QXPck mesh;
  for (VertexIndex n : {10, 115, 1000, 4099, 65537, 1000003}) {
    mesh.vertexCount = n;
    const VertexIndex step = std::max(1, n / 5000);
    for (VertexIndex k = 0; k <= n; k += step) {
      const float tolerance = static_cast<float>(k) / static_cast<float>(n);
      ASSERT_EQ(LevelFromTolerance(mesh, tolerance), k) << k << "/" << n;
      // Halfway to the next level still selects this one.
      if (k < n) {
        ASSERT_EQ(LevelFromTolerance(mesh, (static_cast<float>(k) + 0.5f) / static_cast<float>(n)), k);
      }
    }
  }
  mesh.vertexCount = 10;
  EXPECT_EQ(LevelFromTolerance(mesh, 0.7f), 7);
  EXPECT_EQ(LevelFromTolerance(mesh, 0.55f), 5);
  EXPECT_EQ(LevelFromTolerance(mesh, 1), 10);
}

}  // namespace
}  // namespace qx
