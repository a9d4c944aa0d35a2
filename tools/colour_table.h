// The colour table of the occlusion analysis: colours that survive the frame
// buffer unchanged, so that a picture read back tells which item covers each
// pixel. Each entry pairs the colour as it reads back with the colour drawn
// (both 24-bit RGB, red in the low byte); on a frame buffer with fewer than 8
// bits per channel the two differ, and only read-back values that stay
// distinct are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace qx {

class ColourTable {
 public:
  struct Entry {
    uint32_t readBack;
    uint32_t drawn;
  };

  // Appends the pair unless `readBack` is black (the background) or already
  // in the table. Returns whether it was added.
  bool Add(uint32_t readBack, uint32_t drawn);
  // The index of the entry whose read-back colour this is; -1 for none.
  int Find(uint32_t readBack) const {
    const auto it = index_.find(readBack);
    return it == index_.end() ? -1 : it->second;
  }
  int Size() const { return static_cast<int>(entries_.size()); }
  const Entry& operator[](int i) const { return entries_[static_cast<size_t>(i)]; }

 private:
  std::vector<Entry> entries_;
  std::unordered_map<uint32_t, int> index_;
};

// 24-bit colour from three bytes (red lowest), as pixels read back.
inline uint32_t PackRgb(const uint8_t* rgb) {
  return uint32_t{rgb[0]} | uint32_t{rgb[1]} << 8 | uint32_t{rgb[2]} << 16;
}

// The random generator of the analysis: 15-bit values, seeded with 0, so
// that every run draws the same colours and directions.
class Random15 {
 public:
  static constexpr int kRange = 32768;
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  uint32_t state_ = 0;
};

// Fills a table of up to `count` entries in the current GL context, drawing
// into the current draw buffer and reading the current read buffer: for each
// viewport row from the bottom, one point per pixel in a random colour whose
// components are 0 … 254, then the row read back; black and repeated
// read-back colours are skipped. Stops once `count` entries exist or the
// rows run out (a small viewport gives a smaller table). Sets a pixel-unit
// projection, identity model-view, depth writes off, depth test GL_ALWAYS
// and point size 1; the caller saves and restores the GL state.
ColourTable BuildColourTable(int count, int width, int height, Random15& random);

}  // namespace qx
