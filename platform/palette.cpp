#include "platform/palette.h"

#include <array>
#include <cstddef>

namespace qx {
namespace {

uint8_t RampValue(int index, int bits, int shift) {
  static constexpr uint8_t kOneBit[] = {0, 255};
  static constexpr uint8_t kTwoBits[] = {0, 85, 170, 255};
  static constexpr uint8_t kThreeBits[] = {0, 36, 73, 109, 146, 182, 219, 255};
  if (bits < 1 || bits > 3) return 0;
  const int value = (index >> shift) & ((1 << bits) - 1);
  return bits == 1 ? kOneBit[value] : bits == 2 ? kTwoBits[value] : kThreeBits[value];
}

struct FixedEntry {
  int index;
  PaletteColour colour;
};

// The system colours that keep their places in a 3-3-2 palette.
constexpr std::array<FixedEntry, 12> kSystemColours = {{
    {3, {128, 0, 0}},
    {24, {0, 128, 0}},
    {27, {128, 128, 0}},
    {64, {0, 0, 128}},
    {67, {128, 0, 128}},
    {88, {0, 128, 128}},
    {173, {192, 192, 192}},
    {181, {192, 220, 192}},
    {236, {166, 202, 240}},
    {247, {255, 251, 240}},
    {164, {160, 160, 164}},
    {91, {128, 128, 128}},
}};

bool IsThreeThreeTwo(const PixelLayout& layout) {
  return layout.colourBits == 8 && layout.redBits == 3 && layout.redShift == 0 && layout.greenBits == 3 &&
         layout.greenShift == 3 && layout.blueBits == 2 && layout.blueShift == 6;
}

}  // namespace

std::vector<PaletteColour> BuildPalette(const PixelLayout& layout) {
  if (layout.colourBits < 0 || layout.colourBits > 8) return {};
  std::vector<PaletteColour> entries(static_cast<std::size_t>(1) << layout.colourBits);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const int index = static_cast<int>(i);
    entries[i] = {RampValue(index, layout.redBits, layout.redShift),
                  RampValue(index, layout.greenBits, layout.greenShift),
                  RampValue(index, layout.blueBits, layout.blueShift)};
  }
  if (IsThreeThreeTwo(layout))
    for (const FixedEntry& fixed : kSystemColours) entries[static_cast<std::size_t>(fixed.index)] = fixed.colour;
  return entries;
}

}  // namespace qx
