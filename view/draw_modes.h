// Draw modes of a GL window and the two-pass drawing of the hidden-surface
// modes.
//
// Points, edges and solid are the polygon modes of OpenGL. The two hidden
// modes draw the scene twice: first filled, into the depth buffer only and
// pushed slightly back, then as lines or points with depth writes off, so
// only the lines and points in front of every surface show.
#pragma once

#include <functional>

namespace qx {

inline constexpr int kDrawPoints = 6912;        // GL_POINT, "Points"
inline constexpr int kDrawEdges = 6913;         // GL_LINE, "Edges"
inline constexpr int kDrawSolid = 6914;         // GL_FILL, "Solid"
inline constexpr int kDrawHiddenLines = 6915;   // GL_FILL + 1
inline constexpr int kDrawHiddenPoints = 6916;  // GL_FILL + 2

bool IsHiddenMode(int drawMode);

// Draws the scene through `drawScene` as the mode asks: once for the plain
// modes; for the hidden modes a depth-only filled pass (polygon offset 0.85)
// then a line or point pass without depth writes. The polygon, depth,
// lighting and colour-buffer state is restored afterwards.
void DrawWithHiddenSurfaces(int drawMode, const std::function<void()>& drawScene);

}  // namespace qx
