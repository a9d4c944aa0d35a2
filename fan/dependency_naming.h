// The order in which a coder meets dependencies: every vertex's ring, from
// N−1 down to 1, each ring in its stored order (smallest neighbour first),
// one dependency per ring triangle. A dependency met here for the first
// time is "named" then; ConnectivityDense codes such a vertex by where it
// falls in the mesh's naming blocks.
//
// Naming blocks cut the indices N−1 … 1 into runs in which every vertex is
// named after the one above it (vertices never named, at the bottom of a
// run, do not end it). Within a block the k-th vertex named is then the
// block's top minus k, so a coder that knows the blocks names a new vertex
// by its block alone. A mesh renumbered into coding order (coding_order.h)
// has a few dozen blocks; a mesh in the simplification's order has about
// one per two vertices.
#pragma once

#include <cstdint>
#include <vector>

#include "fan/fan_record.h"
#include "fan/fan_walk.h"

namespace qx {

class QXPck;

// Calls onNew(c) for every dependency c of `centre`'s ring triangles, 0 < c
// < centre, that `named` does not hold yet, marking it; the triangles from
// ring position `start` on, cyclically.
template <class OnNew>
void NameRingDependencies(const RecordView& record, VertexIndex centre, int start, std::vector<uint8_t>& named,
                          OnNew&& onNew) {
  const int n = record.RingSize();
  for (int k = 0; k < n; ++k) {
    const VertexIndex c = TriangleDependency(record, centre, start + k < n ? start + k : start + k - n);
    if (c <= 0 || c >= centre || named[static_cast<size_t>(c)]) continue;
    named[static_cast<size_t>(c)] = 1;
    onNew(c);
  }
}

// The top index of every naming block of the complete `mesh`, from N−1
// down (the first is always N−1); none for a mesh of one vertex.
std::vector<VertexIndex> NamingBlockTops(const QXPck& mesh);

}  // namespace qx
