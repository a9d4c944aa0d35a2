// Coding order: renumbers a finished fan mesh's refinement vertices into
// levels, so that the dense connectivity coder names a new dependency by its
// level alone (dependency_naming.h).
//
// Any insertion order that keeps every refinement vertex i after
//   - every vertex of its ring (all above i), and
//   - every vertex j whose record has a triangle with dependency i
// is a valid progressive mesh with the same full mesh and the same base
// mesh. The vertices of one level depend on none of each other, so they may
// come in any order; inserting them in the order they were named makes the
// level one naming block, and a new dependency costs only the number of
// levels it lies ahead (about 3 bits on scanned models, against about 9
// for its rank among all vertices not named yet).
//
// Levels, taking the simplification's insertion order (S−1 down to 1):
//   level(i) = max(1 + the levels of the vertices i must follow, floor(i))
// with the base vertices at level 0. Without a floor every vertex would come
// as early as the constraints allow, the least important ones included (on
// the bunny scan the error still missing after half the stream grew by 9 %,
// the largest missing error threefold). The floor is the deepest level so
// far less a lag of 5: the sum then stays within 1 % (dragon 2 %), for a
// quarter of a bit more per new dependency. A strategy that simplifies one
// part of the model after another reaches the depth of each part at once,
// and that floor multiplies the levels (the bunny carved part by part: 812
// levels instead of 60, 7.7 bits per new dependency); when the levels come
// out half as many again as without a floor, the floor is instead the depth
// times the share of the simplification's steps done, less the lag (64
// levels, 3.4 bits, the error missing within 3 % of the simplification's
// order, the largest missing error at most 1.7 times). The order is: level 1,
// level 2, …, each level in the order its vertices were named, N−1 down.
#pragma once

#include <span>
#include <vector>

#include "fan/face_link.h"

namespace qx {

class QXPck;

// How many levels a vertex may come ahead of its floor (see above).
inline constexpr int kDenseCodingLag = 5;

// The new index of every vertex (N entries) for the levels above: 0 and the
// base vertices keep theirs. The mesh must be complete (every record
// present or empty).
std::vector<VertexIndex> CodingOrder(const QXPck& mesh, int lag);

// Moves vertex v to newIndex[v] for every v: positions, normals and records,
// with every ring vertex and dependency (gaps included) renamed, then
// measures the mesh anew (ComputeMetrics). `newIndex` must be a permutation
// of 0 … N−1 that respects the constraints above, as CodingOrder returns.
void Renumber(QXPck& mesh, std::span<const VertexIndex> newIndex);

// Renumber(mesh, CodingOrder(mesh, kDenseCodingLag)) under the mesh lock,
// for a complete mesh; a mesh still loading is left alone.
void RenumberForDenseCoding(QXPck& mesh);

}  // namespace qx
