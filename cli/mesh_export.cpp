#include "cli/mesh_export.h"

#include <cstdio>
#include <unordered_map>

#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "scene/scene_model.h"
#include "view/scene_view.h"

namespace qx {
namespace {

struct Collector {
  int32_t level;
  float tolerance;
  int64_t maxTriangles;
  TriangleSoup& soup;
  bool overflow = false;

  void AddMesh(const QXPck& mesh, const Matrix& world) {
    QXPck& lockable = const_cast<QXPck&>(mesh);
    lockable.Lock();
    const Level shown = tolerance >= 0 ? LevelFromTolerance(mesh, tolerance) : level;
    std::unordered_map<VertexIndex, uint32_t> corners;
    auto corner = [&](VertexIndex v) {
      auto [it, added] = corners.try_emplace(v, static_cast<uint32_t>(soup.positions.size()));
      if (added) soup.positions.push_back(TransformPoint(world, mesh.vertices[v].position));
      return it->second;
    };
    ForEachFan(mesh, shown, [&](const Fan& fan) {
      if (static_cast<int64_t>(soup.faces.size()) + fan.Triangles() > maxTriangles) {
        overflow = true;
        return;
      }
      for (int i = fan.start + 1; i <= fan.end; ++i)
        soup.faces.push_back({corner(fan.centre), corner(fan.Corner1(i)), corner(fan.Corner2(i))});
    });
    lockable.Unlock();
  }
};

// Depth first over every path, carrying the world matrix and the material
// handed down. A file can share children so that a few nodes stand for an
// exponential number of paths, or nest them without end: the walk keeps to
// the view's bounds (nesting depth, nodes visited) and stops there.
class InstanceWalk {
 public:
  explicit InstanceWalk(const MeshInstanceVisitor& visit) : visit_(visit) {}

  // False once the visitor asked to stop or a bound was reached.
  bool Walk(const QXHier* node, const Matrix& parentWorld, const QXMaterial* inherited, int depth) {
    if (depth >= SceneView::kMaxHierarchyDepth) return true;  // the view draws nothing deeper either
    for (; node; node = node->nextSibling) {
      if (++visited_ > SceneView::kMaxNodesPerFrame) return false;
      const Matrix local = node->matrix ? node->matrix->values : IdentityMatrix();
      const Matrix world = MatrixProduct(local, parentWorld);
      const QXMaterial* material = node->material ? node->material : inherited;
      if (node->mesh && !visit_(*node->mesh, world, material)) return false;
      if (!Walk(node->firstChild, world, material, depth + 1)) return false;
    }
    return true;
  }

 private:
  const MeshInstanceVisitor& visit_;
  int64_t visited_ = 0;
};

}  // namespace

void ForEachMeshInstance(const QXScene& scene, const MeshInstanceVisitor& visit) {
  InstanceWalk(visit).Walk(scene.roots, IdentityMatrix(), nullptr, 0);
}

bool CollectSceneTriangles(const QXScene& scene, int32_t level, float tolerance, TriangleSoup& soup,
                           int64_t maxTriangles) {
  Collector collector{level, tolerance, maxTriangles, soup};
  ForEachMeshInstance(scene, [&collector](const QXPck& mesh, const Matrix& world, const QXMaterial*) {
    collector.AddMesh(mesh, world);
    return !collector.overflow;
  });
  return !collector.overflow;
}

bool WritePly(const TriangleSoup& soup, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::fprintf(file,
               "ply\nformat binary_little_endian 1.0\ncomment written by qxtool\nelement vertex %zu\n"
               "property float x\nproperty float y\nproperty float z\nelement face %zu\n"
               "property list uchar int vertex_indices\nend_header\n",
               soup.positions.size(), soup.faces.size());
  for (const Vector& p : soup.positions) {
    const float xyz[3] = {p.x, p.y, p.z};
    std::fwrite(xyz, sizeof xyz, 1, file);
  }
  for (const auto& face : soup.faces) {
    const uint8_t count = 3;
    const int32_t indices[3] = {static_cast<int32_t>(face[0]), static_cast<int32_t>(face[1]),
                                static_cast<int32_t>(face[2])};
    std::fwrite(&count, 1, 1, file);
    std::fwrite(indices, sizeof indices, 1, file);
  }
  const bool ok = !std::ferror(file);
  return std::fclose(file) == 0 && ok;
}

bool WriteObj(const TriangleSoup& soup, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  std::fprintf(file, "# written by qxtool\n");
  for (const Vector& p : soup.positions) std::fprintf(file, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
  for (const auto& face : soup.faces) std::fprintf(file, "f %u %u %u\n", face[0] + 1, face[1] + 1, face[2] + 1);
  const bool ok = !std::ferror(file);
  return std::fclose(file) == 0 && ok;
}

}  // namespace qx
