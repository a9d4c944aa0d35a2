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
//   level(i) = max(1 + the levels of the vertices i must follow,
//                  deepest level so far − lag)
// with the base vertices at level 0. Without the lag term every vertex
// would come as early as the constraints allow, the least important ones
// included (on the bunny scan the missing error after half the stream grew
// by 9 %, the largest missing error threefold); a lag of 5 keeps the sum
// within 1 % and costs a quarter of a bit more per new dependency. The
// order is: level 1, level 2, …, each level in the order its vertices were
// named, N−1 down.
#pragma once

#include <span>
#include <vector>

#include "fan/face_link.h"

namespace qx {

class QXPck;

// How many levels a vertex may come ahead of the deepest level the
// simplification's order has reached (see above).
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
