// The occlusion analysis on small scenes drawn offscreen: what each mode
// finds, the directions, translucency, batches, small viewports and cancel.
#include "tools/occlusion.h"

#include <gtest/gtest.h>

#include <numbers>
#include <set>
#include <utility>

#include "tools/colour_table.h"
#include "tools/occlusion_geometry.h"
#include "view_test_support.h"

namespace qx {
namespace {

using view_test::BuildMesh;
using view_test::Cube;
using view_test::Square;
using view_test::Triangle;

std::vector<Triangle> Reversed(std::vector<Triangle> triangles) {
  for (Triangle& t : triangles) std::swap(t[1], t[2]);
  return triangles;
}

class OcclusionTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(surface_.CreateContext()); }

  QXHier* Add(const std::vector<Triangle>& triangles, QXMaterial* material = nullptr) {
    QXPck* mesh = BuildMesh(triangles).release();
    scene_.AddMesh(mesh);
    return scene_.AddRoot(mesh, material);
  }
  QXMaterial* Material(float alpha) { return scene_.FindOrAddMaterial({}, {0.5f, 0.5f, 0.5f, alpha}, {}, 0); }

  OcclusionResult Run(OcclusionMode mode, int iterations = 16, int colours = 4096,
                      const OcclusionProgress& progress = {}) {
    OcclusionOptions options;
    options.mode = mode;
    options.iterations = iterations;
    options.colours = colours;
    options.regular = true;
    options.logBatches = false;
    return FindOccluded(scene_, options, surface_, progress);
  }

  OsMesaSurface surface_{128, 128};
  QXScene scene_;
};

TEST_F(OcclusionTest, FindsTheBoxInsideABoxAndNeverASingleObject) {
  QXHier* outer = Add(Cube({0, 0, 0}, 1));
  EXPECT_EQ(Run(OcclusionMode::kObjects).objectsLeftSelected, 0);
  EXPECT_FALSE(outer->selected);
  QXHier* inner = Add(Cube({0.1f, 0, 0}, 0.4f));
  const OcclusionResult result = Run(OcclusionMode::kObjects);
  EXPECT_TRUE(result.ran);
  EXPECT_EQ(result.tableSize, 2);  // cut to the objects
  EXPECT_EQ(result.directions, 16);
  EXPECT_TRUE(inner->selected);
  EXPECT_FALSE(outer->selected);
  EXPECT_EQ(result.objectsLeftSelected, 1);
}

TEST_F(OcclusionTest, TranslucentObjectsHideNothing) {
  Add(Cube({0, 0, 0}, 1), Material(0.5f));
  QXHier* inner = Add(Cube({0, 0, 0}, 0.4f));
  Run(OcclusionMode::kObjects);
  EXPECT_FALSE(inner->selected);
}

TEST_F(OcclusionTest, OrientationModeKeepsAnObjectFacingInwardsSelected) {
  QXHier* outward = Add(Cube({-2, 0, 0}, 0.5f));
  QXHier* inward = Add(Reversed(Cube({2, 0, 0}, 0.5f)));
  Run(OcclusionMode::kOrientation);
  EXPECT_FALSE(outward->selected);
  EXPECT_TRUE(inward->selected);
  Run(OcclusionMode::kObjects);  // without culling both are seen
  EXPECT_FALSE(inward->selected);
}

TEST_F(OcclusionTest, FaceModeRemovesExactlyTheInnerFacesInSeveralBatches) {
  std::vector<Triangle> triangles = Cube({0, 0, 0}, 1);
  const std::vector<Triangle> wall = Square({0.1f, 0, 0.2f}, 0.5f);
  triangles.insert(triangles.end(), wall.begin(), wall.end());
  QXHier* node = Add(triangles);
  QXPck* before = node->mesh;
  const OcclusionResult result = Run(OcclusionMode::kFaces, 16, 5);
  EXPECT_GT(result.batches, result.directions);  // 14 faces, 5 colours
  EXPECT_EQ(result.facesBefore, 14);
  EXPECT_EQ(result.facesAfter, 12);
  EXPECT_EQ(result.meshesRebuilt, 1);
  ASSERT_NE(node->mesh, nullptr);
  EXPECT_NE(node->mesh, before);
  EXPECT_EQ(scene_.meshes, node->mesh);
  // The faces left are the cube's, each showing the same side as before.
  std::set<std::array<float, 9>> left, cube;
  ForEachFan(*node->mesh, 0, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i) {
      const Vector a = node->mesh->vertices[fan.centre].position, b = node->mesh->vertices[fan.Corner1(i)].position,
                   c = node->mesh->vertices[fan.Corner2(i)].position;
      // Each triangle as its three rotations' smallest, so the start corner does not matter.
      left.insert(std::min({std::array{a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z},
                            std::array{b.x, b.y, b.z, c.x, c.y, c.z, a.x, a.y, a.z},
                            std::array{c.x, c.y, c.z, a.x, a.y, a.z, b.x, b.y, b.z}}));
    }
  });
  QXPck* reference = BuildMesh(Cube({0, 0, 0}, 1)).release();
  ForEachFan(*reference, 0, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i) {
      const Vector a = reference->vertices[fan.centre].position, b = reference->vertices[fan.Corner1(i)].position,
                   c = reference->vertices[fan.Corner2(i)].position;
      cube.insert(std::min({std::array{a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z},
                            std::array{b.x, b.y, b.z, c.x, c.y, c.z, a.x, a.y, a.z},
                            std::array{c.x, c.y, c.z, a.x, a.y, a.z, b.x, b.y, b.z}}));
    }
  });
  delete reference;
  EXPECT_EQ(left, cube);
}

