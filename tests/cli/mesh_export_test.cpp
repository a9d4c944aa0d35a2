// The instance walk of the mesh writers on hierarchies a hostile file can
// describe.
#include <gtest/gtest.h>

#include <vector>

#include "cli/mesh_export.h"
#include "scene/scene_model.h"
#include "view/scene_view.h"

namespace qx {
namespace {

// Thirty levels of two siblings that share the next level as their child:
// 2^30 paths through 60 nodes, with a mesh at the bottom.
TEST(MeshInstances, SharedChildrenCannotMakeTheWalkEndless) {
  QXScene scene;
  auto* mesh = new QXPck();
  scene.AddMesh(mesh);
  std::vector<QXHier*> nodes;
  QXHier* below = new QXHier();
  below->mesh = mesh;
  nodes.push_back(below);
  for (int level = 0; level < 30; ++level) {
    auto* first = new QXHier();
    auto* second = new QXHier();
    first->nextSibling = second;
    first->firstChild = second->firstChild = below;
    nodes.push_back(first);
    nodes.push_back(second);
    below = first;
  }
  scene.roots = below;
  int64_t instances = 0;
  ForEachMeshInstance(scene, [&](const QXPck&, const Matrix&, const QXMaterial*) { return ++instances, true; });
  EXPECT_GT(instances, 0);
  EXPECT_LE(instances, SceneView::kMaxNodesPerFrame);
  scene.roots = nullptr;  // the nodes are shared: freed here once each
  for (QXHier* node : nodes) delete node;
}

}  // namespace
}  // namespace qx
