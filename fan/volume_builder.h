// VolumeBuilder: the removal cost of a vertex is the volume its removal
// sweeps, found by re-triangulating its hole with ear clipping.
//
// Ear clipping after G. H. Meisters, "Polygons have ears", American
// Mathematical Monthly 82 (1975): every simple polygon with four or more
// vertices has two non-overlapping ears, so clipping one valid ear at a time
// always finishes. Here the polygon is the ring of the removed vertex v and
// the ears are chosen by cost:
//
//   ring = v's links as one chain a0→a1→…→ak (fails when they form several)
//   while the ring is not finished:            (closed: two links a→c, c→a
//                                               left; open: one link left)
//     for each pair of successive links (p→q, q→r): the ear (p, q, r)
//       rejected (1e35): p = r; shape 1 − |unit(q−p)·unit(q−r)| < 0.001;
//                        the ear turns against the ring (reflex);
//                        v or another ring vertex strictly inside the ear
//                        (projected to the plane that drops the largest
//                        normal component; v is not tested on the ear that
//                        closes a closed ring, which always covers it);
//       cost: 5e34 when the two links carry different groups,
//             otherwise ½ V², V = volume of the tetrahedron (v, p, q, r)
//     clip the cheapest ear (larger shape wins a tie): new triangle (p, q, r)
//     with the group of p→q, whose link becomes p→r
//   an open ring (a boundary vertex) also pays for straightening its gap
//   a_k … a0: ½ |(v − a0) × (v − a_k)| · |a0 − a_k|
//
// The cost is the sum over the clipped ears (plus the gap); the fill is the
// clipped ears.
#pragma once

#include <optional>

#include "fan/fan_builder.h"

namespace qx {

class VolumeBuilder final : public FanBuilder {
 protected:
  // The clipping's total cost; 1e35 when the ring is not one chain, no ear
  // can be clipped, or the fill would break the mesh (FillIsAcceptable).
  float Cost(VertexIndex v) override;
  // The clipped ears; the failure marker whenever Cost would be 1e35.
  std::optional<Fill> Remove(VertexIndex v) override;
};

// The re-triangulation of one hole.
struct HoleClipping {
  float cost = 0;  // sum of the ear costs, plus the gap of an open ring
  Fill triangles;  // the clipped ears, in clipping order
};

// Clips the hole that removing v (a vertex with triangles) would leave, as
// described above. None when v's links do not form one chain or when no ear
// can be clipped.
std::optional<HoleClipping> ClipHole(const FanBuilder& builder, VertexIndex v);

// The exact sign of the orientation of the 2-D points (a, b, c): +1 when
// counter-clockwise, -1 when clockwise, 0 when collinear. Inputs are floats
// (their pairwise products are exact in double); the sign is exact.
int OrientationSign(float ax, float ay, float bx, float by, float cx, float cy);

}  // namespace qx
