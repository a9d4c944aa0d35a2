// What the WebAssembly viewer hands to the script for one mesh: the
// triangles shown at a level of detail (or under a frustum) as 32-bit
// indices into the mesh's own vertex records (normal, position; 24 bytes
// each), which the script reads in place without a copy. The triangles of
// smooth fans come first, those of flat fans after them: the script shades
// the latter with one normal per triangle (its plane's, worked out while
// drawing), so a flat fan needs no corners of its own. The shading follows
// fan/fan_shading.h.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "fan/frustum.h"
#include "fan/pck.h"
#include "fan/vertex_bits.h"

namespace qx {

struct GeometryRequest {
  Level level = 0;
  float shadingLevel = 1.0f;  // L: 1 smooth, 0 flat, between: by crease
  bool selective = false;     // refine only what `planes` enclose
  std::array<Plane, 4> planes{};  // in the mesh's own coordinates
};

// The answer, kept per mesh between requests so that its buffers are reused.
struct MeshGeometry {
  std::vector<uint32_t> indices;  // smooth triangles, then flat ones
  size_t flatFrom = 0;            // where the flat triangles begin in `indices`
  std::vector<uint32_t> flatIndices;  // scratch: the flat ones while walking
  int frustumResult = 1;  // -1 nothing visible, 1 all, 0 refined per vertex
  // Scratch of the selective mode.
  VertexBits culled;
  VertexBits inside;
};

// Fills `out` with what `request` shows of `mesh`. The caller holds the
// mesh's lock (or nothing decodes meanwhile). Returns the triangle count.
int64_t CollectGeometry(const QXPck& mesh, const GeometryRequest& request, MeshGeometry& out);

}  // namespace qx
