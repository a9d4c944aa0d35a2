#include "tools/scene_tools.h"

#include <array>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "scene/scene_model.h"

namespace qx {
namespace {

// The depth-first walk of Unitize over the places that hold a node (the root
// list's head, a first-child field, a next-sibling field), so that a node can
// be replaced where it is linked.
class TreeBuilder {
 public:
  explicit TreeBuilder(QXScene& scene) : scene_(scene) {}

  int64_t Run() {
    QXHier** slot = &scene_.roots;
    int64_t list = ++lists_;
    for (;;) {
      QXHier* node = *slot;
      if (node == nullptr) {
        if (path_.empty()) break;
        const auto [done, doneList] = path_.back();
        path_.pop_back();
        onPath_.erase(done);
        slot = &done->nextSibling;
        list = doneList;
        continue;
      }
      if (onPath_.contains(node)) {
        *slot = node->nextSibling;  // a child link back to an ancestor: cut
        continue;
      }
      if (const auto [it, fresh] = listOf_.try_emplace(node, list); !fresh) {
        if (it->second == list) {
          *slot = nullptr;  // the sibling chain runs into itself: end it here
          continue;
        }
        it->second = list;
      }
      if (!visited_.insert(node).second) {
        if (visitedCount_ + copies_ >= kMaxUnitizedNodes) {
          complete_ = false;
          slot = &node->nextSibling;  // left shared, not walked again
          continue;
        }
        node = CopyInPlace(slot, node);
      } else {
        ++visitedCount_;
      }
      node->parent = path_.empty() ? nullptr : path_.back().first;
      path_.emplace_back(node, list);
      onPath_.insert(node);
      slot = &node->firstChild;
      list = ++lists_;
    }
    return visitedCount_ + copies_;
  }

  // False when the node bound left some nodes shared.
  bool Complete() const { return complete_; }

 private:
  QXHier* CopyInPlace(QXHier** slot, QXHier* node) {
    QXHier* copy = node->Clone();
    copy->nextSibling = node->nextSibling;
    *slot = copy;
    visited_.insert(copy);
    ++copies_;
    return copy;
  }

  QXScene& scene_;
  std::unordered_set<QXHier*> visited_;
  std::unordered_set<QXHier*> onPath_;
  // The list (numbered as the walk enters it) in which a node was met last.
  std::unordered_map<QXHier*, int64_t> listOf_;
  std::vector<std::pair<QXHier*, int64_t>> path_;  // node, list it sits in
  int64_t lists_ = 0;
  int64_t visitedCount_ = 0;
  int64_t copies_ = 0;
  bool complete_ = true;
};

// What the walk of Compact found referenced.
struct References {
  std::unordered_set<const void*> meshes, matrices, materials;
};

// Whether the nearest ancestor with a material (parent fields as the walk
// set them) has this one.
bool InheritsMaterial(const QXHier* node) {
  const QXHier* ancestor = node->parent;
  while (ancestor->material == nullptr && ancestor->parent) ancestor = ancestor->parent;
  return ancestor->material == node->material;
}

// Compact's walk: drops inherited materials, unlinks empty nodes (returned,
// for freeing) and gathers what the remaining nodes reference.
std::vector<QXHier*> DropEmptyNodes(QXScene& scene, References& used, CompactReport& report) {
  std::unordered_set<QXHier*> entered, removed;
  std::vector<QXHier*> removedNodes, path;
  QXHier** slot = &scene.roots;
  for (;;) {
    QXHier* node = *slot;
    if (node == nullptr || entered.contains(node)) {
      // End of the list, or a list tail already walked from another parent.
      if (path.empty()) break;
      slot = &path.back()->nextSibling;
      path.pop_back();
      continue;
    }
    node->parent = path.empty() ? nullptr : path.back();
    if (node->material && node->parent && InheritsMaterial(node)) {
      node->material = nullptr;
      ++report.materialsDropped;
    }
    if (removed.contains(node) || (node->firstChild == nullptr && node->mesh == nullptr)) {
      *slot = node->nextSibling;
      if (removed.insert(node).second) removedNodes.push_back(node);
      continue;
    }
    entered.insert(node);
    if (node->mesh) used.meshes.insert(node->mesh);
    if (node->matrix) used.matrices.insert(node->matrix);
    if (node->material) used.materials.insert(node->material);
    path.push_back(node);
    slot = &node->firstChild;
  }
  return removedNodes;
}

// Unlinks and frees every item of a chain that `used` does not hold.
template <class T>
int64_t FreeUnreferenced(T*& head, const std::unordered_set<const void*>& used) {
  int64_t freed = 0;
  for (T** link = &head; *link;) {
    T* item = *link;
    if (used.contains(item)) {
      link = &item->next;
      continue;
    }
    *link = item->next;
    delete item;
    ++freed;
  }
  return freed;
}

using NodeKey = std::array<const void*, 4>;

NodeKey KeyOf(const QXHier* node) { return {node->matrix, node->material, node->mesh, node->firstChild}; }

// Unlinks every node of the list at `head` that equals an earlier one;
// appends the unlinked nodes to `duplicates`.
void UnlinkEqualSiblings(QXHier*& head, std::vector<QXHier*>& duplicates) {
  std::set<NodeKey> seen;
  for (QXHier** link = &head; *link;) {
    QXHier* node = *link;
    if (seen.insert(KeyOf(node)).second) {
      link = &node->nextSibling;
      continue;
    }
    *link = node->nextSibling;
    duplicates.push_back(node);
  }
}

int64_t MergeEqualSiblings(QXScene& scene, bool isTree) {
  std::vector<QXHier*> parents;
  ForEachDistinctNode(scene.roots, [&](QXHier* node) { parents.push_back(node); });
  std::vector<QXHier*> duplicates;
  UnlinkEqualSiblings(scene.roots, duplicates);
  for (QXHier* parent : parents) UnlinkEqualSiblings(parent->firstChild, duplicates);
  // In a tree an unlinked node is reachable from nowhere else. Equal nodes
  // share their first child, so only the node itself is freed.
  if (isTree)
    for (QXHier* node : duplicates) delete node;
  return static_cast<int64_t>(duplicates.size());
}

}  // namespace

namespace {

// A scene that a progressive load is still filling is not ours to change.
bool Changeable(const QXScene& scene) { return !scene.loading && scene.structureReady; }

}  // namespace

int64_t Unitize(QXScene& scene) { return Changeable(scene) ? TreeBuilder(scene).Run() : 0; }

CompactReport Compact(QXScene& scene) {
  CompactReport report;
  if (!Changeable(scene)) return report;
  TreeBuilder(scene).Run();
  References used;
  std::vector<QXHier*> removed = DropEmptyNodes(scene, used, report);
  for (QXHier* node : removed) delete node;
  report.nodesUnlinked = static_cast<int64_t>(removed.size());
  report.meshesFreed = FreeUnreferenced(scene.meshes, used.meshes);
  report.matricesFreed = FreeUnreferenced(scene.matrices, used.matrices);
  report.materialsFreed = FreeUnreferenced(scene.materials, used.materials);
  TreeBuilder tree(scene);
  tree.Run();
  report.nodesMerged = MergeEqualSiblings(scene, tree.Complete());
  return report;
}

CompactReport RemoveSelected(QXScene& scene) {
  if (!Changeable(scene)) return {};
  ForEachDistinctNode(scene.roots, [](QXHier* node) {
    if (node->selected) node->mesh = nullptr;
  });
  CompactReport report = Compact(scene);
  scene.UpdateBox();
  return report;
}

}  // namespace qx
