// Unitize, Compact and RemoveSelected: the hand-made cases, and properties
// over random hierarchies with shared children.
#include "tools/scene_tools.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "scene/scene_model.h"

namespace qx {
namespace {

QXHier* Node(QXPck* mesh = nullptr, QXMaterial* material = nullptr, QXMatrix* matrix = nullptr) {
  auto* node = new QXHier;
  node->mesh = mesh;
  node->material = material;
  node->matrix = matrix;
  return node;
}

QXPck* NewMesh(QXScene& scene) {
  auto* mesh = new QXPck;
  scene.AddMesh(mesh);
  return mesh;
}

QXMaterial* Colour(QXScene& scene, float red) { return scene.FindOrAddMaterial({}, {red, 0, 0, 1}, {}, 0); }

// Links `children` under `parent`, in order.
void Adopt(QXHier* parent, std::vector<QXHier*> children) {
  for (size_t i = children.size(); i-- > 0;) {
    children[i]->nextSibling = parent->firstChild;
    parent->firstChild = children[i];
  }
}

template <class T>
int ChainLength(const T* first) {
  int count = 0;
  for (; first; first = first->next) ++count;
  return count;
}

// Every place a node is reached, along every path.
void CountReaches(const QXHier* first, std::map<const QXHier*, int>& reaches) {
  for (const QXHier* node = first; node; node = node->nextSibling) {
    ++reaches[node];
    CountReaches(node->firstChild, reaches);
  }
}

TEST(Unitize, CopiesASharedNodeOnceAndThenNothing) {
  QXScene scene;
  QXPck* mesh = NewMesh(scene);
  QXHier* shared = Node(mesh);
  QXHier* a = Node();
  QXHier* b = Node();
  Adopt(a, {shared});
  Adopt(b, {shared});
  scene.AddRoot(a);
  scene.AddRoot(b);
  EXPECT_EQ(Unitize(scene), 3 + 1);  // three distinct nodes visited, one copy
  EXPECT_NE(a->firstChild, b->firstChild);
  EXPECT_EQ(a->firstChild->mesh, b->firstChild->mesh);
  EXPECT_EQ(Unitize(scene), 4);  // a tree now: four visited, nothing copied
}

TEST(Unitize, CopiesTheSharedChildrenOfACloneInTurn) {
  QXScene scene;
  QXHier* part = Node();
  Adopt(part, {Node(NewMesh(scene)), Node(NewMesh(scene))});
  scene.AddRoot(part);
  scene.AddRoot(part->Clone());  // the clone shares both children
  Unitize(scene);
  std::map<const QXHier*, int> reaches;
  CountReaches(scene.roots, reaches);
  EXPECT_EQ(reaches.size(), 6u);
  for (const auto& [node, count] : reaches) EXPECT_EQ(count, 1);
}

TEST(Unitize, CutsAChildLinkThatLeadsBackToAnAncestor) {
  QXScene scene;
  QXHier* top = Node();
  QXHier* middle = Node(NewMesh(scene));
  Adopt(top, {middle});
  scene.AddRoot(top);
  middle->firstChild = top;  // as a hostile file could link them
  EXPECT_EQ(Unitize(scene), 2);
  EXPECT_EQ(middle->firstChild, nullptr);
}

TEST(Compact, LeavesNothingOfASceneWhoseOnlyNodeIsEmptyOnceItIsLoaded) {
  QXScene scene;
  scene.AddRoot(Node(nullptr, Colour(scene, 1), scene.FindOrAddMatrix(TranslationMatrix({1, 0, 0}))));
  scene.loading = true;
  EXPECT_EQ(Compact(scene).nodesUnlinked, 0);
  EXPECT_NE(scene.roots, nullptr);
  scene.loading = false;
  const CompactReport report = Compact(scene);
  EXPECT_EQ(scene.roots, nullptr);
  EXPECT_EQ(scene.matrices, nullptr);  // referenced only by the removed node
  EXPECT_EQ(scene.materials, nullptr);
  EXPECT_EQ(report.nodesUnlinked, 1);
}

TEST(Compact, DropsInheritedMaterialsAndWhatNoNodeUses) {
  QXScene scene;
  QXMaterial* red = Colour(scene, 1);
  QXMaterial* dark = Colour(scene, 0.2f);
  Colour(scene, 0.5f);  // no node uses it
  scene.FindOrAddMatrix(TranslationMatrix({2, 0, 0}));
  QXPck* used = NewMesh(scene);
  NewMesh(scene);
  QXHier* group = Node(nullptr, red);
  QXHier* same = Node(used, red);
  QXHier* other = Node(used, dark);
  Adopt(group, {same, other});
  scene.AddRoot(group);
  const CompactReport report = Compact(scene);
  EXPECT_EQ(group->firstChild->material, nullptr);  // inherited anyway
  EXPECT_EQ(group->firstChild->nextSibling->material, dark);
  EXPECT_EQ(report.materialsDropped, 1);
  EXPECT_EQ(ChainLength(scene.materials), 2);
  EXPECT_EQ(ChainLength(scene.meshes), 1);
  EXPECT_EQ(scene.meshes, used);
  EXPECT_EQ(scene.matrices, nullptr);
}

TEST(Compact, MergesEqualSiblingsButKeepsMeshesWithEqualContent) {
  QXScene scene;
  QXPck* mesh = NewMesh(scene);
  QXPck* twin = NewMesh(scene);  // a different object, however alike
  QXHier* group = Node();
  Adopt(group, {Node(mesh), Node(twin), Node(mesh)});
  scene.AddRoot(group);
  EXPECT_EQ(Compact(scene).nodesMerged, 1);
  std::set<const QXPck*> left;
  for (QXHier* child = group->firstChild; child; child = child->nextSibling) left.insert(child->mesh);
  EXPECT_EQ(left, (std::set<const QXPck*>{mesh, twin}));
  EXPECT_EQ(group->firstChild->nextSibling->nextSibling, nullptr);
}

TEST(Compact, ANodeEmptiedInTheSameRunStaysUntilTheNextRun) {
  QXScene scene;
  QXHier* keep = Node(NewMesh(scene));
  QXHier* group = Node();
  Adopt(group, {Node()});
  scene.AddRoot(group);
  scene.AddRoot(keep);
  Compact(scene);
  EXPECT_EQ(scene.roots, keep);
  ASSERT_NE(keep->nextSibling, nullptr);
  EXPECT_EQ(keep->nextSibling->firstChild, nullptr);
  Compact(scene);
  EXPECT_EQ(keep->nextSibling, nullptr);
}

TEST(RemoveSelected, DropsTheMeshesOfSelectedNodesAndShrinksTheBox) {
  QXScene scene;
  auto boxed = [&](Vector centre) {
    QXPck* mesh = NewMesh(scene);
    mesh->box = Box::FromCorners(centre - Vector{1, 1, 1}, centre + Vector{1, 1, 1});
    return scene.AddRoot(Node(mesh));
  };
  QXHier* near = boxed({0, 0, 0});
  boxed({10, 0, 0})->selected = true;
  const CompactReport report = RemoveSelected(scene);
  EXPECT_EQ(report.meshesFreed, 1);
  EXPECT_EQ(scene.roots, near);
  EXPECT_EQ(near->nextSibling, nullptr);
  EXPECT_FLOAT_EQ(scene.Box().half.x, 1);
}

// ---- Properties over random hierarchies ---------------------------------------

// A random hierarchy whose child lists may be shared (a node's first child
// may be any node made before it, which shares that node's list from there
// on), so cycles cannot arise. Meshes, matrices and materials come from
// small pools, some left unused.
class RandomScene {
 public:
  explicit RandomScene(unsigned seed) : random_(seed) {
    for (int i = 0; i < 4; ++i) meshes_.push_back(NewMesh(scene));
    for (int i = 0; i < 3; ++i) matrices_.push_back(scene.FindOrAddMatrix(TranslationMatrix({float(i), 0, 0})));
    for (int i = 0; i < 3; ++i) materials_.push_back(Colour(scene, 0.25f * float(i)));
    scene.roots = MakeList(4);
  }

