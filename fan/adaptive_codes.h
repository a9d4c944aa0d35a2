// Adaptive variable-length codes for the dense coders. Both are plain bit
// codes in the shared channel (no arithmetic coding), so a step's bits stay
// where the step is and any prefix of the channel decodes; their state
// adapts to what has been coded and is mirrored exactly by the reader, which
// updates it with the same values in the same order.
//
// AdaptiveRice codes a count x ≥ 0 as a Golomb–Rice code whose parameter k
// follows the running mean of the values coded before:
//   q = x >> k ones, a zero, then the k low bits of x    (q < kEscape)
//   kEscape ones, then bitLength(x) in 6 bits, then x in that many bits
// with k the smallest width for which count·2^k ≥ sum. Sum and count halve
// every kHalvingCount values, so the code follows a drifting distribution.
//
// ScaledRice codes a count x ≥ 0 whose size follows a scale both sides know
// (the caller's bit length L of it): the same codes with parameter L + j,
// j following the running mean of x / 2^L. One model serves every scale, so
// it learns from all of a mesh's values, not from the few at each scale.
//
// AdaptiveChoice codes one of up to five symbols by its rank among the
// symbols' running counts (ties: the lower symbol first), in unary:
//   rank 0: 0   rank 1: 10   rank 2: 110   …   the last rank: all ones
// (with three symbols rank 2 is 11, with four rank 3 is 111).
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "fan/bit_channel.h"

namespace qx {

class AdaptiveRice {
 public:
  bool Write(BitChannel& bits, uint32_t x) {
    const int k = parameter_;
    Update(x);
    return WriteRice(bits, x, k);
  }

  // False on a short read or an escape longer than 32 bits.
  bool Read(BitChannel& bits, uint32_t& x) {
    if (!ReadRice(bits, parameter_, x)) return false;
    Update(x);
    return true;
  }

  // The code of x with parameter k (0 … 31), shared with ScaledRice.
  static bool WriteRice(BitChannel& bits, uint32_t x, int k) {
    const uint32_t q = x >> k;
    if (q < kEscape) {
      return WriteOnes(bits, static_cast<int>(q)) && bits.WriteBit(false) &&
             bits.WriteBits(x & LowMask(k), k);
    }
    const int length = Length(x);
    return WriteOnes(bits, kEscape) && bits.WriteBits(static_cast<uint32_t>(length), 6) && bits.WriteBits(x, length);
  }
  static bool ReadRice(BitChannel& bits, int k, uint32_t& x) {
    uint32_t q = 0, low = 0;
    if (!bits.ReadOnesAndField(kEscape, k, q, low)) return false;
    if (q < kEscape) {
      const uint64_t value = (uint64_t{q} << k) | low;
      if (value > UINT32_MAX) return false;
      x = static_cast<uint32_t>(value);
      return true;
    }
    uint32_t length = 0;
    return bits.ReadBits(6, length) && length <= 32 && bits.ReadBits(static_cast<int>(length), x);
  }

  int Parameter() const { return parameter_; }

 private:
  static constexpr uint32_t kEscape = 24;
  static constexpr uint32_t kHalvingCount = 64;

  static uint32_t LowMask(int k) { return k >= 32 ? UINT32_MAX : (uint32_t{1} << k) - 1; }
  static int Length(uint32_t x) { return std::bit_width(x); }
  static bool WriteOnes(BitChannel& bits, int count) {
    for (int i = 0; i < count; ++i)
      if (!bits.WriteBit(true)) return false;
    return true;
  }
  void Update(uint32_t x) {
    sum_ += x;
    if (++count_ >= kHalvingCount) {
      sum_ >>= 1;
      count_ >>= 1;
    }
    // With a = bitLength(sum) and b = bitLength(count), count·2^(a−b) may
    // fall short of sum but count·2^(a−b+1) ≥ 2^a > sum, and k = a−b−1 is
    // always short: one comparison settles k.
    const int a = std::bit_width(sum_), b = std::bit_width(count_);
    const int k = a > b ? std::min(a - b, 31) : 0;
    parameter_ = k + static_cast<int>((k < 31) & ((uint64_t{count_} << k) < sum_));  // no branch to foresee
  }

