#include "fan/triangle_distance.h"

#include <algorithm>

namespace qx {
namespace {

float SquaredLength(Vector v) { return Dot(v, v); }

float PointSegmentDistanceSquared(Vector p, Vector a, Vector b) {
  const Vector ab = b - a;
  const float length2 = SquaredLength(ab);
  const float t = length2 > 0 ? std::clamp(Dot(p - a, ab) / length2, 0.0f, 1.0f) : 0.0f;
  return SquaredLength(p - (a + ab * t));
}

}  // namespace

float PointTriangleDistanceSquared(Vector p, Vector a, Vector b, Vector c) {
  const Vector ab = b - a, ac = c - a, ap = p - a;
  const float d1 = Dot(ab, ap), d2 = Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return SquaredLength(ap);  // corner a

  const Vector bp = p - b;
  const float d3 = Dot(ab, bp), d4 = Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return SquaredLength(bp);  // corner b

  const Vector cp = p - c;
  const float d5 = Dot(ab, cp), d6 = Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return SquaredLength(cp);  // corner c

  const float vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return PointSegmentDistanceSquared(p, a, b);
  const float vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return PointSegmentDistanceSquared(p, a, c);
  const float va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) return PointSegmentDistanceSquared(p, b, c);

  const float sum = va + vb + vc;
  if (!(sum > 0)) {
    // A degenerate (flat) triangle: its closest point lies on an edge.
    return std::min({PointSegmentDistanceSquared(p, a, b), PointSegmentDistanceSquared(p, b, c),
                     PointSegmentDistanceSquared(p, a, c)});
  }
  const float v = vb / sum, w = vc / sum;
  return SquaredLength(p - (a + ab * v + ac * w));
}

}  // namespace qx
