#include "fan/fan_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fan/quadric_builder.h"
#include "fan/volume_builder.h"
#include "tests/fan/builder_test_meshes.h"

namespace qx {
namespace {

using builder_test::CheckFanMeshes;
using builder_test::Feed;
using builder_test::InputMesh;

int CountLinks(const FanBuilder& builder) {
  int links = 0;
  for (VertexIndex v = 0; v < builder.VertexCount(); ++v) links += static_cast<int>(builder.Links(v).size());
  return links;
}

// --- Collecting ------------------------------------------------------------------

TEST(FanBuilderStore, WeldsBitIdenticalPositionsOnly) {
  VolumeBuilder builder;
  EXPECT_EQ(builder.VertexCount(), 1);  // the dummy
  EXPECT_EQ(builder.Position(0), (Vector{kHuge, kHuge, kHuge}));
  builder.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0);
  builder.AddTriangle({1, 0, 0}, {1, 1, 0}, {0, 1, 0}, 0);
  EXPECT_EQ(builder.VertexCount(), 5);
  EXPECT_EQ(builder.FaceCount(), 2);
  // -0.0 differs from 0.0 in its bytes: a new vertex.
  builder.AddTriangle({-0.0f, 0, 0}, {1, 0, 0}, {1, 1, 0}, 0);
  EXPECT_EQ(builder.VertexCount(), 6);
  EXPECT_EQ(builder.Position(5).x, 0.0f);
  EXPECT_TRUE(std::signbit(builder.Position(5).x));
  EXPECT_EQ(builder.Bounds().centre, (Vector{0.5f, 0.5f, 0}));
}

TEST(FanBuilderStore, WeldingScalesPastTheInitialBuckets) {
  // Integer coordinates share their low bits; every point must still find
  // its twin, and distinct points must stay apart.
  VolumeBuilder builder;
  const InputMesh grid = builder_test::Grid(80, 0);
  Feed(builder, grid);
  Feed(builder, grid);  // every triangle again: no new vertex
  EXPECT_EQ(builder.VertexCount(), 1 + 80 * 80);
  EXPECT_EQ(builder.FaceCount(), 2 * static_cast<int>(grid.triangles.size()));
  EXPECT_EQ(CountLinks(builder), 3 * static_cast<int>(grid.triangles.size()));
}

TEST(FanBuilderStore, AddFaceStoresEachTriangleRotatedInEveryCorner) {
  VolumeBuilder builder;
  builder.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 7);
  ASSERT_EQ(builder.Links(1).size(), 1u);
  const BuilderLink at1 = builder.Links(1)[0], at2 = builder.Links(2)[0], at3 = builder.Links(3)[0];
  EXPECT_EQ((std::array{at1.a, at1.b, at2.a, at2.b, at3.a, at3.b}), (std::array{2, 3, 3, 1, 1, 2}));
  EXPECT_EQ(at2.group, 7);
  EXPECT_EQ(at3.dependency, 0);
}

TEST(FanBuilderStore, AddFaceRejectsBadTriangles) {
  VolumeBuilder builder;
  builder.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0);
  builder.AddTriangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0}, 0);
  EXPECT_FALSE(builder.AddFace(1, 2, 7, 0, 0));   // not a vertex
  EXPECT_FALSE(builder.AddFace(1, -3, 4, 0, 0));  // negative
  EXPECT_FALSE(builder.AddFace(0, 1, 4, 0, 0));   // the dummy is no corner
  EXPECT_FALSE(builder.AddFace(4, 5, 4, 0, 0));   // two equal corners
  EXPECT_FALSE(builder.AddFace(1, 3, 2, 0, 0));   // folds onto (1, 2, 3)
  EXPECT_FALSE(builder.AddFace(4, 5, 6, 0, -1));  // 0-based: 5, 6, 7 — 7 is no vertex
  EXPECT_EQ(builder.FaceCount(), 2);
  // A degenerate input triangle is dropped after welding.
  builder.AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 0, 0}, 0);
  EXPECT_EQ(builder.FaceCount(), 2);

  // 0-based indices from outside.
  EXPECT_TRUE(builder.AddFace(0, 4, 1, 0, -1));  // (1, 5, 2)
  EXPECT_EQ(builder.Links(5).back().a, 2);
  EXPECT_EQ(builder.Links(5).back().b, 1);
  // The same triangle again: no second link, but the face count grows.
  EXPECT_TRUE(builder.AddFace(1, 5, 2, 0, 0));
  EXPECT_EQ(builder.FaceCount(), 4);
  EXPECT_EQ(CountLinks(builder), 9);
}

