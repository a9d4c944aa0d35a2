#include "import/ear_clipping.h"

#include <cmath>
#include <numbers>
#include <numeric>
#include <set>

#include <gtest/gtest.h>

namespace qx {
namespace {

std::vector<int> Corners(size_t n) {
  std::vector<int> polygon(n);
  std::iota(polygon.begin(), polygon.end(), 0);
  return polygon;
}

// Polygon outline in the z = 0 plane.
std::vector<Vector> Outline(std::initializer_list<std::array<float, 2>> xy) {
  std::vector<Vector> points;
  for (const auto& p : xy) points.push_back({p[0], p[1], 0});
  return points;
}

// Half the sum of corner cross products (in double, for long outlines): its
// length is the area of a planar polygon.
Vector AreaNormal(const std::vector<Vector>& points, const std::vector<int>& polygon) {
  double n[3] = {0, 0, 0};
  for (size_t i = 0; i < polygon.size(); ++i) {
    const Vector p = points[polygon[i]], q = points[polygon[(i + 1) % polygon.size()]];
    n[0] += double(p.y) * q.z - double(p.z) * q.y;
    n[1] += double(p.z) * q.x - double(p.x) * q.z;
    n[2] += double(p.x) * q.y - double(p.y) * q.x;
  }
  return {float(n[0] / 2), float(n[1] / 2), float(n[2] / 2)};
}

// Whether point p lies inside the polygon, by crossings in the plane that
// drops the polygon normal's largest axis.
bool InsidePolygon(const std::vector<Vector>& points, const std::vector<int>& polygon, Vector p, Vector normal) {
  const int drop = std::fabs(normal.z) >= std::fabs(normal.x) && std::fabs(normal.z) >= std::fabs(normal.y) ? 2
                   : std::fabs(normal.y) >= std::fabs(normal.x)                                          ? 1
                                                                                                         : 0;
  const int u = drop == 0 ? 1 : 0, v = drop == 2 ? 1 : 2;
  bool inside = false;
  for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const Vector a = points[polygon[i]], b = points[polygon[j]];
    if ((a[v] > p[v]) != (b[v] > p[v]) && p[u] < (b[u] - a[u]) * (p[v] - a[v]) / (b[v] - a[v]) + a[u])
      inside = !inside;
  }
  return inside;
}

// A simple polygon's triangulation: n - 2 triangles of its own corners, each
// turning like the polygon and lying inside it, together covering its area.
void ExpectCovers(const std::vector<Vector>& points, const std::vector<int>& polygon) {
  const std::vector<TriangleIndices> triangles = TriangulatePolygon(points, polygon);
  ASSERT_EQ(triangles.size(), polygon.size() - 2);
  const Vector normal = AreaNormal(points, polygon);
  const Vector unit = Normalize(normal);
  const std::set<int> corners(polygon.begin(), polygon.end());
  double area = 0;
  for (const TriangleIndices& t : triangles) {
    for (int index : t) EXPECT_TRUE(corners.count(index)) << index;
    const Vector a = points[t[0]], b = points[t[1]], c = points[t[2]];
    const float signedArea = 0.5f * Dot(Cross(b - a, c - a), unit);
    EXPECT_GE(signedArea, -1e-6f) << "triangle " << t[0] << " " << t[1] << " " << t[2] << " turns the wrong way";
    if (signedArea > 1e-6f) {
      const Vector centroid = (a + b + c) * (1.0f / 3);
      EXPECT_TRUE(InsidePolygon(points, polygon, centroid, normal))
          << "triangle " << t[0] << " " << t[1] << " " << t[2] << " lies outside";
    }
    area += signedArea;
  }
  EXPECT_NEAR(area, Length(normal), 1e-4 * Length(normal));
}

TEST(EarClipping, ConvexPolygonsAreCutIntoNMinusTwoTriangles) {
  std::vector<Vector> hexagon;
  for (int k = 0; k < 6; ++k) {
    const float angle = static_cast<float>(k) * std::numbers::pi_v<float> / 3;
    hexagon.push_back({std::cos(angle), std::sin(angle), 0});
  }
  ExpectCovers(hexagon, Corners(6));
  // The same clockwise, and a triangle alone.
  ExpectCovers(hexagon, {5, 4, 3, 2, 1, 0});
  EXPECT_EQ(TriangulatePolygon(hexagon, std::vector<int>{4, 0, 2}), (std::vector<TriangleIndices>{{4, 0, 2}}));
}

TEST(EarClipping, FewerThanThreeCornersGiveNothing) {
  const std::vector<Vector> points = Outline({{0, 0}, {1, 0}});
  EXPECT_TRUE(TriangulatePolygon(points, std::vector<int>{0, 1}).empty());
  EXPECT_TRUE(TriangulatePolygon(points, std::vector<int>{}).empty());
}

TEST(EarClipping, ConcavePolygonsAreCoveredWithoutSpillingOutside) {
  // An L, starting at its reflex corner and elsewhere.
  const std::vector<Vector> l = Outline({{1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}});
  ExpectCovers(l, Corners(6));
  ExpectCovers(l, {3, 4, 5, 0, 1, 2});

  // A five-pointed star starting at a tip: the first candidate is the notch
  // between two tips, which lies outside.
  std::vector<Vector> star;
  for (int k = 0; k < 10; ++k) {
    const float angle = static_cast<float>(k) * std::numbers::pi_v<float> / 5;
    const float radius = k % 2 == 0 ? 1.0f : 0.4f;
    star.push_back({radius * std::cos(angle), radius * std::sin(angle), 0});
  }
  ExpectCovers(star, Corners(10));

  // A comb whose teeth hide corners behind one another.
  const std::vector<Vector> comb =
      Outline({{0, 0}, {5, 0}, {5, 3}, {4, 3}, {4, 1}, {3, 1}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}});
  ExpectCovers(comb, Corners(comb.size()));
}

