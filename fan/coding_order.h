// Coding order: renumbers a finished fan mesh's refinement vertices so that
// the dense connectivity coder meets them in nearly the order it names them.
//
// ConnectivityDense codes each dependency that appears for the first time
// ("new") by its place among the vertices not yet named, relative to the
// previous new one. In the simplification's numbering the vertices are
// named in no particular order, so every new dependency costs about the
// logarithm of the mesh size. Inserting, among the vertices that may come
// next, the one named first makes many new dependencies arrive one below
// the other, with small offsets.
//
// Any insertion order that keeps every refinement vertex i after
//   - every vertex of its ring (all above i), and
//   - every vertex j whose record has a triangle with dependency i
// is a valid progressive mesh with the same full mesh and the same base mesh.
// The order is found by decoding on paper, coarse to fine:
//
//   insert the base vertices; name the dependencies of their rings
//   for each step p = 0, 1, …, S−2 (new index S−1−p):
//     the vertex the simplification put at step p − reach, if still waiting,
//       goes now (it may wait no longer)
//     else the earliest named vertex not yet in goes, if ready; if not,
//       the earliest named of those it waits for, and so on up
//     else (that vertex lies beyond the reach) of the ready vertices the
//       simplification put at most `reach` steps ahead, the one named
//       earliest goes
//     its ring, in coded order, names the dependencies not named before
//
// so no vertex moves more than `reach` steps from where the simplification
// put it.
//
// A bounded reach buys nothing: a vertex is usually named thousands of steps
// before the simplification inserts it (on the simplified bunny, half of
// them over 2500 steps ahead), so within a reach of up to a few thousand
// steps the new dependencies stay as scattered as before and files grow a
// little. Unbounded, the order refines the mesh breadth first through its
// dependencies. Measured on the bunny and dragon scans at levels 1 and 0.5,
// the sum of the roots of the error bounds of the vertices still missing
// after 1, 10, 25 and 50 % of the stream stays within about 15 % of the
// simplification's order (the largest bound falls more often than it rises,
// once to 2.3 times), and the new dependencies' ranks shrink from about 11
// bits to 9 at level 1.
#pragma once

#include <limits>
#include <span>
#include <vector>

#include "fan/face_link.h"

namespace qx {

class QXPck;

// The reach a mesh written with the dense coders is renumbered with: none
// (see above).
inline constexpr VertexIndex kDenseCodingReach = std::numeric_limits<VertexIndex>::max();

// The new index of every vertex (N entries) for the order sketched above:
// 0 and the base vertices keep theirs; reach 0 keeps every index. The mesh
// must be complete (every record present or empty).
std::vector<VertexIndex> CodingOrder(const QXPck& mesh, VertexIndex reach);

// Moves vertex v to newIndex[v] for every v: positions, normals and records,
// with every ring vertex and dependency (gaps included) renamed, then
// measures the mesh anew (ComputeMetrics). `newIndex` must be a permutation
// of 0 … N−1 that respects the constraints above, as CodingOrder returns.
void Renumber(QXPck& mesh, std::span<const VertexIndex> newIndex);

// Renumber(mesh, CodingOrder(mesh, kDenseCodingReach)) under the mesh lock,
// for a complete mesh; a mesh still loading is left alone.
void RenumberForDenseCoding(QXPck& mesh);

}  // namespace qx
