#include "control/mesh_geometry.h"

#include "fan/fan_shading.h"
#include "fan/fan_walk.h"

namespace qx {
namespace {

// The fan callback: indices of smooth fans refer to the mesh's records,
// flat fans get corners of their own.
struct GeometryWriter {
  const QXPck& mesh;
  FanShading shading;
  float shadingLevel;
  MeshGeometry& out;

  uint32_t FlatCorner(Vector position, Vector normal) {
    out.flatCorners.push_back({normal, position});
    return static_cast<uint32_t>(mesh.vertexCount) + static_cast<uint32_t>(out.flatCorners.size() - 1);
  }

  void operator()(const Fan& fan) {
    const bool flat = FanDrawnFlat(mesh, fan.centre, shading, shadingLevel);
    for (int i = fan.start + 1; i <= fan.end; ++i) {
      const VertexIndex a = fan.Corner1(i), b = fan.Corner2(i);
      if (!flat) {
        out.indices.insert(out.indices.end(), {static_cast<uint32_t>(fan.centre), static_cast<uint32_t>(a),
                                               static_cast<uint32_t>(b)});
        continue;
      }
      const Vector pc = mesh.vertices[fan.centre].position;
      const Vector pa = mesh.vertices[a].position, pb = mesh.vertices[b].position;
      const Vector normal = FlatNormal(pc, pa, pb);
      out.indices.insert(out.indices.end(),
                         {FlatCorner(pc, normal), FlatCorner(pa, normal), FlatCorner(pb, normal)});
    }
  }
};

}  // namespace

int64_t CollectGeometry(const QXPck& mesh, const GeometryRequest& request, MeshGeometry& out) {
  out.flatCorners.clear();
  out.indices.clear();
  out.frustumResult = 1;
  GeometryWriter writer{mesh, ShadingForLevel(request.shadingLevel), request.shadingLevel, out};
  if (request.selective) {
    if (out.culled.BitCount() < mesh.vertexCount) out.culled.Reset(mesh.vertexCount);
    if (out.inside.BitCount() < mesh.vertexCount) out.inside.Reset(mesh.vertexCount);
    out.frustumResult = SelectByFrustum(mesh, out.culled, out.inside, request.planes).result;
    if (out.frustumResult < 0) return 0;
    if (out.frustumResult == 0) {
      // Vertex 0 stands for "no dependency": leaving it out of the selection
      // keeps the final triangles of every inserted vertex.
      out.culled.Clear(0);
      return ForEachSelectedFan(mesh, out.culled, writer);
    }
  }
  return ForEachFan(mesh, request.level, writer);
}

}  // namespace qx
