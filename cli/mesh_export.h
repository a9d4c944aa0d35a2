// Writing the triangles a scene shows at a level of detail as one PLY or OBJ
// file, every mesh instance of the hierarchy in world coordinates.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/geometry.h"

namespace qx {

class QXScene;
// Triangles as corner positions, three per triangle.
struct TriangleSoup {
  std::vector<Vector> positions;                // unique corners
  std::vector<std::array<uint32_t, 3>> faces;   // indices into positions
};

class QXMaterial;
class QXPck;

// Calls visit(mesh, world, material) for every path from a root to a node with
// a mesh: `world` is the node's local matrix applied after its ancestors',
// `material` the node's own or else its nearest ancestor's (null when none
// has one). A node shared by two parents is an instance under each. Stops as
// soon as visit returns false, and keeps to the view's bounds on nesting and
// on nodes visited (a hostile file can stand for endless paths).
using MeshInstanceVisitor = std::function<bool(const QXPck& mesh, const Matrix& world, const QXMaterial* material)>;
void ForEachMeshInstance(const QXScene& scene, const MeshInstanceVisitor& visit);

// Collects, for every path from a root to a node with a mesh, the mesh's
// triangles at `level` (or at floor(N * tolerance) when tolerance >= 0)
// transformed by the node's world matrix. False when the scene would give
// more than `maxTriangles` (a hostile hierarchy can multiply instances).
bool CollectSceneTriangles(const QXScene& scene, int32_t level, float tolerance, TriangleSoup& soup,
                           int64_t maxTriangles = int64_t{1} << 28);

// Writes binary little-endian PLY (float32 positions, int32 indices).
bool WritePly(const TriangleSoup& soup, const std::string& path);
// Writes a Wavefront OBJ (positions with %.9g, 1-based faces).
bool WriteObj(const TriangleSoup& soup, const std::string& path);

}  // namespace qx
