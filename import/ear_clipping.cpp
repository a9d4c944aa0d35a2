// Ear clipping: G. H. Meisters, "Polygons have ears", American Mathematical
// Monthly 82 (1975), 648-651 -- every simple polygon with more than three
// corners has an ear, a corner whose triangle lies inside the polygon, and
// cutting ears one by one triangulates it. This implementation follows the
// usual O(n^2)-per-polygon form: scan the corners in order, take the first
// convex corner whose triangle contains no other corner, remove it, repeat.
#include "import/ear_clipping.h"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

namespace qx {
namespace {

// Corner tests (and candidates looked at) allowed per polygon before the
// remainder is cut as a fan. A polygon whose first candidate is always an ear
// needs about n^2 / 2 tests, so outlines of up to some 2,900 corners are
// clipped whole; the limit keeps a hostile file from stalling the import.
constexpr std::int64_t kCornerTestBudget = std::int64_t{1} << 22;

struct Point2 {
  double u = 0, v = 0;
};

// Twice the signed area of triangle (a, b, c); positive when counter-clockwise.
double Cross2(Point2 a, Point2 b, Point2 c) {
  return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
}

// Newell's normal of the polygon: robust for non-convex and slightly
// non-planar polygons, unlike the normal of any one corner.
Vector NewellNormal(std::span<const Vector> points, std::span<const int> polygon) {
  Vector normal;
  for (size_t i = 0; i < polygon.size(); ++i) {
    const Vector p = points[polygon[i]];
    const Vector q = points[polygon[(i + 1) % polygon.size()]];
    normal.x += (p.y - q.y) * (p.z + q.z);
    normal.y += (p.z - q.z) * (p.x + q.x);
    normal.z += (p.x - q.x) * (p.y + q.y);
  }
  return normal;
}

// Projects the polygon onto the coordinate plane that loses least: the
// coordinate with the largest normal component is dropped (z only when
// strictly largest, y only when strictly larger than x).
std::vector<Point2> ProjectPolygon(std::span<const Vector> points, std::span<const int> polygon) {
  const Vector normal = NewellNormal(points, polygon);
  const float ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
  int first = 1, second = 2;  // drop x
  if (az > ax && az > ay) {
    first = 0, second = 1;  // drop z
  } else if (ay > ax) {
    first = 0, second = 2;  // drop y
  }
  std::vector<Point2> projected;
  projected.reserve(polygon.size());
  for (int index : polygon) projected.push_back({points[index][first], points[index][second]});
  return projected;
}

// Cuts one polygon. `ring_` lists the corners still uncut, as positions into
// the projected corners (and into `polygon_`).
class EarClipper {
 public:
  EarClipper(std::vector<Point2> corners, std::span<const int> polygon)
      : corners_(std::move(corners)), polygon_(polygon) {
    double area = 0;
    for (size_t i = 0; i < corners_.size(); ++i) {
      const Point2 p = corners_[i], q = corners_[(i + 1) % corners_.size()];
      area += p.u * q.v - q.u * p.v;
    }
    // A polygon without area (all corners on a line, or a figure eight
    // whose halves cancel) has no winding of its own; either sign will do.
    orientation_ = area < 0 ? -1.0 : 1.0;
    ring_.resize(corners_.size());
    for (size_t i = 0; i < ring_.size(); ++i) ring_[i] = static_cast<int>(i);
  }

  std::vector<TriangleIndices> Run() {
    std::vector<TriangleIndices> triangles;
    triangles.reserve(ring_.size() - 2);
    while (ring_.size() > 3 && workDone_ < kCornerTestBudget) {
      const size_t ear = FindEar();
      const size_t n = ring_.size();
      triangles.push_back(Triangle(ear, (ear + 1) % n, (ear + 2) % n));
      ring_.erase(ring_.begin() + static_cast<std::ptrdiff_t>((ear + 1) % n));
    }
    // What is left (a triangle, or the rest after the budget ran out) is
    // split as a fan from its first corner.
    for (size_t k = 1; k + 1 < ring_.size(); ++k) triangles.push_back(Triangle(0, k, k + 1));
    return triangles;
  }

 private:
  TriangleIndices Triangle(size_t a, size_t b, size_t c) const {
    return {polygon_[ring_[a]], polygon_[ring_[b]], polygon_[ring_[c]]};
  }

  Point2 Corner(size_t ringPosition) const { return corners_[ring_[ringPosition]]; }

  // The ring position i whose candidate (i, i + 1, i + 2) is cut next: the
  // first that turns with the polygon and holds no other corner; failing
  // that (flat or self-intersecting leftovers) the first flat one, whose cut
  // changes no area; failing that the first that turns with the polygon;
  // failing that the last position.
  size_t FindEar() {
    const size_t n = ring_.size();
    std::optional<size_t> firstFlat, firstConvex;
    for (size_t i = 0; i < n && workDone_ < kCornerTestBudget; ++i) {
      ++workDone_;
      const double turn = Cross2(Corner(i), Corner((i + 1) % n), Corner((i + 2) % n)) * orientation_;
      if (turn < 0) continue;
      if (turn == 0) {
        if (!firstFlat) firstFlat = i;
        continue;
      }
      if (!firstConvex) firstConvex = i;
      if (!AnyCornerInside(i)) return i;
    }
    if (firstFlat) return *firstFlat;
    if (firstConvex) return *firstConvex;
    return n - 1;
  }

  // Whether a corner other than the candidate's three lies inside or on the
  // border of triangle (i, i + 1, i + 2). Corners at the same place as one
  // of the three (repeated points) do not block it.
  bool AnyCornerInside(size_t i) {
    const size_t n = ring_.size();
    const Point2 a = Corner(i), b = Corner((i + 1) % n), c = Corner((i + 2) % n);
    workDone_ += static_cast<std::int64_t>(n - 3);
    for (size_t k = 3; k < n; ++k) {
      const Point2 p = Corner((i + k) % n);
      if (Same(p, a) || Same(p, b) || Same(p, c)) continue;
      if (Cross2(a, b, p) * orientation_ >= 0 && Cross2(b, c, p) * orientation_ >= 0 &&
          Cross2(c, a, p) * orientation_ >= 0)
        return true;
    }
    return false;
  }

  static bool Same(Point2 p, Point2 q) { return p.u == q.u && p.v == q.v; }

  std::vector<Point2> corners_;
  std::span<const int> polygon_;
  std::vector<int> ring_;
  double orientation_ = 1;
  std::int64_t workDone_ = 0;
};

}  // namespace

std::vector<TriangleIndices> TriangulatePolygon(std::span<const Vector> points, std::span<const int> polygon) {
  if (polygon.size() < 3) return {};
  for ([[maybe_unused]] int index : polygon) assert(index >= 0 && static_cast<size_t>(index) < points.size());
  return EarClipper(ProjectPolygon(points, polygon), polygon).Run();
}

}  // namespace qx
