// Pictures of small scenes drawn offscreen, checked by pixel statistics:
// coverage, background, shading choices, draw modes, levels of detail,
// antialiasing, stippling and batching.
#include <gtest/gtest.h>

#include "fan/fan_walk.h"
#include "view/draw_modes.h"
#include "view/fan_drawers.h"
#include "view_test_support.h"

namespace qx {
namespace {

using namespace view_test;

class RenderTest : public OffscreenView {};

int64_t FullTriangles(const QXPck& mesh) {
  return ForEachFan(mesh, 0, [](const Fan&) {});
}

TEST_F(RenderTest, FacingTriangleCoversTheCentreAndTheBackgroundFillsTheCorners) {
  view_.SetLighting(false);
  Add(BuildMesh({{Vector{-1, -1, 0}, Vector{1, -1, 0}, Vector{0, 1.2f, 0}}}), Material({1, 0, 0, 1}));
  view_.SetCullFace(true);  // the triangle faces the eye: culling keeps it
  Show(Vector{0, 0, 3});
  const Picture picture = Render();
  EXPECT_EQ(picture.At(kSize / 2, kSize / 2), (Rgb{255, 0, 0}));
  for (auto [x, y] : {std::pair{0, 0}, {kSize - 1, 0}, {0, kSize - 1}, {kSize - 1, kSize - 1}})
    EXPECT_EQ(picture.At(x, y), kWhite) << x << "," << y;
  // The wide base is at the bottom of the picture, the apex at the top.
  EXPECT_EQ(picture.At(kSize / 2 + 30, kSize - 10), (Rgb{255, 0, 0}));
  EXPECT_EQ(picture.At(kSize / 2 + 30, 10), kWhite);
  EXPECT_EQ(view_.TriangleCount(), 1);
}

TEST_F(RenderTest, CulledBackFacesLeaveTheBackground) {
  view_.SetLighting(false);
  Add(BuildMesh({{Vector{-1, -1, 0}, Vector{1, -1, 0}, Vector{0, 1.2f, 0}}}), Material({1, 0, 0, 1}));
  view_.SetCullFace(true);
  Show(Vector{0, 0, -3});
  EXPECT_EQ(Render().CountNot(kWhite), 0);
  view_.SetCullFace(false);
  EXPECT_GT(Render().CountNot(kWhite), 0);
}

// Sphere on the left, cube on the right: two meshes whose creases lie far
// apart, so one shading level sits between them.
class ShadingTest : public OffscreenView {
 protected:
  void SetUp() override {
    OffscreenView::SetUp();
    sphere_ = Add(BuildMesh(Sphere(2, {-1.2f, 0, 0}, 1)))->mesh;
    cube_ = Add(BuildMesh(Cube({1.2f, 0, 0}, 0.7f)))->mesh;
    Show(Vector{1.5f, 2, 6});
  }
  Picture RenderAt(float level) {
    view_.SetShadingLevel(level);
    return Render();
  }
  // Creases of the fan centres (vertices without a ring draw nothing).
  static std::pair<float, float> CreaseRange(const QXPck& mesh) {
    float low = 1, high = 0;
    for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
      if (mesh.Record(v).RingSize() == 0) continue;
      const float crease = mesh.Record(v).Metrics().crease;
      low = std::min(low, crease);
      high = std::max(high, crease);
    }
    return {low, high};
  }
  // Pixels of one half (left or right) where the two pictures differ by
  // more than `slack` in some channel.
  static int Differences(const Picture& a, const Picture& b, bool leftHalf, int slack) {
    int count = 0;
    for (int y = 0; y < a.height; ++y)
      for (int x = leftHalf ? 0 : a.width / 2; x < (leftHalf ? a.width / 2 : a.width); ++x)
        count += ChannelDifference(a.At(x, y), b.At(x, y)) > slack;
    return count;
  }

