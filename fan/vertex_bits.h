// A bit set over the vertices of a fan mesh: bit v in word v/32 at position
// v mod 32. The mesh's set is scratch for the searches of the coders and the
// decoder (one thread at a time, under the mesh semaphore).
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

namespace qx {

class VertexBits {
 public:
  // Re-creates the set with `bitCount` cleared bits (⌈bitCount/32⌉ words).
  void Reset(int32_t bitCount) {
    assert(bitCount >= 0);
    bitCount_ = bitCount;
    words_.assign((static_cast<size_t>(bitCount) + 31) / 32, 0);
  }

  int32_t BitCount() const { return bitCount_; }
  int32_t WordCount() const { return static_cast<int32_t>(words_.size()); }
  uint32_t* Words() { return words_.data(); }
  const uint32_t* Words() const { return words_.data(); }

  // Bits outside 0 … BitCount()−1 read as clear and ignore writes.
  bool Test(int32_t bit) const { return Inside(bit) && ((words_[Word(bit)] >> (bit & 31)) & 1); }
  void Set(int32_t bit) {
    if (Inside(bit)) words_[Word(bit)] |= Mask(bit);
  }
  void Clear(int32_t bit) {
    if (Inside(bit)) words_[Word(bit)] &= ~Mask(bit);
  }

 private:
  bool Inside(int32_t bit) const { return bit >= 0 && bit < bitCount_; }
  static size_t Word(int32_t bit) { return static_cast<size_t>(bit) / 32; }
  static uint32_t Mask(int32_t bit) { return 1u << (bit & 31); }

  int32_t bitCount_ = 0;
  std::vector<uint32_t> words_;
};

}  // namespace qx