TEST(FanBuilderStore, HugeFansAreCutIntoStorablePieces) {
  // 300 triangles around one point: more than a fan record can hold.
  VolumeBuilder builder;
  std::vector<Vector> ring;
  for (int i = 0; i < 300; ++i) {
    const float angle = 2 * 3.14159265f * float(i) / 300;
    ring.push_back({std::cos(angle), std::sin(angle), 0});
  }
  for (int i = 0; i < 300; ++i) builder.AddTriangle({0, 0, 0}, ring[i], ring[(i + 1) % 300], 0);
  EXPECT_EQ(builder.FaceCount(), 300);
  EXPECT_EQ(builder.VertexCount(), 1 + 300 + 3);  // the centre and its two twins
  EXPECT_EQ(builder.Links(1).size(), static_cast<size_t>(kMaxGrownLinks));
  for (float level : {0.0f, 0.5f}) {
    VolumeBuilder copy;
    for (int i = 0; i < 300; ++i) copy.AddTriangle({0, 0, 0}, ring[i], ring[(i + 1) % 300], 0);
    const auto meshes = copy.Build(level, kStrategyStandard, nullptr);
    EXPECT_EQ(CheckFanMeshes(meshes).full, 300);
  }
}

// --- Removal engine ------------------------------------------------------------------

// A fan of four triangles around vertex 1 (a closed square ring 2, 3, 4, 5).
InputMesh Pyramid() {
  InputMesh mesh;
  mesh.points = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
  mesh.triangles = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 1}};
  return mesh;
}

TEST(FanBuilderEngine, DetachLeavesTheTrianglesWithTheVertex) {
  VolumeBuilder builder;
  Feed(builder, Pyramid());
  builder.PrepareSimplification();
  for (VertexIndex v = 1; v <= 5; ++v) builder.VertexCost(v);
  EXPECT_EQ(builder.Detach(1), 4);
  EXPECT_EQ(builder.FaceCount(), 0);
  EXPECT_EQ(builder.Links(1).size(), 4u);
  for (VertexIndex v = 2; v <= 5; ++v) {
    EXPECT_TRUE(builder.Links(v).empty());
    EXPECT_FALSE(builder.IsCostValid(v));
  }
}

TEST(FanBuilderEngine, CommitFillsTheHoleWithDependentTriangles) {
  VolumeBuilder builder;
  Feed(builder, Pyramid());
  builder.PrepareSimplification();
  const Fill fill{{2, 3, 4, 0}, {2, 4, 5, 0}};
  EXPECT_EQ(builder.Commit(1, fill), 2);
  EXPECT_EQ(builder.FaceCount(), 2);
  EXPECT_TRUE(builder.IsRemoved(1));
  ASSERT_EQ(builder.Links(3).size(), 1u);
  EXPECT_EQ(builder.Links(3)[0].dependency, 1);
  EXPECT_EQ(builder.Links(2).size(), 2u);
}

TEST(FanBuilderEngine, DegreeAndDependencyLimitsKeepAVertex) {
  VolumeBuilder builder;
  Feed(builder, Pyramid());
  builder.PrepareSimplification();
  const float free = builder.VertexCost(1);
  EXPECT_LT(free, kHuge);
  builder.degreeLimit = 3;  // vertex 1 has 4 triangles
  EXPECT_EQ(builder.VertexCost(1), kHuge);
  builder.degreeLimit = 4;
  EXPECT_EQ(builder.VertexCost(1), free);

  // After the centre of a flat 3 × 3 grid is removed, its old neighbours
  // hold input triangles (dependency 0) and fill triangles (the centre).
  VolumeBuilder grid;
  Feed(grid, builder_test::Grid(3, 0));
  grid.PrepareSimplification();
  VertexIndex centre = 1;
  while (!(grid.Position(centre) == Vector{1, 1, 0})) ++centre;
  const std::optional<HoleClipping> hole = ClipHole(grid, centre);
  ASSERT_TRUE(hole);
  grid.Commit(centre, hole->triangles);
  int mixed = 0;
  for (VertexIndex v = 1; v < grid.VertexCount(); ++v) {
    const auto& links = grid.Links(v);
    if (links.empty() || std::all_of(links.begin(), links.end(), [&](const BuilderLink& l) {
          return l.dependency == links[0].dependency;
        }))
      continue;
    ++mixed;
    grid.dependencyLimit = 1;
    EXPECT_EQ(grid.VertexCost(v), kHuge);
    grid.dependencyLimit = 2;
    EXPECT_LT(grid.VertexCost(v), kHuge);
  }
  EXPECT_GT(mixed, 0);
}

