// The wing of an edge: which triangle lies on the other side of a ring edge
// at the time a vertex is coded. ConnectivityModelo2 predicts a triangle's
// dependency from it; GPButterfly uses its third corner.
//
// Around vertex v, the ring link (a, b) is the triangle (v, a, b); the
// triangle on the other side of that edge contains the directed edge b→a.
// At the time v is coded, only the records of vertices above v are known, and
// a triangle recorded there with dependency c > v has already been replaced
// by the triangles that c's insertion adds. The search therefore follows
// dependencies upward:
//
//   Search(x):  x at or above the split index, or already visited → none
//     for each triangle t of x's record (groups in stored order, mask bits
//     ascending), with dependency c:
//       t contains b→a:  c ≤ v → answer (c, corner of t off the edge)
//                        c > v → continue as Search(c) (x's other triangles
//                                are not looked at any more)
//       t touches the edge (an edge of t starts at b or ends at a), c > v:
//                        Search(c); an answer is returned at once
//   none
//
// The search starts at min(a, b) and marks visited vertices in the mesh's
// bit set, so every vertex is searched at most once per call. The recursion
// runs on an explicit stack: its depth is decided by the records, which come
// from a file when decoding.
#pragma once

#include "fan/face_link.h"

namespace qx {

class QXPck;

// The triangle beyond an edge. `dependency == v` (the coded vertex) means
// that none was found; `third` is then meaningless.
struct EdgeWing {
  VertexIndex dependency = 0;
  VertexIndex third = 0;
};

// Searches the wing of edge a→b of vertex v's ring in `mesh`, as sketched
// above. Returns {v, v} when there is none. Uses the marks of the mesh's bit
// set, which must be clear on entry (a new mesh's are), and clears the ones it
// set before returning, so no other search may run on the mesh meanwhile. Reads only records of vertices above v.
EdgeWing EdgeDependency(QXPck& mesh, VertexIndex a, VertexIndex b, VertexIndex v);

}  // namespace qx
