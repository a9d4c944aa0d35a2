// The viewer's selective mode: which refinement vertices to insert so that
// only the parts of a mesh inside the view frustum are refined.
#pragma once

#include <array>
#include <cstdint>

#include "fan/fan_walk.h"
#include "fan/vertex_bits.h"

namespace qx {

class QXPck;

// A plane (a, b, c, d) measuring s(x) = a*x + b*y + c*z - d; inside is s >= 0.
using Plane = std::array<float, 4>;

struct FrustumTest {
  int result = 0;  // -1 nothing visible, 1 all visible, 0 selected per vertex
  int count = 1;   // 1 + refinement vertices tested
};

// Tests the mesh's bounding sphere against four planes; when it straddles
// them, marks every vertex in both sets and then, for each refinement vertex
// still marked (S-1 down to the pending count + 1), removes it and all the
// vertices it depends on (recursively) from `culled` when its sphere lies
// behind a plane, or from `inside` when it lies in front of all four.
FrustumTest SelectByFrustum(const QXPck& mesh, VertexBits& culled, VertexBits& inside,
                            const std::array<Plane, 4>& planes);

// The fan walk restricted to a selection: vertices above the pending count
// that are in `selected` are inserted; a group of such a vertex is shown when
// its dependency is not selected or not above the pending count. Returns the
// number of triangles reported to onFan(const Fan&).
template <class OnFan>
int64_t ForEachSelectedFan(const QXPck& mesh, const VertexBits& selected, OnFan&& onFan) {
  int64_t triangles = 0;
  const VertexIndex pending = mesh.pendingCount;
  for (VertexIndex v = pending + 1; v < mesh.vertexCount; ++v) {
    if (!selected.Test(v)) continue;
    triangles += ForEachFanOfRecord(
        mesh.Record(v), v,
        [&](VertexIndex dependency) { return !selected.Test(dependency) || dependency <= pending; }, onFan);
  }
  return triangles;
}

}  // namespace qx