  QXPck* sphere_ = nullptr;
  QXPck* cube_ = nullptr;
};

TEST_F(ShadingTest, FlatAndSmoothDifferAndALevelBetweenFollowsTheCrease) {
  const auto [sphereLow, sphereHigh] = CreaseRange(*sphere_);
  const auto [cubeLow, cubeHigh] = CreaseRange(*cube_);
  ASSERT_LT(sphereHigh, cubeLow);
  const Picture smooth = RenderAt(1), flat = RenderAt(0);
  EXPECT_GT(Differences(smooth, flat, true, 2), 50);   // the sphere's facets show
  EXPECT_GT(Differences(smooth, flat, false, 2), 50);  // the cube's corners blur
  // Between the two meshes' creases: the sphere is drawn smooth, the cube flat.
  const Picture between = RenderAt((sphereHigh + cubeLow) / 2);
  EXPECT_EQ(Differences(between, smooth, true, 2), 0);
  EXPECT_EQ(Differences(between, flat, false, 0), 0);
  // Below every crease the whole picture is the flat one.
  const Picture below = RenderAt(sphereLow / 2);
  EXPECT_EQ(Differences(below, flat, true, 0) + Differences(below, flat, false, 0), 0);
}

TEST_F(ShadingTest, VertexArraysDrawTheSamePictureAsTheImmediatePath) {
  view_.SetShadingLevel(1);
  const Picture immediate = Render();
  const int64_t triangles = view_.TriangleCount();
  view_.SetUseVertexArray(true);
  const Picture arrays = Render();
  EXPECT_EQ(view_.TriangleCount(), triangles);
  EXPECT_EQ(Differences(immediate, arrays, true, 2) + Differences(immediate, arrays, false, 2), 0);
  EXPECT_EQ(triangles, FullTriangles(*sphere_) + FullTriangles(*cube_));
}

TEST(FanShading, LevelChoosesTheDrawer) {
  EXPECT_EQ(ShadingForLevel(1), FanShading::kSmooth);
  EXPECT_EQ(ShadingForLevel(0), FanShading::kFlat);
  EXPECT_EQ(ShadingForLevel(0.5f), FanShading::kByLevel);
  const Vector n = FlatNormal({0, 0, 0}, {2, 0, 0}, {0, 3, 0});
  EXPECT_FLOAT_EQ(n.z, 1);
  // A degenerate triangle keeps its (zero) normal rather than dividing by 0.
  EXPECT_EQ(FlatNormal({0, 0, 0}, {1, 0, 0}, {2, 0, 0}), (Vector{0, 0, 0}));
}

class DrawModeTest : public OffscreenView {
 protected:
  void SetUp() override {
    OffscreenView::SetUp();
    view_.SetLighting(false);
    view_.SetCullFace(false);
    Add(BuildMesh(Cube({0, 0, 0}, 1)), Material({0, 0, 0, 1}));
    Show(Vector{2.5f, 3, 4});
  }
  int InkFor(int mode) {
    view_.SetDrawMode(mode);
    return Render().CountNot(kWhite);
  }
};

TEST_F(DrawModeTest, EdgesAndHiddenLinesDrawLinesAndHiddenLinesHidesTheBackOnes) {
  const int solid = InkFor(kDrawSolid);
  const int edges = InkFor(kDrawEdges);
  const int hidden = InkFor(kDrawHiddenLines);
  const int points = InkFor(kDrawPoints);
  EXPECT_GT(edges, 0);
  EXPECT_LT(edges, solid / 2);  // lines, not faces
  EXPECT_GT(hidden, edges / 3);
  EXPECT_LT(hidden, edges);  // the back edges are gone
  EXPECT_GT(points, 0);
  EXPECT_LT(points, edges);
  const int hiddenPoints = InkFor(kDrawHiddenPoints);
  EXPECT_GT(hiddenPoints, 0);
  EXPECT_LT(hiddenPoints, points);  // the far corner is hidden
}

TEST_F(RenderTest, ToleranceOneDrawsNothingAndZeroTheFullMesh) {
  QXPck* mesh = Add(BuildMesh(Sphere(2), 0.6f))->mesh;
  ASSERT_GT(mesh->splitIndex, 1);
  Show();
  view_.SetTolerance(1);
  EXPECT_EQ(Render().CountNot(kWhite), 0);
  EXPECT_EQ(view_.TriangleCount(), 0);
  view_.SetTolerance(0);
  const int fullInk = Render().CountNot(kWhite);
  EXPECT_EQ(view_.TriangleCount(), FullTriangles(*mesh));
  EXPECT_GT(fullInk, 0);
  // The base mesh: fewer triangles, still a picture.
  view_.SetTolerance(static_cast<float>(mesh->splitIndex - 1) / static_cast<float>(mesh->vertexCount));
  Render();
  EXPECT_LT(view_.TriangleCount(), FullTriangles(*mesh));
  EXPECT_GT(view_.TriangleCount(), 0);
  // The full-detail mode ignores the tolerance.
  view_.SetRefinementMode(kRefineFull);
  view_.SetTolerance(1);
  Render();
  EXPECT_EQ(view_.TriangleCount(), FullTriangles(*mesh));
}

TEST_F(RenderTest, AntialiasingChangesOnlyPixelsNearEdges) {
  Add(BuildMesh(Cube({0, 0, 0}, 1)), Material({0.9f, 0.3f, 0.1f, 1}));
  Show();
  const Picture plain = Render();
  view_.Accumulate(0, GLWindow::kLastAccumulationStep);
  const Picture smooth = ReadPicture(kSize, kSize);
  // An edge pixel: some neighbour within two pixels has another colour.
  const auto nearEdge = [&](int x, int y) {
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int nx = std::clamp(x + dx, 0, kSize - 1), ny = std::clamp(y + dy, 0, kSize - 1);
        if (ChannelDifference(plain.At(nx, ny), plain.At(x, y)) > 2) return true;
      }
    return false;
  };
  int changedNearEdges = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const int difference = ChannelDifference(plain.At(x, y), smooth.At(x, y));
      if (nearEdge(x, y))
        changedNearEdges += difference > 8;
      else
        EXPECT_LE(difference, 2) << x << "," << y;
    }
  EXPECT_GT(changedNearEdges, 20);
}

