#include "control/mesh_geometry.h"

#include "fan/fan_shading.h"
#include "fan/fan_walk.h"

namespace qx {
namespace {

// The fan callback: each triangle goes to the smooth or the flat list.
struct GeometryWriter {
  const QXPck& mesh;
  FanShading shading;
  float shadingLevel;
  MeshGeometry& out;

  void operator()(const Fan& fan) {
    auto& list = FanDrawnFlat(mesh, fan.centre, shading, shadingLevel) ? out.flatIndices : out.indices;
    for (int i = fan.start + 1; i <= fan.end; ++i)
      list.insert(list.end(), {static_cast<uint32_t>(fan.centre), static_cast<uint32_t>(fan.Corner1(i)),
                               static_cast<uint32_t>(fan.Corner2(i))});
  }
};

int64_t Walk(const QXPck& mesh, const GeometryRequest& request, MeshGeometry& out, GeometryWriter& writer) {
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

}  // namespace

int64_t CollectGeometry(const QXPck& mesh, const GeometryRequest& request, MeshGeometry& out) {
  out.indices.clear();
  out.flatIndices.clear();
  out.frustumResult = 1;
  GeometryWriter writer{mesh, ShadingForLevel(request.shadingLevel), request.shadingLevel, out};
  const int64_t triangles = Walk(mesh, request, out, writer);
  out.flatFrom = out.indices.size();
  out.indices.insert(out.indices.end(), out.flatIndices.begin(), out.flatIndices.end());
  return triangles;
}

}  // namespace qx