  uint64_t sum_ = 2;
  uint32_t count_ = 1;
  int parameter_ = 1;  // the smallest k with count·2^k ≥ sum
};

class ScaledRice {
 public:
  // x is coded with parameter L + j (clamped to 0 … 31), L given by the
  // caller, the same on both sides.
  bool Write(BitChannel& bits, uint32_t x, int scaleLength) {
    const int k = Parameter(scaleLength);
    Update(x, scaleLength);
    return AdaptiveRice::WriteRice(bits, x, k);
  }
  // False on a short read or an escape longer than 32 bits.
  bool Read(BitChannel& bits, uint32_t& x, int scaleLength) {
    if (!AdaptiveRice::ReadRice(bits, Parameter(scaleLength), x)) return false;
    Update(x, scaleLength);
    return true;
  }

 private:
  static constexpr int kFraction = 16;  // bits below the point of x / 2^L
  static constexpr uint32_t kHalvingCount = 64;

  int Parameter(int scaleLength) const {
    return std::clamp(scaleLength + offset_ - kFraction, 0, 31);
  }
  // offset_ becomes the smallest m with count·2^m ≥ sum, as AdaptiveRice
  // finds its k (m below 64: sum < 2^55).
  void Update(uint32_t x, int scaleLength) {
    sum_ += (uint64_t{x} << kFraction) >> std::clamp(scaleLength, 0, 63);
    if (++count_ >= kHalvingCount) {
      sum_ >>= 1;
      count_ >>= 1;
    }
    const int a = std::bit_width(sum_), b = std::bit_width(count_);
    const int m = a > b ? a - b : 0;
    offset_ = m + static_cast<int>((uint64_t{count_} << m) < sum_);
  }

  uint64_t sum_ = uint64_t{1} << kFraction;  // x / 2^L, fixed point, summed
  uint32_t count_ = 1;
  int offset_ = kFraction;  // j + kFraction
};

template <int kSymbols>
class AdaptiveChoice {
  static_assert(kSymbols >= 2 && kSymbols <= 5);

 public:
  // Rank r as r ones and a zero; the last rank without the zero.
  bool Write(BitChannel& bits, int symbol) {
    const int rank = Rank(symbol);
    Update(symbol, rank);
    const uint32_t ones = (uint32_t{1} << rank) - 1;
    return rank < kSymbols - 1 ? bits.WriteBits(ones << 1, rank + 1) : bits.WriteBits(ones, rank);
  }

  bool Read(BitChannel& bits, int& symbol) {
    uint32_t rank = 0;
    if (!bits.ReadOnes(kSymbols - 1, rank)) return false;
    symbol = order_[rank];
    Update(symbol, static_cast<int>(rank));
    return true;
  }

 private:
  static constexpr uint32_t kHalvingTotal = 1024;

  // Whether symbol a goes ahead of b: a higher count, or an equal count and
  // a lower symbol.
  bool Ahead(int a, int b) const { return counts_[a] > counts_[b] || (counts_[a] == counts_[b] && a < b); }
  int Rank(int symbol) const {
    int rank = 0;
    while (order_[rank] != symbol) ++rank;
    return rank;
  }
  // Counts only grow between halvings, so the symbol just counted (at
  // `rank`) moves up past those it now goes ahead of; halving can make ties
  // and re-sorts.
  void Update(int symbol, int rank) {
    counts_[symbol] += 2;
    if ((total_ += 2) >= kHalvingTotal) {
      total_ = 0;
      for (uint32_t& count : counts_) total_ += count >>= 1;
      for (int i = 1; i < kSymbols; ++i)
        for (int j = i; j > 0 && Ahead(order_[j], order_[j - 1]); --j) std::swap(order_[j], order_[j - 1]);
      return;
    }
    for (int j = rank; j > 0 && Ahead(symbol, order_[j - 1]); --j) std::swap(order_[j], order_[j - 1]);
  }

