// Position predictors for refinement vertices. A quantising geometry coder
// codes only the residual between a vertex and its prediction, so both sides
// must predict from the same data: the record of v and the positions of the
// vertices above v, which are already coded (and, on the writing side,
// already replaced by their reconstruction).
//
// Both walk v's triangles: the dependency groups in stored order and, in each,
// the set mask bits j ascending; bit j is the triangle (v, ring[j],
// ring[j+1 mod n]). A neighbour counts once per triangle in which it is
// ring[j], so neighbours shared by several triangles or groups weigh more.
#pragma once

#include <bit>

#include "fan/coder_interfaces.h"
#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx {

// Calls visit(j) for every triangle j of `record`, in the walk order above.
// Only the set bits are visited, lowest first: a group holds a few of the
// ring's triangles.
template <class Visit>
void ForEachRingTriangle(const RecordView& record, Visit&& visit) {
  const int ringSize = record.RingSize();
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    for (int byte = 0; byte < group.maskBytes; ++byte)
      for (unsigned bits = group.mask[byte]; bits != 0; bits &= bits - 1) {
        const int j = 8 * byte + std::countr_zero(bits);
        if (j >= ringSize) break;
        visit(j);
      }
  }
}

// Calls onTriangle(ring[j], ring[j+1]) for every triangle of v's record, in
// the walk order above.
template <class OnTriangle>
void ForEachRingTriangle(const QXPck& mesh, VertexIndex v, OnTriangle&& onTriangle) {
  const RecordView record = mesh.Record(v);
  ForEachRingTriangle(record, [&](int j) { onTriangle(record.Neighbour(j), record.Neighbour(j + 1)); });
}

// The mean of ring[j] over v's T triangles; (0, 0, 0) when T = 0. Stateless;
// its stored record is empty.
class GPCentroide final : public Predictor {
 public:
  static const ClassDescriptor kClass;  // "GPCentroide"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  Vector Predict(QXPck& mesh, VertexIndex v) override;
};

// The butterfly rule: with S1 the sum of ring[j] over v's T triangles and S2
// the sum of the wing vertices (the corner beyond edge ring[j]→ring[j+1],
// found by EdgeDependency) of W of them,
//   prediction = (w / T)·S1 + ((1 - w) / W)·S2      when W = T
//              = S1 / T (the centroid)              otherwise
// with w = 1.15: the ring pushed a little away from the surface beyond it.
// The wing search stops after its first miss. (0, 0, 0) when T = 0.
// The weight is not stored: a predictor read from a file has 1.15 again.
// Uses the mesh's bit set as scratch (no two predictions at once on a mesh).
class GPButterfly final : public Predictor {
 public:
  static const ClassDescriptor kClass;  // "GPButterfly"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  Vector Predict(QXPck& mesh, VertexIndex v) override;

  static constexpr float kDefaultWeight = 1.15f;
  float weight = kDefaultWeight;
};

}  // namespace qx
