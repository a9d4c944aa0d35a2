// Coding order: renumbers a finished fan mesh's refinement vertices so that
// the dense connectivity coder meets them in nearly the order it names them.
//
// ConnectivityDense codes each dependency that appears for the first time
// ("new") by its place among the vertices not yet named, relative to the
// previous new one. In the simplification's numbering the vertices are
// named in no particular order, so every new dependency costs about the
// logarithm of the mesh size. Inserting, among the vertices that may come
// next, the one named first makes new dependencies arrive one below the
// other, and their offsets nearly vanish.
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
//     otherwise, of the ready vertices the simplification put at most
//       `reach` steps ahead, the one named earliest goes
//     its ring, in coded order, names the dependencies not named before
//
// so no vertex moves more than `reach` steps from where the simplification,
// which removes the least important vertices first, put it: the first
// vertices of a stream keep about the importance they had.
//
// What it buys depends on the reach. A vertex is usually named thousands of
// steps before the simplification inserts it (on a simplified scan, half of
// them over 2500 steps ahead), so within a reach of up to a thousand steps
// the new dependencies stay as scattered as before and the files do not
// shrink; only an unbounded reach makes them come in order, at the cost of
// the streams' order of importance.
#pragma once

#include <span>
#include <vector>

#include "fan/face_link.h"

namespace qx {

class QXPck;

// The new index of every vertex (N entries) for the order sketched above:
// 0 and the base vertices keep theirs; reach 0 keeps every index. The mesh
// must be complete (every record present or empty).
std::vector<VertexIndex> CodingOrder(const QXPck& mesh, VertexIndex reach);

// Moves vertex v to newIndex[v] for every v: positions, normals and records,
// with every ring vertex and dependency (gaps included) renamed, then
// measures the mesh anew (ComputeMetrics). `newIndex` must be a permutation
// of 0 … N−1 that respects the constraints above, as CodingOrder returns.
void Renumber(QXPck& mesh, std::span<const VertexIndex> newIndex);

}  // namespace qx
