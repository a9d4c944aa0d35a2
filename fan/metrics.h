// Per-vertex metrics of a fan mesh: vertex normals, the mesh box and weight,
// the four header floats of every record (radius, crease, error, ownError),
// the record-bytes estimate and the triangle counters; plus the level-of-detail
// selection by tolerance and by view frustum.
//
// A complete mesh is measured in one pass (ComputeMetrics, which ends with
// Finalise); a mesh shown while it loads is measured vertex by vertex as the
// decoder inserts them (InsertVertex), then finalised once.
#pragma once

#include <cstdint>
#include <vector>

#include "common/geometry.h"
#include "fan/face_link.h"

namespace qx {

class QXPck;
class VertexBits;

// The region box of every vertex: the vertex, the first ring corner of each of
// its final triangles, and the region boxes of the vertices that refine it.
// Kept by a loading mesh's packer between InsertVertex calls.
using RegionBoxes = std::vector<Box>;

// Measures a complete mesh, then finalises it.
void ComputeMetrics(QXPck& mesh);

// Normalises the vertex normals, propagates `error` along the dependencies and
// sets the finalised flag. Does nothing to a mesh already finalised.
void Finalise(QXPck& mesh);

// Updates the metrics for vertex v, just decoded, and the vertices it touches
// (ring neighbours, dependencies); vertices above `limit` are left alone.
// `regions` holds one box per vertex (RegionBoxes(N)) and lives as long as the
// loading mesh. The caller holds the mesh semaphore.
void InsertVertex(QXPck& mesh, VertexIndex v, VertexIndex limit, RegionBoxes& regions);

// The level a viewer asks for at a tolerance in 0..1: floor(N * tolerance),
// where a tolerance k/N (rounded to a float) selects level k exactly.
Level LevelFromTolerance(const QXPck& mesh, float tolerance);

}  // namespace qx