  QXScene scene;

 private:
  template <class T>
  T* Pick(const std::vector<T*>& pool) {
    const size_t i = random_() % (pool.size() + 1);
    return i < pool.size() ? pool[i] : nullptr;
  }

  QXHier* MakeList(int depth) {
    std::vector<QXHier*> list;
    const int count = 1 + static_cast<int>(random_() % 3);
    for (int i = 0; i < count; ++i) {
      QXHier* node = Node(Pick(meshes_), Pick(materials_), Pick(matrices_));
      const unsigned kind = random_() % 4;
      if (depth > 0 && kind == 0) node->firstChild = MakeList(depth - 1);
      if (kind == 1 && !made_.empty()) node->firstChild = made_[random_() % made_.size()];
      list.push_back(node);
    }
    for (size_t i = 0; i + 1 < list.size(); ++i) list[i]->nextSibling = list[i + 1];
    // Only finished lists may be shared: a node of an unfinished list could
    // still get a sibling that leads back to it.
    made_.insert(made_.end(), list.begin(), list.end());
    return list.front();
  }

  std::mt19937 random_;
  std::vector<QXPck*> meshes_;
  std::vector<QXMatrix*> matrices_;
  std::vector<QXMaterial*> materials_;
  std::vector<QXHier*> made_;
};

// What gets drawn: mesh, material in effect and world matrix of every
// instance, as a set (equal siblings draw the same thing twice).
using Drawn = std::set<std::tuple<const QXPck*, const QXMaterial*, Matrix>>;

void CollectDrawn(const QXHier* first, const Matrix& parent, const QXMaterial* inherited, Drawn& drawn) {
  for (const QXHier* node = first; node; node = node->nextSibling) {
    const Matrix world = node->matrix ? MatrixProduct(node->matrix->values, parent) : parent;
    const QXMaterial* material = node->material ? node->material : inherited;
    if (node->mesh) drawn.insert({node->mesh, material, world});
    CollectDrawn(node->firstChild, world, material, drawn);
  }
}

Drawn DrawnBy(const QXScene& scene) {
  Drawn drawn;
  CollectDrawn(scene.roots, IdentityMatrix(), nullptr, drawn);
  return drawn;
}

void ExpectNoEqualSiblings(const QXHier* first) {
  std::set<std::array<const void*, 4>> seen;
  for (const QXHier* node = first; node; node = node->nextSibling) {
    EXPECT_TRUE(seen.insert({node->matrix, node->material, node->mesh, node->firstChild}).second);
    ExpectNoEqualSiblings(node->firstChild);
  }
}

TEST(CompactProperties, ATreeOfReferencedObjectsWithoutEqualSiblingsDrawingTheSame) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(seed);
    RandomScene random(seed);
    QXScene& scene = random.scene;
    const Drawn before = DrawnBy(scene);
    Compact(scene);
    EXPECT_EQ(DrawnBy(scene), before);
    std::map<const QXHier*, int> reaches;
    CountReaches(scene.roots, reaches);
    std::set<const void*> used;
    for (const auto& [node, count] : reaches) {
      EXPECT_EQ(count, 1);
      used.insert({node->mesh, node->matrix, node->material});
    }
    for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) EXPECT_TRUE(used.contains(mesh));
    for (const QXMatrix* matrix = scene.matrices; matrix; matrix = matrix->next) EXPECT_TRUE(used.contains(matrix));
    for (const QXMaterial* item = scene.materials; item; item = item->next) EXPECT_TRUE(used.contains(item));
    ExpectNoEqualSiblings(scene.roots);
  }
}

TEST(UnitizeProperties, TheCountIsTheNodesOfTheTreeEachReachedOnce) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(seed);
    RandomScene random(seed);
    std::map<const QXHier*, int> paths;
    CountReaches(random.scene.roots, paths);
    int64_t instances = 0;
    for (const auto& [node, count] : paths) instances += count;
    const int64_t first = Unitize(random.scene);
    std::map<const QXHier*, int> reaches;
    CountReaches(random.scene.roots, reaches);
    EXPECT_EQ(static_cast<int64_t>(reaches.size()), instances);
    EXPECT_EQ(first, instances);
    EXPECT_EQ(Unitize(random.scene), instances);
  }
}

}  // namespace
}  // namespace qx
