#include "fan/predictors.h"

#include <vector>

#include <gtest/gtest.h>

#include "fan/face_link.h"
#include "fan/fan_record.h"
#include "fan/pck.h"
#include "stream/registry.h"
#include "tests/fan/coder_round_trip.h"

namespace qx {
namespace {

struct Tri {
  VertexIndex a, b, dependency;
};

void SetRecord(QXPck& mesh, VertexIndex v, std::vector<Tri> triangles) {
  FaceList links;
  for (const Tri& t : triangles) links.PushFront(t.a, t.b, 0, t.dependency);
  CloseRing(v, links);
  mesh.records[static_cast<size_t>(v)] = BuildRecord(v, links);
}

void ExpectNear(Vector got, Vector want) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-5f) << "component " << i;
}

Vector Mean(std::initializer_list<Vector> points) {
  Vector sum;
  for (Vector p : points) sum = sum + p;
  return sum * (1.0f / static_cast<float>(points.size()));
}

// Vertex 1 inside the triangle 2-3-4; beyond its edges lie 5, 6 and 7.
class PredictorButterfly : public testing::Test {
 protected:
  void SetUp() override {
    mesh.Create(8);
    mesh.splitIndex = 8;
    const Vector positions[8] = {{}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {-1, -1, 0}, {2, 2, 0}, {-2, 3, 0}, {0, -3, 1}};
    for (int v = 0; v < 8; ++v) p[v] = mesh.vertices[v].position = positions[v];
    SetRecord(mesh, 1, {{2, 3, 0}, {3, 4, 0}, {4, 2, 0}});
    SetRecord(mesh, 2, {{5, 3, 0}, {4, 7, 0}});
    SetRecord(mesh, 3, {{6, 4, 0}});
  }
  QXPck mesh;
  Vector p[8];
};

TEST_F(PredictorButterfly, ButterflyLeansAwayFromTheWings) {
  GPButterfly butterfly;
  const Vector ring = Mean({p[2], p[3], p[4]});
  const Vector wings = Mean({p[5], p[6], p[7]});
  ExpectNear(butterfly.Predict(mesh, 1), ring * 1.15f - wings * 0.15f);
}

TEST_F(PredictorButterfly, MissingWingFallsBackToTheCentroid) {
  mesh.records[3].Reset();  // the triangle beyond edge 3-4 is gone
  GPButterfly butterfly;
  GPCentroide centroid;
  ExpectNear(butterfly.Predict(mesh, 1), Mean({p[2], p[3], p[4]}));
  ExpectNear(centroid.Predict(mesh, 1), Mean({p[2], p[3], p[4]}));
}

// Vertex 1 keeps only the triangle 1-2-3, whose wing beyond 2-3 is 5. Its
// ring neighbour 2 counts once, the wing once; a second prediction on the
// same mesh searches again through the marks the first one left.
TEST_F(PredictorButterfly, OnlyTriangleTakesItsWingAndPredictionsShareTheMarks) {
  SetRecord(mesh, 1, {{2, 3, 0}});
  GPButterfly butterfly;
  const Vector withWing = p[2] * 1.15f - p[5] * 0.15f;
  ExpectNear(butterfly.Predict(mesh, 1), withWing);
  ExpectNear(butterfly.Predict(mesh, 1), withWing);
  mesh.records[2].Reset();  // no wing: the centroid of the one triangle
  ExpectNear(butterfly.Predict(mesh, 1), p[2]);
  ExpectNear(GPCentroide().Predict(mesh, 1), p[2]);
}

TEST_F(PredictorButterfly, EmptyRingPredictsTheOrigin) {
  GPButterfly butterfly;
  GPCentroide centroid;
  EXPECT_EQ(butterfly.Predict(mesh, 6), Vector{});
  EXPECT_EQ(centroid.Predict(mesh, 6), Vector{});
}

TEST_F(PredictorButterfly, ButterflyReadFromAStreamPredictsTheSame) {
  RegisterStandardClasses();
  GPButterfly written;
  auto read = testing_coders::ThroughStream(written);
  ClearClassRegistry();
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->weight, 1.15f);
  EXPECT_EQ(read->Predict(mesh, 1), written.Predict(mesh, 1));
}

TEST(PredictorCentroid, CountsEachNeighbourOncePerTriangleItStarts) {
  // An open fan 3-4-5 around 2: 5 closes the last triangle but starts none.
  QXPck mesh;
  mesh.Create(6);
  mesh.splitIndex = 6;
  mesh.vertices[3].position = {0, 0, 0};
  mesh.vertices[4].position = {2, 0, 0};
  mesh.vertices[5].position = {10, 10, 10};
  SetRecord(mesh, 2, {{3, 4, 0}, {4, 5, 1}});
  GPCentroide centroid;
  ExpectNear(centroid.Predict(mesh, 2), {1, 0, 0});
}

}  // namespace
}  // namespace qx
