#include "common/geometry.h"

#include <algorithm>
#include <cmath>

namespace qx {

Vector Normalize(Vector v) {
  const float squared = Dot(v, v);
  if (squared < 1e-20f) return v;
  return v * (1.0f / std::sqrt(squared));
}

Matrix IdentityMatrix() {
  Matrix m{};
  m[0] = m[5] = m[10] = m[15] = 1.0f;
  return m;
}

Matrix MatrixProduct(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[4 * i + k] * b[4 * k + j];
      r[4 * i + j] = sum;
    }
  return r;
}

Matrix TranslationMatrix(Vector t) {
  Matrix m = IdentityMatrix();
  m[12] = t.x;
  m[13] = t.y;
  m[14] = t.z;
  return m;
}

Matrix RotationMatrix(Vector axis, float radians) {
  const Vector u = Normalize(axis);
  const float c = std::cos(radians), s = std::sin(radians), t = 1 - c;
  Matrix m = IdentityMatrix();
  // Column-major: element [4 * column + row].
  m[0] = t * u.x * u.x + c;
  m[1] = t * u.x * u.y + s * u.z;
  m[2] = t * u.x * u.z - s * u.y;
  m[4] = t * u.x * u.y - s * u.z;
  m[5] = t * u.y * u.y + c;
  m[6] = t * u.y * u.z + s * u.x;
  m[8] = t * u.x * u.z + s * u.y;
  m[9] = t * u.y * u.z - s * u.x;
  m[10] = t * u.z * u.z + c;
  return m;
}

Vector TransformPoint(const Matrix& m, Vector p) {
  return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
          m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
          m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

bool Box::Empty() const { return std::max({half.x, half.y, half.z}) < 0; }

float Box::Radius() const { return Length(half); }

bool ExtendBox(Box& box, const Box& other) { return ExtendBoxToRange(box, other.Lo(), other.Hi()); }

Box TransformBox(const Matrix& m, const Box& box) {
  if (box.Empty()) return box;
  const Vector lo = box.Lo(), hi = box.Hi();
  Vector newLo{m[12], m[13], m[14]};
  Vector newHi = newLo;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const float a = m[4 * j + i] * lo[j];
      const float b = m[4 * j + i] * hi[j];
      newLo[i] += std::min(a, b);
      newHi[i] += std::max(a, b);
    }
  return Box::FromCorners(newLo, newHi);
}

}  // namespace qx
