// A set of the indices 0 … size−1 that answers, in O(log size), how many
// members lie below an index and which member has a given rank.
// ConnectivityDense keeps the vertices not yet named as a dependency in one,
// to code a new dependency by its rank among them.
//
// Members are bits of 64-bit words; a Fenwick tree sums the members per
// word, so the tree is 64 times smaller than the set and stays in the cache
// while the words are touched once per query.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx {

class RankTree {
 public:
  // Every index of 0 … size−1 a member.
  void Reset(int32_t size) {
    size_ = size;
    const size_t words = (static_cast<size_t>(size) + 63) / 64;
    words_.assign(words, ~uint64_t{0});
    if (words > 0 && size % 64) words_.back() = (uint64_t{1} << (size % 64)) - 1;
    sums_.assign(words + 1, 0);
    for (size_t w = 1; w <= words; ++w) {
      sums_[w] += PopCount(words_[w - 1]);
      const size_t parent = w + (w & (~w + 1));
      if (parent <= words) sums_[parent] += sums_[w];
    }
  }
  int32_t Size() const { return size_; }
  bool Contains(int32_t i) const { return i >= 0 && i < size_ && ((words_[Word(i)] >> (i & 63)) & 1); }

  void Remove(int32_t i) {
    if (!Contains(i)) return;
    words_[Word(i)] &= ~(uint64_t{1} << (i & 63));
    for (size_t at = Word(i) + 1; at < sums_.size(); at += at & (~at + 1)) --sums_[at];
  }

  // Members below i (i within 0 … size).
  int32_t CountBelow(int32_t i) const {
    int32_t count = 0;
    for (size_t at = Word(i); at > 0; at -= at & (~at + 1)) count += sums_[at];
    if (i & 63) count += PopCount(words_[Word(i)] & ((uint64_t{1} << (i & 63)) - 1));
    return count;
  }

  // The member with `rank` members below it; −1 when there is none.
  int32_t Select(int32_t rank) const {
    if (rank < 0) return -1;
    size_t at = 0;
    size_t step = 1;
    while (step * 2 < sums_.size()) step *= 2;
    for (; step > 0; step /= 2)
      if (at + step < sums_.size() && sums_[at + step] <= rank) {
        at += step;
        rank -= sums_[at];
      }
    if (at >= words_.size()) return -1;
    uint64_t word = words_[at];
    for (; rank > 0 && word; --rank) word &= word - 1;  // drop the lowest members
    if (!word) return -1;
    return static_cast<int32_t>(at * 64) + std::countr_zero(word);
  }

 private:
  static size_t Word(int32_t i) { return static_cast<size_t>(i) / 64; }
  static int32_t PopCount(uint64_t x) { return std::popcount(x); }

  int32_t size_ = 0;
  std::vector<uint64_t> words_;
  std::vector<int32_t> sums_;  // Fenwick sums of members per word, 1-based
};

}  // namespace qx