  std::array<uint32_t, kSymbols> counts_{};
  std::array<int, kSymbols> order_ = [] {
    std::array<int, kSymbols> order{};
    for (int s = 0; s < kSymbols; ++s) order[s] = s;
    return order;
  }();
  uint32_t total_ = 0;
};

// A value 0 … kValues−1 coded by its place among the values coded before,
// the most frequent first (ties: the smaller first), the place as an
// AdaptiveRice. Counts halve every kHalvingTotal values, so the ranking
// follows a drifting mix; the reader mirrors it. Suits small alphabets
// whose most frequent values are not the smallest ones, such as bit lengths.
template <int kValues>
class RankedValue {
  static_assert(kValues >= 2 && kValues <= 256);

 public:
  RankedValue() {
    for (int i = 0; i < kValues; ++i) byPlace_[i] = placeOf_[i] = static_cast<uint8_t>(i);
  }

  bool Write(BitChannel& bits, int value) {
    const int place = placeOf_[value];
    Count(value);
    return place_.Write(bits, static_cast<uint32_t>(place));
  }

  // False on a short read or a place beyond the values.
  bool Read(BitChannel& bits, int& value) {
    uint32_t place = 0;
    if (!place_.Read(bits, place) || place >= static_cast<uint32_t>(kValues)) return false;
    value = byPlace_[place];
    Count(value);
    return true;
  }

 private:
  static constexpr uint32_t kHalvingTotal = 4096;
  bool Ahead(int a, int b) const { return counts_[a] > counts_[b] || (counts_[a] == counts_[b] && a < b); }

  // The value just counted moves up past those it now goes ahead of; a
  // halving can make ties, so everything is sorted again then.
  void Count(int value) {
    ++counts_[value];
    if (++total_ >= kHalvingTotal) {
      total_ = 0;
      for (uint32_t& count : counts_) total_ += count >>= 1;
      for (int i = 1; i < kValues; ++i)
        for (int j = i; j > 0 && Ahead(byPlace_[j], byPlace_[j - 1]); --j) std::swap(byPlace_[j], byPlace_[j - 1]);
      for (int i = 0; i < kValues; ++i) placeOf_[byPlace_[i]] = static_cast<uint8_t>(i);
      return;
    }
    int j = placeOf_[value];
    for (; j > 0 && Ahead(value, byPlace_[j - 1]); --j) {
      byPlace_[j] = byPlace_[j - 1];
      placeOf_[byPlace_[j]] = static_cast<uint8_t>(j);
    }
    byPlace_[j] = static_cast<uint8_t>(value);
    placeOf_[value] = static_cast<uint8_t>(j);
  }

  std::array<uint32_t, kValues> counts_{};
  std::array<uint8_t, kValues> byPlace_{};  // values, most frequent first
  std::array<uint8_t, kValues> placeOf_{};
  uint32_t total_ = 0;
  AdaptiveRice place_;
};

// A bit length 0 … 32.
using RankedLength = RankedValue<33>;

// A count of any size whose small values, below kRanked − 1, are ranked by
// frequency (RankedValue); larger ones take the last place and follow as an
// AdaptiveRice of the excess.
template <int kRanked>
class RankedCount {
 public:
  bool Write(BitChannel& bits, uint32_t x) {
    constexpr uint32_t last = kRanked - 1;
    if (x < last) return ranked_.Write(bits, static_cast<int>(x));
    return ranked_.Write(bits, static_cast<int>(last)) && excess_.Write(bits, x - last);
  }
  bool Read(BitChannel& bits, uint32_t& x) {
    int value = 0;
    if (!ranked_.Read(bits, value)) return false;
    x = static_cast<uint32_t>(value);
    uint32_t excess = 0;
    if (x < kRanked - 1) return true;
    if (!excess_.Read(bits, excess) || excess > UINT32_MAX - x) return false;
    x += excess;
    return true;
  }

 private:
  RankedValue<kRanked> ranked_;
  AdaptiveRice excess_;
};

}  // namespace qx
