#include "scene/scene_model.h"

#include <numbers>

#include <gtest/gtest.h>

namespace qx {
namespace {

QXPck* MeshWithBox(Vector lo, Vector hi) {
  auto* mesh = new QXPck;
  mesh->box = Box::FromCorners(lo, hi);
  return mesh;
}

TEST(Scene, AddMeshMovesAListedMeshToTheFront) {
  QXScene scene;
  QXPck* a = new QXPck;
  QXPck* b = new QXPck;
  scene.AddMesh(a);
  scene.AddMesh(b);
  scene.AddMesh(a);
  scene.AddMesh(nullptr);
  EXPECT_EQ(scene.meshes, a);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->next, nullptr);
}

TEST(Scene, FindOrAddSharesEqualMatricesAndMaterials) {
  QXScene scene;
  const Matrix shift = TranslationMatrix({1, 2, 3});
  QXMatrix* first = scene.FindOrAddMatrix(shift);
  QXMatrix* identity = scene.FindOrAddMatrix(IdentityMatrix());
  EXPECT_EQ(scene.matrices, identity);
  EXPECT_EQ(scene.FindOrAddMatrix(shift), first);
  EXPECT_EQ(scene.matrices, first) << "found matrix moves to the front";
  EXPECT_EQ(first->next, identity);
  EXPECT_EQ(identity->next, nullptr);

  // Materials compare as numbers: 0.0 and -0.0 are the same material.
  QXMaterial* red = scene.FindOrAddMaterial({0, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.25f);
  QXMaterial* same = scene.FindOrAddMaterial({-0.0f, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.25f);
  QXMaterial* other = scene.FindOrAddMaterial({0, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.5f);
  EXPECT_EQ(same, red);
  EXPECT_NE(other, red);
  EXPECT_EQ(scene.materials, other);
}

TEST(Scene, RootsGrowTheSceneBoxAndEmptyNodesContributeNothing) {
  QXScene scene;
  scene.AddRoot(new QXHier);
  EXPECT_TRUE(scene.Box().Empty());

  QXPck* mesh = MeshWithBox({0, 0, 0}, {1, 1, 1});
  scene.AddMesh(mesh);
  QXMatrix* up = scene.FindOrAddMatrix(TranslationMatrix({0, 10, 0}));
  scene.AddRoot(mesh, nullptr, up);
  EXPECT_EQ(scene.Box().Lo(), (Vector{0, 10, 0}));
  EXPECT_EQ(scene.Box().Hi(), (Vector{1, 11, 1}));
  EXPECT_FLOAT_EQ(scene.Radius(), scene.Box().Radius());

  up->values = TranslationMatrix({0, -10, 0});
  scene.UpdateBox();
  EXPECT_EQ(scene.Box().Lo(), (Vector{0, -10, 0}));
}

TEST(Hierarchy, WorldMatrixAppliesTheNodeBeforeItsParent) {
  QXMatrix turn, shift;
  turn.values = RotationMatrix({0, 0, 1}, std::numbers::pi_v<float> / 2);
  shift.values = TranslationMatrix({5, 0, 0});
  QXHier parent, child;
  parent.matrix = &shift;
  child.matrix = &turn;
  child.parent = &parent;
  const Vector p = TransformPoint(child.WorldMatrix(), {1, 0, 0});
  EXPECT_NEAR(p.x, 5, 1e-6);
  EXPECT_NEAR(p.y, 1, 1e-6);
  EXPECT_EQ(QXHier().WorldMatrix(), IdentityMatrix());
}

TEST(Hierarchy, BoxCombinesChildrenThenAppliesTheLocalMatrix) {
  QXPck* a = MeshWithBox({0, 0, 0}, {1, 1, 1});
  QXPck* b = MeshWithBox({2, 0, 0}, {3, 1, 1});
  QXMatrix scale;
  scale.values[0] = 2;
  QXHier parent, first, second;
  first.mesh = a;
  second.mesh = b;
  first.nextSibling = &second;
  parent.firstChild = &first;
  parent.matrix = &scale;
  const Box box = parent.Box();
  EXPECT_EQ(box.Lo(), (Vector{0, 0, 0}));
  EXPECT_EQ(box.Hi(), (Vector{6, 1, 1}));
  delete a;
  delete b;
}

TEST(Hierarchy, SharedChildIsVisitedAndFreedOnce) {
  QXScene scene;
  auto* shared = new QXHier;
  auto* leaf = new QXHier;
  shared->firstChild = leaf;
  auto* left = new QXHier;
  left->firstChild = shared;
  QXHier* right = left->Clone();
  EXPECT_EQ(right->firstChild, shared);
  scene.AddRoot(left);
  scene.AddRoot(right);

  int visits = 0, sharedVisits = 0;
  ForEachDistinctNode(scene.roots, [&](QXHier* node) {
    ++visits;
    node->selected = !node->selected;
    if (node == shared) ++sharedVisits;
  });
  EXPECT_EQ(visits, 4);
  EXPECT_EQ(sharedVisits, 1);
  EXPECT_TRUE(shared->selected);
  EXPECT_EQ(leaf->parent, shared);
  scene.Clear();  // the sanitizer build reports a double free
  EXPECT_EQ(scene.roots, nullptr);
}

TEST(Hierarchy, DeeplySharedChainsAreWalkedInLinearTime) {
  // Each level has two nodes sharing the next level: 2^40 paths, 80 nodes.
  QXScene scene;
  QXHier* below = nullptr;
  for (int level = 0; level < 40; ++level) {
    auto* a = new QXHier;
    auto* b = new QXHier;
    a->firstChild = b->firstChild = below;
    a->nextSibling = b;
    below = a;
  }
  scene.roots = below;
  int visits = 0;
  ForEachDistinctNode(scene.roots, [&](QXHier*) { ++visits; });
  EXPECT_EQ(visits, 80);
}

}  // namespace
}  // namespace qx