// --- Vetting fills ------------------------------------------------------------------

// A metric that never removes anything, so that the tests can vet fills.
class FillProbe final : public FanBuilder {
 public:
  using FanBuilder::FillIsAcceptable;

 protected:
  float Cost(VertexIndex) override { return kHuge; }
  std::optional<Fill> Remove(VertexIndex) override { return std::nullopt; }
};

// A closed fan of n triangles around vertex 1 at (0, 0, 1), its ring
// vertices 2 … n + 1 on the unit circle.
void FeedClosedFan(FanBuilder& builder, int n) {
  std::vector<Vector> ring;
  for (int i = 0; i < n; ++i) {
    const float angle = 2 * 3.14159265f * float(i) / float(n);
    ring.push_back({std::cos(angle), std::sin(angle), 0});
  }
  for (int i = 0; i < n; ++i) builder.AddTriangle({0, 0, 1}, ring[i], ring[(i + 1) % n], 0);
}

// The fill of the hole around vertex 1 of FeedClosedFan fanned out from
// ring vertex `from`.
Fill FanOutFrom(VertexIndex from, int n) {
  Fill fill;
  auto ring = [n](int i) { return static_cast<VertexIndex>(2 + (i % n)); };
  const int start = from - 2;
  for (int k = 1; k + 1 < n; ++k) fill.push_back({from, ring(start + k), ring(start + k + 1), 0});
  return fill;
}

TEST(FanBuilderVetting, RepeatedFillTrianglesAreRejectedInSmallAndLargeFills) {
  // Six and forty triangles: a handful and a large ring.
  for (int n : {6, 40}) {
    FillProbe builder;
    FeedClosedFan(builder, n);
    Fill fill = FanOutFrom(2, n);
    EXPECT_TRUE(builder.FillIsAcceptable(1, fill)) << n;
    // The corners of a middle triangle again, reversed and rotated.
    const FillTriangle& twice = fill[fill.size() / 2];
    fill.push_back({twice.a, twice.x, twice.b, 0});
    EXPECT_FALSE(builder.FillIsAcceptable(1, fill)) << n;
  }
}

TEST(FanBuilderVetting, AFillMayNotRepeatOrFoldOntoAStoredTriangle) {
  FillProbe builder;
  Feed(builder, Pyramid());
  ASSERT_TRUE(builder.AddFace(2, 3, 4, 0, 0));  // a flap across the base
  const std::array<FillTriangle, 3> shapes{{{2, 3, 4, 0}, {3, 4, 2, 0}, {4, 3, 2, 0}}};
  for (const FillTriangle& shape : shapes) {
    const Fill fill{shape, {2, 4, 5, 0}};
    EXPECT_FALSE(builder.FillIsAcceptable(1, fill)) << shape.x << shape.a << shape.b;
  }
  EXPECT_TRUE(builder.FillIsAcceptable(1, Fill{{3, 4, 5, 0}, {3, 5, 2, 0}}));
}

TEST(FanBuilderVetting, FillsAroundOneCornerCatchRepeatsInEitherOrientation) {
  // A collapse fill has every triangle around one corner (here ring vertex
  // 2); such fills of a handful and of many triangles are vetted alike.
  for (int n : {6, 20}) {
    FillProbe builder;
    FeedClosedFan(builder, n);
    const Fill fill = FanOutFrom(2, n);
    ASSERT_TRUE(builder.FillIsAcceptable(1, fill)) << n;
    // The same corners again around the same corner, with a and b swapped.
    Fill again = fill;
    const FillTriangle& middle = fill[fill.size() / 2];
    again.push_back({middle.x, middle.b, middle.a, 0});
    EXPECT_FALSE(builder.FillIsAcceptable(1, again)) << n;
    // A stored flap (2, 4, 5), then its reverse: the fill's (2, 4, 5)
    // repeats the first and folds onto the second.
    for (const bool reversed : {false, true}) {
      FillProbe flapped;
      FeedClosedFan(flapped, n);
      ASSERT_TRUE(reversed ? flapped.AddFace(2, 5, 4, 0, 0) : flapped.AddFace(2, 4, 5, 0, 0));
      EXPECT_FALSE(flapped.FillIsAcceptable(1, fill)) << n << reversed;
    }
  }
}

