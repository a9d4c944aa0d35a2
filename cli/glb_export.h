// Writing the triangles a scene shows at a level of detail as binary glTF 2.0
// (a .glb file), so that a chosen level opens in common viewers and engines:
// one node, mesh and primitive per mesh instance of the hierarchy, positions
// in world coordinates, normals as the view shades them, and the instance's
// diffuse colour as its material.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/geometry.h"

namespace qx {

class QXScene;

// One mesh instance, ready to write: corners with their normals, three
// indices per triangle, and the colour it is drawn in.
struct ShadedPrimitive {
  std::vector<Vector> positions;
  std::vector<Vector> normals;    // unit length, one per position
  std::vector<uint32_t> indices;
  std::array<float, 4> diffuse{};  // red, green, blue, alpha
};

// The colour of an instance whose hierarchy names no material: the view's.
inline constexpr std::array<float, 4> kDefaultDiffuse = {0.8f, 0.8f, 0.8f, 1.0f};

// Collects every mesh instance at `level` (or at floor(N * tolerance) when
// tolerance >= 0). The shading level L picks the normals per fan as the view
// does: 1 the stored vertex normals (corners shared), 0 one normal per
// triangle (corners of their own), between: flat around vertices whose
// crease is at least L. Instances that show no triangle are left out. False
// when the scene would give more than `maxTriangles`.
bool CollectShadedPrimitives(const QXScene& scene, int32_t level, float tolerance, float shadingLevel,
                             std::vector<ShadedPrimitive>& primitives, int64_t maxTriangles = int64_t{1} << 28);

// Writes the primitives as a .glb file; false when it cannot be written.
bool WriteGlb(const std::vector<ShadedPrimitive>& primitives, const std::string& path);

}  // namespace qx
