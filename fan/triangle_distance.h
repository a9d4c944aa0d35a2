// Squared distance from a point to a triangle (the closest point of the solid
// triangle, edges and corners included).
#pragma once

#include "common/geometry.h"

namespace qx {

// Classifies p against the triangle's Voronoi regions (three corners, three
// edges, the face) by barycentric tests and measures to the closest point of
// that region. Degenerate triangles fall back to their edges.
float PointTriangleDistanceSquared(Vector p, Vector a, Vector b, Vector c);

}  // namespace qx