TEST(FanBuilderVetting, NoCornerGrowsPastTheRecordLimit) {
  // Ring vertex 2 of a closed five-triangle fan also holds loose triangles.
  // Fanning the hole out from 2 costs it two triangles and gains it three;
  // fanning out from 4 leaves its count as it is.
  for (int loose : {124, 125}) {
    FillProbe builder;
    FeedClosedFan(builder, 5);
    for (int k = 0; k < loose; ++k) builder.AddTriangle({1, 0, 0}, {2, float(k), 0}, {3, float(k), 0}, 0);
    ASSERT_EQ(builder.Links(2).size(), static_cast<size_t>(2 + loose));
    const bool roomForOneMore = 2 + loose < kMaxGrownLinks;
    EXPECT_EQ(builder.FillIsAcceptable(1, FanOutFrom(2, 5)), roomForOneMore) << loose;
    EXPECT_TRUE(builder.FillIsAcceptable(1, FanOutFrom(4, 5))) << loose;
  }
}

// --- Whole builds ------------------------------------------------------------------------

TEST(FanBuilderBuild, LevelZeroKeepsEveryVertexAsBase) {
  VolumeBuilder builder;
  Feed(builder, Pyramid());
  const auto meshes = builder.Build(0, kStrategyStandard, nullptr);
  ASSERT_EQ(meshes.size(), 1u);
  const QXPck& mesh = *meshes[0];
  EXPECT_EQ(mesh.vertexCount, 6);
  EXPECT_EQ(mesh.splitIndex, 1);
  EXPECT_EQ(mesh.baseCount, 5);
  // Base vertices keep the input's order; the first holds every triangle.
  EXPECT_EQ(mesh.vertices[1].position, (Vector{0, 0, 1}));
  EXPECT_EQ(mesh.Record(1).RingSize(), 4);
  EXPECT_EQ(builder_test::CheckFanMesh(mesh).full, 4);
  // The orientation is reversed: the input faces +z, the mesh -z.
  for (float z : builder_test::NormalZ(mesh, 0)) EXPECT_LT(z, 0);
}

TEST(FanBuilderBuild, NoTrianglesGiveNoMesh) {
  VolumeBuilder builder;
  EXPECT_TRUE(builder.Build(0.5f, kStrategyStandard, nullptr).empty());
  builder.AddTriangle({0, 0, 0}, {1, 0, 0}, {1, 0, 0}, 0);  // degenerate: vertices but no triangle
  EXPECT_TRUE(builder.Build(0.5f, kStrategyStandard, nullptr).empty());
}

TEST(FanBuilderBuild, TetrahedronKeepsEveryVertex) {
  // Any removal would fold the fill onto the opposite face.
  InputMesh tetra;
  tetra.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  tetra.triangles = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  for (int metric = 0; metric < 2; ++metric) {
    std::unique_ptr<FanBuilder> builder;
    if (metric == 0)
      builder = std::make_unique<VolumeBuilder>();
    else
      builder = std::make_unique<QuadricBuilder>();
    Feed(*builder, tetra);
    const auto meshes = builder->Build(1, kStrategyStandard, nullptr);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->vertexCount, 5);
    EXPECT_EQ(meshes[0]->splitIndex, 1);
    EXPECT_EQ(CheckFanMeshes(meshes).full, 4);
  }
}

TEST(FanBuilderBuild, OctahedronLosesOneApexToAPyramid) {
  InputMesh octa;
  octa.points = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  octa.triangles = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 1}, {5, 2, 1}, {5, 3, 2}, {5, 4, 3}, {5, 1, 4}};
  VolumeBuilder builder;
  Feed(builder, octa);
  // 8 × 0.25 = 2 triangles to remove: one vertex of four triangles.
  const auto meshes = builder.Build(0.25f, kStrategyStandard, nullptr);
  ASSERT_EQ(meshes.size(), 1u);
  const QXPck& mesh = *meshes[0];
  EXPECT_EQ(mesh.vertexCount, 7);
  EXPECT_EQ(mesh.splitIndex, 2);
  // All six vertices cost the same; the lowest index goes first.
  EXPECT_EQ(mesh.vertices[1].position, (Vector{0, 0, 1}));
  const builder_test::LevelCounts counts = builder_test::CheckFanMesh(mesh);
  EXPECT_EQ(counts.full, 8);
  EXPECT_EQ(counts.base, 6);
  // Vertex 1's own record holds its four triangles; its fill depends on it.
  EXPECT_EQ(mesh.Record(1).RingSize(), 4);
}

