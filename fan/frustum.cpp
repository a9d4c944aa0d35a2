#include "fan/frustum.h"

#include <algorithm>
#include <vector>

#include "fan/pck.h"

namespace qx {
namespace {

float Measure(const Plane& plane, Vector p) { return plane[0] * p.x + plane[1] * p.y + plane[2] * p.z - plane[3]; }

// -1 when the sphere lies behind some plane, 1 when in front of all, else 0.
int ClassifySphere(const std::array<Plane, 4>& planes, Vector centre, float radius) {
  bool allInside = true;
  for (const Plane& plane : planes) {
    const float s = Measure(plane, centre);
    if (s < -radius) return -1;
    if (!(s >= radius)) allInside = false;
  }
  return allInside ? 1 : 0;
}

// Clears v and, recursively, every dependency of its groups that is still
// set and above the pending count.
void ClearWithDependencies(const QXPck& mesh, VertexIndex v, VertexBits& set) {
  std::vector<VertexIndex> stack{v};
  set.Clear(v);
  while (!stack.empty()) {
    const RecordView record = mesh.Record(stack.back());
    stack.pop_back();
    for (int g = 0; g < record.GroupCount(); ++g) {
      const VertexIndex c = record.Group(g).dependency;
      if (c > mesh.pendingCount && set.Test(c)) {
        set.Clear(c);
        stack.push_back(c);
      }
    }
  }
}

}  // namespace

FrustumTest SelectByFrustum(const QXPck& mesh, VertexBits& culled, VertexBits& inside,
                            const std::array<Plane, 4>& planes) {
  const int whole = ClassifySphere(planes, mesh.box.centre, mesh.weight);
  if (whole != 0) return {whole, 1};
  const VertexIndex marked = std::min({mesh.vertexCount, culled.BitCount(), inside.BitCount()});
  for (VertexIndex v = 0; v < marked; ++v) {
    culled.Set(v);
    inside.Set(v);
  }
  FrustumTest test{0, 1};
  for (VertexIndex v = mesh.splitIndex - 1; v > mesh.pendingCount; --v) {
    if (!culled.Test(v) || !inside.Test(v)) continue;
    ++test.count;
    const RecordView record = mesh.Record(v);
    const int side = ClassifySphere(planes, mesh.vertices[v].position, record.Metrics().radius);
    if (side < 0) ClearWithDependencies(mesh, v, culled);
    if (side > 0) ClearWithDependencies(mesh, v, inside);
  }
  return test;
}

}  // namespace qx
