// The colour palette an 8-bit (or smaller) indexed display would need for
// RGB rendering. True-colour X servers never ask for one, so nothing calls
// this at run time on this platform; it is kept, and tested, so that the
// window code stays complete for a display that does.
//
// Entry i takes each channel from i by the channel's bit count and shift and
// maps it through a fixed ramp (1 bit: 0, 255; 2 bits: 0, 85, 170, 255;
// 3 bits: 0, 36, 73, 109, 146, 182, 219, 255; other widths: 0). The usual
// 3-3-2 layout (red 3 bits at 0, green 3 at 3, blue 2 at 6) then has twelve
// entries replaced by the system's fixed colours, so that window frames and
// text keep their colours while the view is active.
#pragma once

#include <cstdint>
#include <vector>

namespace qx {

struct PaletteColour {
  uint8_t red, green, blue;
  friend bool operator==(PaletteColour, PaletteColour) = default;
};

struct PixelLayout {
  int colourBits;
  int redBits, redShift;
  int greenBits, greenShift;
  int blueBits, blueShift;
};

// The 2^colourBits entries for `layout` (none for more than 8 bits).
std::vector<PaletteColour> BuildPalette(const PixelLayout& layout);

}  // namespace qx
