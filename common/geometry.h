// Small value types shared by every module: a 3-float vector, a 16-float
// column-major matrix and a centre/half-extent bounding box.
#pragma once

#include <array>
#include <cmath>

namespace qx {

// 1e35 stands for "infinity" in costs and bounds throughout the program; an
// empty box has every half-extent component at -kHuge.
inline constexpr float kHuge = 1e35f;

struct Vector {
  float x = 0, y = 0, z = 0;

  friend Vector operator+(Vector a, Vector b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
  friend Vector operator-(Vector a, Vector b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
  friend Vector operator*(Vector a, float s) { return {a.x * s, a.y * s, a.z * s}; }
  friend bool operator==(Vector a, Vector b) = default;
  float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
  float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
};

// Inline: the metrics, predictors and builders call these in their
// innermost loops.
inline float Dot(Vector a, Vector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vector Cross(Vector a, Vector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Length(Vector v) { return std::sqrt(Dot(v, v)); }
// Returns v scaled to unit length; a vector whose squared length is below 1e-20
// is returned unchanged (it has no usable direction).
Vector Normalize(Vector v);

// Sixteen floats as OpenGL takes them: column-major, elements 12..14 hold the
// translation.  The array product used everywhere in the program is
//   (A x B)[4i + j] = sum_k A[4i + k] * B[4k + j],
// which, read column-major, applies A first and then B to a point.
using Matrix = std::array<float, 16>;

Matrix IdentityMatrix();
Matrix MatrixProduct(const Matrix& a, const Matrix& b);
Matrix TranslationMatrix(Vector t);
// Rotation by `radians` about `axis` (any length but zero), right-handed.
Matrix RotationMatrix(Vector axis, float radians);
// Transforms a point (w = 1) by m.
Vector TransformPoint(const Matrix& m, Vector p);

// Axis-aligned box stored as centre and half extent.
struct Box {
  Vector centre;
  Vector half{-kHuge, -kHuge, -kHuge};

  // Empty when the largest half-extent component is negative.
  bool Empty() const;
  float Radius() const;
  Vector Lo() const { return centre - half; }
  Vector Hi() const { return centre + half; }
  static Box FromCorners(Vector lo, Vector hi) {
    Box box;
    box.half = (hi - lo) * 0.5f;
    box.centre = lo + box.half;
    return box;
  }
};

// Grows the box to reach below `lo` and above `hi` wherever they lie outside
// it (strict comparisons). An empty box's corners are swapped and far out,
// so an empty box becomes the range, and an empty box's corners as the range
// change nothing. Returns whether the box changed.
inline bool ExtendBoxToRange(Box& box, Vector lo, Vector hi) {
  Vector boxLo = box.Lo(), boxHi = box.Hi();
  bool changed = false;
  for (int i = 0; i < 3; ++i) {
    if (lo[i] < boxLo[i]) boxLo[i] = lo[i], changed = true;
    if (hi[i] > boxHi[i]) boxHi[i] = hi[i], changed = true;
  }
  if (changed) box = Box::FromCorners(boxLo, boxHi);
  return changed;
}

// Grows the box to hold point p; an empty box becomes the point itself.
// Returns whether the box changed. Inline: the metrics grow a box per ring
// triangle.
inline bool ExtendBox(Box& box, Vector p) { return ExtendBoxToRange(box, p, p); }

// Grows the box to hold `other`; an empty `other` contributes nothing. Returns
// whether the box changed.
bool ExtendBox(Box& box, const Box& other);
// The box of the eight corners of `box` transformed by m (translation plus the
// per-axis extremes of the linear part). Empty boxes come back unchanged.
Box TransformBox(const Matrix& m, const Box& box);

}  // namespace qx