TEST(FanBuilderBuild, FlatSquareLosesACornerOfItsDiagonal) {
  InputMesh square;
  square.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  square.triangles = {{0, 1, 2}, {0, 2, 3}};
  VolumeBuilder builder;
  Feed(builder, square);
  const auto meshes = builder.Build(0.5f, kStrategyStandard, nullptr);
  ASSERT_EQ(meshes.size(), 1u);
  const QXPck& mesh = *meshes[0];
  // Every corner straightens a gap of the same area and length: vertex 1 (0, 0)
  // goes first, and its hole becomes the triangle of the other three.
  EXPECT_EQ(mesh.splitIndex, 2);
  EXPECT_EQ(mesh.vertices[1].position, (Vector{0, 0, 0}));
  const builder_test::LevelCounts counts = builder_test::CheckFanMesh(mesh);
  EXPECT_EQ(counts.full, 2);
  EXPECT_EQ(counts.base, 1);
}

TEST(FanBuilderBuild, GridCentreGoesFirstAtZeroVolume) {
  // A 3 × 3 grid whose edge midpoints bulge out a little: only the centre
  // can go without changing the surface.
  InputMesh grid = builder_test::Grid(3, 0);
  grid.points[1].y = -0.1f;
  grid.points[3].x = -0.1f;
  grid.points[5].x = 2.1f;
  grid.points[7].y = 2.1f;
  std::swap(grid.points[4], grid.points[8]);  // the centre is welded last
  for (auto& t : grid.triangles)
    for (int& c : t) c = c == 4 ? 8 : (c == 8 ? 4 : c);
  for (int strategy : {kStrategyStandard, kStrategySculptor, kStrategyBatch}) {
    VolumeBuilder builder;
    Feed(builder, grid);
    // 8 × 0.25 = 2: exactly the centre's share (six triangles become four).
    const auto meshes = builder.Build(0.25f, strategy, nullptr);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0]->splitIndex, 2) << strategy;
    EXPECT_EQ(meshes[0]->vertices[1].position, (Vector{1, 1, 0})) << strategy;
    EXPECT_EQ(builder_test::CheckFanMesh(*meshes[0]).base, 6) << strategy;
  }
}

TEST(FanBuilderBuild, OneMeshPerGroupSharingBorderVertices) {
  InputMesh mesh = builder_test::Grid(4, 0);
  mesh.groups.assign(mesh.triangles.size(), 3);
  for (size_t t = 0; t < 6; ++t) mesh.groups[t] = 9;  // the first row of squares
  VolumeBuilder builder;
  Feed(builder, mesh);
  const auto meshes = builder.Build(0, kStrategyStandard, nullptr);
  ASSERT_EQ(meshes.size(), 2u);
  // The group built last (the second one met) comes first.
  EXPECT_EQ(meshes[0]->group, 3);
  EXPECT_EQ(meshes[1]->group, 9);
  EXPECT_EQ(builder_test::CheckFanMesh(*meshes[0]).full, 12);
  EXPECT_EQ(builder_test::CheckFanMesh(*meshes[1]).full, 6);
  // Row 1 (four vertices) belongs to both meshes.
  EXPECT_EQ(meshes[0]->vertexCount, 1 + 12);
  EXPECT_EQ(meshes[1]->vertexCount, 1 + 8);
}

// --- Properties over generated meshes ---------------------------------------------------

struct Case {
  const char* name;
  InputMesh mesh;
};

std::vector<Case> PropertyCases() {
  InputMesh two = builder_test::Sphere(8, 12);
  two.Append(builder_test::Sphere(6, 10, {3, 0, 0}, 0.7f));
  InputMesh open = builder_test::Sphere(10, 16);
  open.triangles.resize(open.triangles.size() / 2);  // the northern half and then some
  InputMesh grouped = builder_test::Grid(9, 0.2f, 3);
  for (size_t t = 0; t < grouped.triangles.size(); ++t) grouped.groups.push_back(t % 17 < 5 ? 1 : 2);
  return {{"sphere", builder_test::Sphere(12, 18)},
          {"noisy grid", builder_test::Grid(14, 0.3f)},
          {"two components", two},
          {"open", open},
          {"groups", grouped}};
}