TEST_F(RenderTest, AntialiasingAgainAfterAMoveKeepsNothingOfTheOldPicture) {
  Add(BuildMesh(Cube({0, 0, 0}, 0.6f)), Material({0.9f, 0.3f, 0.1f, 1}));
  Show(Vector{0, 0, 4});
  Camera& camera = view_.GetCamera();
  const auto lookFrom = [&](float x) {
    camera.eye = {x, 0, 4};
    camera.target = camera.goal = {x, 0, 0};
  };
  const auto antialiasByTheTimer = [&] {
    view_.SetAntialiasing(true);
    view_.Paint();
    for (int tick = 0; tick < GLWindow::kAntialiasLastTick; ++tick) view_.OnTimer();
    return ReadPicture(kSize, kSize);
  };
  lookFrom(1.2f);  // the cube left of the centre
  const Picture moved = Render();
  lookFrom(0);
  const Picture before = Render();
  antialiasByTheTimer();
  lookFrom(1.2f);
  const Picture after = antialiasByTheTimer();
  int oldCubePixels = 0;
  for (int y = 2; y < kSize - 2; ++y)
    for (int x = 2; x < kSize - 2; ++x) {
      bool edge = false;
      for (int d = -2; d <= 2; ++d)
        edge |= moved.At(x + d, y) != moved.At(x, y) || moved.At(x, y + d) != moved.At(x, y);
      if (edge) continue;
      oldCubePixels += before.At(x, y) != moved.At(x, y);
      EXPECT_LE(ChannelDifference(after.At(x, y), moved.At(x, y)), 2) << x << "," << y;
    }
  EXPECT_GT(oldCubePixels, 200) << "the move must uncover part of the old picture";
}