TEST_F(OcclusionTest, CancelKeepsTheMarksSoFarAndRebuildsNothing) {
  Add(Cube({0, 0, 2}, 0.5f));
  QXHier* behind = Add(Cube({0, 0, -2}, 0.5f));
  int calls = 0;
  const auto stopAtOnce = [&](float) { return ++calls > 1; };
  // The first regular direction looks along the z axis: the front cube hides the other.
  OcclusionResult result = Run(OcclusionMode::kObjects, 16, 4096, stopAtOnce);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.directions, 1);
  EXPECT_TRUE(behind->selected);
  calls = 0;
  QXPck* mesh = behind->mesh;
  result = Run(OcclusionMode::kFaces, 16, 4096, stopAtOnce);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(behind->mesh, mesh);
  EXPECT_EQ(result.meshesRebuilt + result.meshesFreed, 0);
  EXPECT_FALSE(Run(OcclusionMode::kObjects).cancelled);
  EXPECT_FALSE(behind->selected);
}

TEST_F(OcclusionTest, ASmallViewportGivesASmallerTableAndStillWorks) {
  OsMesaSurface tiny(3, 2);
  ASSERT_TRUE(tiny.CreateContext());
  QXHier* node = Add(Cube({0, 0, 0}, 1));
  OcclusionOptions options;
  options.mode = OcclusionMode::kFaces;
  options.logBatches = false;
  options.iterations = 4;
  const OcclusionResult result = FindOccluded(scene_, options, tiny);
  EXPECT_TRUE(result.ran);
  EXPECT_GT(result.tableSize, 0);
  EXPECT_LE(result.tableSize, 6);
  EXPECT_NE(node->mesh, nullptr);
}

TEST_F(OcclusionTest, ScenesItCannotAnalyseAreLeftAlone) {
  EXPECT_TRUE(Run(OcclusionMode::kObjects).ran);
  EXPECT_EQ(Run(OcclusionMode::kFaces).directions, 0);  // empty
  QXHier* node = Add(Cube({0, 0, 0}, 1));
  scene_.loading = true;
  EXPECT_FALSE(Run(OcclusionMode::kFaces).ran);
  scene_.loading = false;
  // Deeper than the analysis goes: refused, not analysed in part.
  for (int depth = 0; depth < kMaxAnalysedDepth; ++depth) {
    auto* child = new QXHier;
    child->mesh = node->mesh;
    child->firstChild = std::exchange(node->firstChild, child);
    node = child;
  }
  node->selected = false;
  const OcclusionResult result = Run(OcclusionMode::kObjects);
  EXPECT_TRUE(result.tooLarge);
  EXPECT_FALSE(result.ran);
  EXPECT_FALSE(node->selected);
}

TEST(OcclusionDirections, RegularKTwoGivesTheFourStatedDirections) {
  constexpr float pi = std::numbers::pi_v<float>;
  Random15 random;
  const DirectionAngles expected[] = {{0, 0}, {0, pi}, {pi / 2, 0}, {pi / 2, pi}};
  for (int i = 0; i < 4; ++i) {
    const DirectionAngles angles = OcclusionDirection(i, 2, true, random);
    EXPECT_FLOAT_EQ(angles.theta, expected[i].theta) << i;
    EXPECT_FLOAT_EQ(angles.phi, expected[i].phi) << i;
  }
  Random15 first, second;
  const DirectionAngles a = OcclusionDirection(0, 2, false, first), b = OcclusionDirection(0, 2, false, second);
  EXPECT_EQ(a.theta, b.theta);  // seeded alike: runs repeat
  EXPECT_GT(a.theta, 0);
  EXPECT_LT(a.phi, 2 * pi);
}

TEST(OcclusionDialog, ListsSelectTheSidesOfTheStoredValues) {
  EXPECT_EQ(IterationsListSide(100), 10);
  EXPECT_EQ(IterationsListSide(1), 2);
  EXPECT_EQ(IterationsListSide(1 << 20), 63);
  EXPECT_EQ(ColoursListSide(16384), 25);
  EXPECT_EQ(ColoursListSide(27), 3);
}

}  // namespace
}  // namespace qx