std::unique_ptr<FanBuilder> MakeBuilder(int metric) {
  if (metric == 0) return std::make_unique<VolumeBuilder>();
  QuadricOptions options;
  options.pairContraction = metric == 2;
  options.meshQuality = metric == 2;
  options.areaNormalisation = metric == 2;
  return std::make_unique<QuadricBuilder>(options);
}

TEST(FanBuilderProperties, EveryLevelOfEveryBuildIsAValidMesh) {
  for (const Case& c : PropertyCases()) {
    for (int metric = 0; metric < 3; ++metric) {
      for (int strategy : {kStrategyStandard, kStrategySculptor, kStrategyBatch}) {
        SCOPED_TRACE(testing::Message() << c.name << ", metric " << metric << ", strategy " << strategy);
        std::unique_ptr<FanBuilder> builder = MakeBuilder(metric);
        Feed(*builder, c.mesh);
        const int64_t input = builder->FaceCount();
        const auto meshes = builder->Build(0.6f, strategy, nullptr);
        ASSERT_FALSE(meshes.empty());
        const builder_test::LevelCounts counts = CheckFanMeshes(meshes);
        EXPECT_EQ(counts.full, input);
        EXPECT_LT(counts.base, input);
        EXPECT_GE(counts.base, input * 4 / 10 - 2) << "removed more than asked";
      }
    }
  }
}

TEST(FanBuilderProperties, FlatGridNeverFolds) {
  // Removing vertices of a flat noisy grid must keep every triangle facing
  // the same way at every level (here -z: the builder reverses the input).
  // Quadrics see no error anywhere on a plane: only the mesh-quality penalty
  // keeps their collapses from folding.
  InputMesh grid = builder_test::Grid(12, 0.3f, 11);
  for (Vector& p : grid.points) p.z = 0;
  for (int metric = 0; metric < 2; ++metric) {
    QuadricOptions quality;
    quality.meshQuality = true;
    std::unique_ptr<FanBuilder> builder;
    if (metric == 0)
      builder = std::make_unique<VolumeBuilder>();
    else
      builder = std::make_unique<QuadricBuilder>(quality);
    Feed(*builder, grid);
    const auto meshes = builder->Build(0.7f, kStrategyStandard, nullptr);
    ASSERT_EQ(meshes.size(), 1u);
    const QXPck& mesh = *meshes[0];
    EXPECT_GT(mesh.splitIndex, 20) << "metric " << metric;
    for (Level level : {0, mesh.splitIndex / 2, mesh.splitIndex - 1})
      for (float z : builder_test::NormalZ(mesh, level)) EXPECT_LT(z, 0) << "metric " << metric << " level " << level;
  }
}

TEST(FanBuilderProperties, RefinementVerticesAreTheRemovedOnes) {
  // Each refinement vertex v, inserted at level v, removes exactly the shown
  // triangles with dependency v and adds its own: the shown count changes by
  // (own triangles) − (triangles depending on v).
  VolumeBuilder builder;
  Feed(builder, builder_test::Sphere(10, 14));
  const auto meshes = builder.Build(0.5f, kStrategyStandard, nullptr);
  ASSERT_EQ(meshes.size(), 1u);
  const QXPck& mesh = *meshes[0];
  std::vector<int> dependents(static_cast<size_t>(mesh.vertexCount), 0);
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    const RecordView record = mesh.Record(v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const DependencyGroup group = record.Group(g);
      for (int j = 0; j < record.RingSize(); ++j) dependents[group.dependency] += group.Has(j);
    }
  }
  for (VertexIndex v = 1; v < mesh.splitIndex; ++v) {
    EXPECT_GT(dependents[v], 0) << "refinement vertex " << v << " fills no hole";
    const int64_t before = ForEachFan(mesh, v, [](const Fan&) {});
    const int64_t after = ForEachFan(mesh, v - 1, [](const Fan&) {});
    int own = 0;
    const RecordView record = mesh.Record(v);
    for (int g = 0; g < record.GroupCount(); ++g)
      for (int j = 0; j < record.RingSize(); ++j) own += record.Group(g).Has(j);
    EXPECT_EQ(after - before, own - dependents[v]) << v;
  }
}

