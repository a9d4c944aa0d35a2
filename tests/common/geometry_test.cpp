#include "common/geometry.h"

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace qx {
namespace {

void ExpectNear(Vector actual, Vector expected, float tolerance = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(Vector, NormalizeLeavesTinyVectorsAlone) {
  ExpectNear(Normalize({3, 0, 4}), {0.6f, 0, 0.8f});
  const Vector tiny{1e-11f, 0, 0};
  EXPECT_EQ(Normalize(tiny), tiny);
}

TEST(Matrix, ProductAppliesLeftOperandFirst) {
  // Rotate a quarter turn about z, then translate along x.
  const Matrix rotate = RotationMatrix({0, 0, 1}, std::numbers::pi_v<float> / 2);
  const Matrix translate = TranslationMatrix({10, 0, 0});
  ExpectNear(TransformPoint(MatrixProduct(rotate, translate), {1, 0, 0}), {10, 1, 0});
  ExpectNear(TransformPoint(MatrixProduct(translate, rotate), {1, 0, 0}), {0, 11, 0});
}

TEST(Matrix, RotationAboutArbitraryAxisKeepsAxisFixed) {
  const Vector axis{1, 1, 1};
  const Matrix m = RotationMatrix(axis, 1.2f);
  ExpectNear(TransformPoint(m, axis), axis);
  // A third of a turn about (1,1,1) cycles the coordinate axes.
  ExpectNear(TransformPoint(RotationMatrix(axis, 2 * std::numbers::pi_v<float> / 3), {1, 0, 0}), {0, 1, 0});
}

TEST(Box, EmptyBoxGrowsToFirstPointAndIgnoresEmptyBoxes) {
  Box box;
  EXPECT_TRUE(box.Empty());
  EXPECT_TRUE(ExtendBox(box, Vector{1, 2, 3}));
  EXPECT_FALSE(box.Empty());
  ExpectNear(box.centre, {1, 2, 3});
  ExpectNear(box.half, {0, 0, 0});
  EXPECT_FALSE(ExtendBox(box, Vector{1, 2, 3}));
  EXPECT_FALSE(ExtendBox(box, Box{}));
  EXPECT_TRUE(ExtendBox(box, Vector{-1, 2, 7}));
  ExpectNear(box.Lo(), {-1, 2, 3});
  ExpectNear(box.Hi(), {1, 2, 7});
  EXPECT_NEAR(box.Radius(), std::sqrt(1.0f + 4.0f), 1e-6f);
}

TEST(Box, TransformTakesExtremesOfRotatedCorners) {
  const Box box = Box::FromCorners({0, 0, 0}, {2, 1, 1});
  const Matrix quarterTurn = MatrixProduct(RotationMatrix({0, 0, 1}, std::numbers::pi_v<float> / 2),
                                           TranslationMatrix({5, 0, 0}));
  const Box moved = TransformBox(quarterTurn, box);
  ExpectNear(moved.Lo(), {4, 0, 0});
  ExpectNear(moved.Hi(), {5, 2, 1});
  EXPECT_TRUE(TransformBox(quarterTurn, Box{}).Empty());
}

}  // namespace
}  // namespace qx
