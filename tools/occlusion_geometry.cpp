#include "tools/occlusion_geometry.h"

#include "fan/fan_walk.h"
#include "scene/scene_model.h"

namespace qx {

MeshFaces FacesOf(const QXPck& mesh) {
  MeshFaces faces;
  const auto inside = [&](VertexIndex v) { return v >= 0 && static_cast<size_t>(v) < mesh.vertices.size(); };
  ForEachFan(mesh, 0, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i)
      if (inside(fan.centre) && inside(fan.Corner1(i)) && inside(fan.Corner2(i)))
        faces.indices.insert(faces.indices.end(), {static_cast<uint32_t>(fan.centre),
                                                   static_cast<uint32_t>(fan.Corner1(i)),
                                                   static_cast<uint32_t>(fan.Corner2(i))});
  });
  const int64_t count = faces.Count();
  faces.unseen.assign(static_cast<size_t>((count + 31) / 32), ~0u);
  if (count % 32) faces.unseen.back() = (1u << (count % 32)) - 1;
  return faces;
}

namespace {

class GeometryCollector {
 public:
  explicit GeometryCollector(SceneGeometry& out) : out_(out) {}

  // False when a bound was passed.
  bool Collect(QXHier* first, const Matrix& parentWorld, const QXMaterial* inherited, int depth) {
    if (first && depth >= kMaxAnalysedDepth) return false;
    for (QXHier* node = first; node; node = node->nextSibling) {
      const Matrix world = node->matrix ? MatrixProduct(node->matrix->values, parentWorld) : parentWorld;
      const QXMaterial* material = node->material ? node->material : inherited;
      if (node->mesh && !Add(node, world, material)) return false;
      if (!Collect(node->firstChild, world, material, depth + 1)) return false;
    }
    return true;
  }

 private:
  bool Add(QXHier* node, const Matrix& world, const QXMaterial* material) {
    const QXPck& mesh = *node->mesh;
    auto [it, added] = out_.faces.try_emplace(&mesh);
    if (added) it->second = FacesOf(mesh);
    MeshFaces& faces = it->second;
    if (out_.instances.size() >= kMaxAnalysedInstances ||
        out_.vertices.size() + mesh.vertices.size() > kMaxWorldVertices ||
        out_.indices.size() + faces.indices.size() > kMaxWorldIndices)
      return false;
    const auto base = static_cast<uint32_t>(out_.vertices.size());
    out_.instances.push_back({node, material, &faces, static_cast<uint32_t>(out_.indices.size())});
    for (const FanVertex& vertex : mesh.vertices) out_.vertices.push_back(TransformPoint(world, vertex.position));
    for (uint32_t index : faces.indices) out_.indices.push_back(base + index);
    return true;
  }

  SceneGeometry& out_;
};

}  // namespace

SceneGeometry CollectSceneGeometry(QXScene& scene) {
  SceneGeometry geometry;
  if (!GeometryCollector(geometry).Collect(scene.roots, IdentityMatrix(), nullptr, 0)) {
    geometry = SceneGeometry{};
    geometry.tooLarge = true;
  }
  return geometry;
}

}  // namespace qx
