// Scene tools that reshape the hierarchy: Unitize turns the node graph into a
// tree, Compact drops what no node uses and merges equal siblings, and
// RemoveSelected takes the meshes off the selected nodes, then compacts.
//
// The hierarchy may be a directed acyclic graph: `QXHier::Clone` shares the
// children of the node it copies. Two nodes are *equal* when they hold the
// same matrix, material, mesh and first child, compared as references, not
// by content (two meshes with identical triangles are different meshes).
//
// Each does nothing (and returns 0 or an empty report) while the scene is
// being loaded. Editor commands built on these (which do nothing while no
// scene exists; afterwards the view must forget the meshes it queued,
// SceneView::SetScene, since Compact destroys meshes):
//   "Unitize Scene \t(build tree)"     Unitize(scene)
//   "Compact Scene \t(build network)"  Compact(scene)        (also `-c`)
//   "&Remove selected"                 RemoveSelected(scene)  (`-ocl` after
//                                      the occlusion analysis, occlusion.h)
#pragma once

#include <cstdint>

namespace qx {

class QXScene;

// What a Compact run removed.
struct CompactReport {
  int64_t nodesUnlinked = 0;     // empty nodes taken out of the hierarchy and freed
  int64_t nodesMerged = 0;       // siblings freed because an earlier sibling equals them
  int64_t meshesFreed = 0;
  int64_t matricesFreed = 0;
  int64_t materialsFreed = 0;
  int64_t materialsDropped = 0;  // node materials dropped because the node inherits them anyway
};

// At most this many nodes are walked or created by Unitize. A file of a few
// kilobytes can share children so deeply that its tree would not fit in
// memory; beyond the bound, nodes met again stay shared (and are not walked
// again), so the hierarchy is a tree only up to it.
inline constexpr int64_t kMaxUnitizedNodes = int64_t{1} << 20;

// Turns the hierarchy into a tree. Walks it depth first from the first root
// (setting parent fields); a node reached a second time, through another
// parent or a second place in the root list, is replaced at that place by a
// Clone of itself, and the walk goes on inside the clone, so the children it
// still shares are copied in turn when they are reached. A child link that
// leads back to a node on the current path (a cycle a hostile file can
// build) is cut. Returns the nodes visited plus the copies made.
int64_t Unitize(QXScene& scene);

// Compacts the scene in place:
//   1. Unitize (so that dropping an inherited material below cannot change
//      how a shared node looks under another parent);
//   2. a node whose material equals the nearest ancestor's material loses
//      it; a node with neither mesh nor children is unlinked and freed (a
//      node emptied by this run keeps its place: it was visited before its
//      children; a second run removes it);
//   3. every mesh, matrix and material that no node references is freed;
//   4. among the children of each node, and among the roots, a child equal
//      to an earlier sibling is unlinked and freed.
// Afterwards every remaining mesh, matrix and material is referenced, the
// hierarchy is a tree (within kMaxUnitizedNodes) and no parent holds two
// equal children. The scene box does not change.
CompactReport Compact(QXScene& scene);

// The "Remove selected" command: every selected node loses its mesh; then
// the scene is compacted and its box recomputed. Returns the Compact report
// with `meshesFreed` counting meshes that no node uses any more.
CompactReport RemoveSelected(QXScene& scene);

}  // namespace qx