TEST(EarClipping, PolygonsInAnyPlaneAreProjectedAlongTheirNormal) {
  // The L standing in the x = 2 plane (normal along x) and tilted between
  // the y and z axes.
  const std::vector<Vector> l = Outline({{1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}});
  std::vector<Vector> upright, tilted;
  for (const Vector& p : l) {
    upright.push_back({2, p.x, p.y});
    tilted.push_back({p.x, p.y * 0.6f, p.y * 0.8f});
  }
  ExpectCovers(upright, Corners(6));
  ExpectCovers(tilted, Corners(6));
}

TEST(EarClipping, CollinearAndRepeatedCornersStillGiveNMinusTwoTriangles) {
  // A square with a corner in the middle of each side.
  const std::vector<Vector> square = Outline({{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}});
  ExpectCovers(square, Corners(8));

  // A quad whose outline repeats a corner, and one closed by repeating the
  // first corner at the end (as open line surfaces often are).
  const std::vector<Vector> quad = Outline({{0, 0}, {2, 0}, {2, 2}, {0, 2}});
  ExpectCovers(quad, {0, 1, 1, 2, 3});
  ExpectCovers(quad, {3, 2, 1, 0, 3});

  // All corners on one line: no area, still n - 2 (flat) triangles.
  const std::vector<Vector> line = Outline({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}});
  EXPECT_EQ(TriangulatePolygon(line, Corners(5)).size(), 3u);
}

TEST(EarClipping, SelfIntersectingPolygonsGiveNMinusTwoTriangles) {
  const std::vector<Vector> bowtie = Outline({{0, 0}, {2, 2}, {2, 0}, {0, 2}, {1, 3}, {-1, 1}});
  EXPECT_EQ(TriangulatePolygon(bowtie, Corners(6)).size(), 4u);
}

TEST(EarClipping, HugePolygonsFinishAndStayExactWhenConvex) {
  // Beyond the corner-test budget: the rest is cut as a fan, which is exact
  // for a convex outline.
  constexpr int kCorners = 4000;
  std::vector<Vector> circle;
  for (int k = 0; k < kCorners; ++k) {
    const double angle = 2 * std::numbers::pi * k / kCorners;
    circle.push_back({static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle)), 0});
  }
  ExpectCovers(circle, Corners(kCorners));

  // A saw of the most corners a LightWave polygon can have ends too, with
  // one triangle per corner but two.
  constexpr int kTeeth = 65535;
  std::vector<Vector> saw;
  for (int k = 0; k < kTeeth; ++k) saw.push_back({static_cast<float>(k), k % 2 == 0 ? 0.0f : 1.0f, 0});
  saw.push_back({static_cast<float>(kTeeth), -5});
  saw.push_back({0, -5});
  EXPECT_EQ(TriangulatePolygon(saw, Corners(saw.size())).size(), saw.size() - 2);
}

}  // namespace
}  // namespace qx