TEST_F(RenderTest, TranslucentMaterialLeavesACheckerboard) {
  Add(BuildMesh(Square({0, 0, 0}, 2)), Material({0, 0, 1, 0.5f}));
  Show(Vector{0, 0, 3});
  const Picture picture = Render();
  int alternations = 0, checks = 0;
  for (int y = kSize / 2 - 8; y < kSize / 2 + 8; ++y)
    for (int x = kSize / 2 - 8; x < kSize / 2 + 8; ++x) {
      const bool covered = picture.At(x, y) != kWhite;
      EXPECT_EQ(covered, picture.At(x + 1, y + 1) != kWhite);  // diagonal neighbours match
      alternations += covered != (picture.At(x + 1, y) != kWhite);
      ++checks;
    }
  EXPECT_EQ(alternations, checks);
  // An opaque material fills the same square.
  scene_.roots->material = Material({0, 0, 1, 1});
  EXPECT_NE(Render().At(kSize / 2, kSize / 2), kWhite);
  EXPECT_NE(Render().At(kSize / 2 + 1, kSize / 2), kWhite);
}

TEST_F(RenderTest, EveryQueuedInstanceIsDrawnOnceAcrossBatches) {
  std::unique_ptr<QXPck> owned = BuildMesh(Cube({0, 0, 0}, 0.1f));
  QXPck* mesh = owned.get();
  Add(std::move(owned));
  const int instances = 3 * MeshRenderer::kBatchBound + 17;
  for (int i = 1; i < instances; ++i) {
    QXMatrix* matrix = scene_.FindOrAddMatrix(
        TranslationMatrix({0.3f * static_cast<float>(i % 20), 0, 0.3f * static_cast<float>(i / 20)}));
    scene_.AddRoot(mesh, nullptr, matrix);
  }
  Show();
  Render();
  EXPECT_EQ(view_.TriangleCount(), instances * FullTriangles(*mesh));
  EXPECT_EQ(view_.NodesVisited(), instances);
  EXPECT_EQ(view_.Renderer().Queued(), 0);
}

TEST_F(RenderTest, ChildMatrixAppliesBeforeItsParents) {
  view_.SetLighting(false);
  // Parent scales by 0.5 about the origin, child moves by (2, 0, 0): the
  // square lands at x = 1, not 2.
  Matrix scale = IdentityMatrix();
  scale[0] = scale[5] = scale[10] = 0.5f;
  QXHier* parent = Add(BuildMesh(Square({0, 0, 0}, 0.4f)), Material({0, 1, 0, 1}), scene_.FindOrAddMatrix(scale));
  QXPck* square = scene_.meshes;
  auto* child = new QXHier;
  child->mesh = BuildMesh(Square({0, 0, 0}, 0.2f)).release();
  scene_.AddMesh(child->mesh);
  child->matrix = scene_.FindOrAddMatrix(TranslationMatrix({2, 0, 0}));
  child->material = Material({1, 0, 0, 1});
  parent->firstChild = child;
  ASSERT_NE(square, child->mesh);
  scene_.UpdateBox();
  Show(Vector{0, 0, 4});
  const Picture picture = Render();
  // Project world (1, 0, 0) as the camera does.
  const Camera& camera = view_.GetCamera();
  const Vector v = TransformPoint(ViewMatrix(camera.eye, camera.target), {1, 0, 0});
  const Matrix p = ProjectionMatrix(camera.fov, camera.aspect, 1, 10);
  const float ndcX = p[0] * v.x / v.z;
  const int x = static_cast<int>((ndcX + 1) / 2 * kSize);
  EXPECT_EQ(picture.At(x, kSize / 2), (Rgb{255, 0, 0}));
  EXPECT_EQ(picture.At(kSize / 2, kSize / 2), (Rgb{0, 255, 0}));
}

}  // namespace
}  // namespace qx