TEST(FanBuilderProperties, StoppingEarlyStillGivesAValidMesh) {
  const InputMesh sphere = builder_test::Sphere(12, 18);
  for (int strategy : {kStrategyStandard, kStrategySculptor, kStrategyBatch}) {
    int calls = 0;
    QuadricBuilder builder;
    Feed(builder, sphere);
    const int64_t input = builder.FaceCount();
    const auto meshes = builder.Build(0.9f, strategy, [&calls](float) { return ++calls < 12; });
    ASSERT_EQ(meshes.size(), 1u);
    // The two calls before simplification, then ten removals at most.
    EXPECT_LE(meshes[0]->splitIndex, 11) << strategy;
    EXPECT_GE(meshes[0]->splitIndex, 2) << strategy;
    EXPECT_EQ(CheckFanMeshes(meshes).full, input);
  }
  // A stop before simplification removes nothing.
  QuadricBuilder builder;
  Feed(builder, sphere);
  const auto meshes = builder.Build(0.9f, kStrategyStandard, [](float fraction) { return fraction < 1; });
  EXPECT_EQ(meshes[0]->splitIndex, 1);
}

TEST(FanBuilderProperties, UnknownStrategyRemovesNothing) {
  VolumeBuilder builder;
  Feed(builder, builder_test::Sphere(6, 8));
  const auto meshes = builder.Build(0.5f, 3, nullptr);
  ASSERT_EQ(meshes.size(), 1u);
  EXPECT_EQ(meshes[0]->splitIndex, 1);
}

// --- Separate parts ----------------------------------------------------------------

// The volume each of `parts` spheres (told apart by their centres' x, `spacing`
// apart from x = 0 on) encloses in `mesh` at `level`, by the divergence
// theorem over the triangles shown.
std::vector<double> PartVolumes(const QXPck& mesh, Level level, int parts, float spacing) {
  std::vector<double> volumes(static_cast<size_t>(parts), 0.0);
  ForEachFan(mesh, level, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i) {
      const Vector a = mesh.vertices[fan.centre].position, b = mesh.vertices[fan.Corner1(i)].position,
                   c = mesh.vertices[fan.Corner2(i)].position;
      const int part = std::clamp(static_cast<int>(std::lround((a.x + b.x + c.x) / 3 / spacing)), 0, parts - 1);
      volumes[static_cast<size_t>(part)] += Dot(a, Cross(b, c)) / 6.0;
    }
  });
  return volumes;
}

// Three spheres, welded one after another, simplified to a tenth of their
// triangles. "Standard" and "Batch" choose among all vertices and keep every
// part. "Sculptor" descends from vertex 1 in index order and follows the
// cheapest corner of each fill, which never leaves the part it is in: it
// carves the first-welded parts down before it touches the last one.
TEST(FanBuilderParts, SeparateClosedPartsAtTheBaseLevel) {
  constexpr int kParts = 3;
  constexpr float kSpacing = 4;
  InputMesh input;
  for (int part = 0; part < kParts; ++part)
    input.Append(builder_test::Sphere(10, 14, {kSpacing * static_cast<float>(part), 0, 0}));
  for (int metric = 0; metric < 2; ++metric)
    for (int strategy : {kStrategyStandard, kStrategySculptor, kStrategyBatch}) {
      SCOPED_TRACE(testing::Message() << "metric " << metric << ", strategy " << strategy);
      std::unique_ptr<FanBuilder> builder = MakeBuilder(metric);
      Feed(*builder, input);
      const auto meshes = builder->Build(0.9f, strategy, nullptr);
      ASSERT_EQ(meshes.size(), 1u);
      const QXPck& mesh = *meshes[0];
      const std::vector<double> full = PartVolumes(mesh, 0, kParts, kSpacing);
      const std::vector<double> base = PartVolumes(mesh, mesh.splitIndex - 1, kParts, kSpacing);
      std::vector<double> kept;
      for (int part = 0; part < kParts; ++part) kept.push_back(base[part] / full[part]);
      if (strategy == kStrategySculptor) {
        EXPECT_LT(kept[0], 0.15);
        EXPECT_LT(kept[1], 0.15);
        EXPECT_GT(kept[2], 0.75);
      } else {
        for (int part = 0; part < kParts; ++part) EXPECT_GT(kept[part], 0.4) << "part " << part;
      }
    }
}

}  // namespace
}  // namespace qx
