// Overlays drawn over the scene in the current model-view space: the axis
// cross and the box around a selected object. Both draw unlit and leave the
// GL state as they found it.
#pragma once

#include <array>
#include <cstdint>

#include "common/geometry.h"

namespace qx {

// Lines from the origin to (length, 0, 0) in red, (0, length, 0) in green and
// (0, 0, length) in blue.
void DrawAxisCross(float length);

// The edges of the box of this centre and half extent, in black, as polygon
// outlines of the unit cube scaled by twice the half extent; culling off.
void DrawSelectionBox(Vector centre, Vector half);

// The polygon stipple of translucent materials: a checkerboard whose rows
// alternate 0xAAAAAAAA and 0x55555555 (for glPolygonStipple).
std::array<uint8_t, 128> CheckerboardStipple();

}  // namespace qx
