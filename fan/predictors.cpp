#include "fan/predictors.h"

#include "fan/edge_dependency.h"

namespace qx {

const ClassDescriptor GPCentroide::kClass{"GPCentroide", &MakeDefault<GPCentroide>};
const ClassDescriptor GPButterfly::kClass{"GPButterfly", &MakeDefault<GPButterfly>};

namespace {

// The position of vertex x; the origin for an index the mesh does not have
// (records read from a file are checked, this only keeps a bad one harmless).
Vector PositionOf(const QXPck& mesh, VertexIndex x) {
  if (x < 0 || static_cast<size_t>(x) >= mesh.vertices.size()) return {};
  return mesh.vertices[static_cast<size_t>(x)].position;
}

}  // namespace

Vector GPCentroide::Predict(QXPck& mesh, VertexIndex v) {
  Vector sum;
  int triangles = 0;
  ForEachRingTriangle(mesh, v, [&](VertexIndex first, VertexIndex) {
    sum = sum + PositionOf(mesh, first);
    ++triangles;
  });
  if (triangles == 0) return {};
  return sum * (1.0f / static_cast<float>(triangles));
}

Vector GPButterfly::Predict(QXPck& mesh, VertexIndex v) {
  Vector ringSum, wingSum;
  int triangles = 0, wings = 0;
  bool searching = true;
  ForEachRingTriangle(mesh, v, [&](VertexIndex first, VertexIndex second) {
    ringSum = ringSum + PositionOf(mesh, first);
    ++triangles;
    if (!searching) return;
    const EdgeWing wing = EdgeDependency(mesh, first, second, v);
    searching = wing.dependency != v;
    if (!searching) return;
    wingSum = wingSum + PositionOf(mesh, wing.third);
    ++wings;
  });
  if (triangles == 0) return {};
  if (wings != triangles) return ringSum * (1.0f / static_cast<float>(triangles));
  return ringSum * (weight / static_cast<float>(triangles)) +
         wingSum * ((1.0f - weight) / static_cast<float>(wings));
}

}  // namespace qx
