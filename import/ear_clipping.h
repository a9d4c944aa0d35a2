// Triangulation of one polygon by ear clipping, shared by every reader that
// meets faces of five or more corners (OBJ, LightWave, AC3D).
//
// An ear is a corner whose triangle with its two neighbours turns the same way
// as the polygon and holds no other corner; cutting it off leaves a polygon
// with one corner fewer, so n corners give n - 2 triangles.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "common/geometry.h"

namespace qx {

// Three indices into the point list, in the polygon's winding.
using TriangleIndices = std::array<int, 3>;

// Splits the polygon whose corners are `points[polygon[0]]`,
// `points[polygon[1]]`, ... (in order, closing back to the first) into
// triangles and returns them in the order they were cut, each keeping the
// polygon's winding. A polygon of n >= 3 corners always gives n - 2
// triangles; fewer than 3 corners give none.
//
// Corners may repeat or lie on a line: such corners are cut off as flat
// triangles once no proper ear is left. Self-intersecting polygons still
// give n - 2 triangles, though not a cover of any particular region.
// The corners are projected onto the plane of the polygon's dominant axis
// pair, so non-planar polygons are triangulated as seen along their normal.
// The work is bounded: very large polygons are cut by ear clipping until a
// fixed budget of corner tests is spent and the rest is split as a fan from
// its first corner (exact for convex polygons).
//
// Precondition: every entry of `polygon` indexes `points`.
std::vector<TriangleIndices> TriangulatePolygon(std::span<const Vector> points, std::span<const int> polygon);

}  // namespace qx
