// A set of the indices 0 … size−1 that answers, in O(log size), how many
// members lie below an index and which member has a given rank.
// ConnectivityDense keeps the vertices not yet named as a dependency in one,
// to code a new dependency by its rank among them.
//
// Members are bits of 64-bit words; a Fenwick tree sums the members per
// word, so the tree is 64 times smaller than the set and stays in the cache
// while the words are touched once per query. The tree spans a power of two
// of words (those past the set hold no members), so that a select descends
// it in a fixed number of steps without a bounds test, each step a
// conditional move rather than a branch the processor cannot foresee.
//
// The coder's counts repeat or move little: the count below the vertex
// being coded moves down a step at a time, and the count below the last
// member selected is asked for again. The set remembers two landmarks (an
// index and the members below it: the last member selected and the last
// index counted), kept true through removals: a count at the last member
// selected is known, and one within a few words of the last count is made
// by counting those words, without the tree.
#pragma once

#include <algorithm>
#include <array>
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
    span_ = std::bit_ceil(std::max<size_t>(words, 1));
    sums_.assign(span_ + 1, 0);
    for (size_t w = 1; w <= span_; ++w) {
      if (w <= words) sums_[w] += PopCount(words_[w - 1]);
      const size_t parent = w + (w & (~w + 1));
      if (parent <= span_) sums_[parent] += sums_[w];
    }
    selected_ = counted_ = Landmark{};
  }
  int32_t Size() const { return size_; }
  bool Contains(int32_t i) const { return i >= 0 && i < size_ && ((words_[Word(i)] >> (i & 63)) & 1); }

  void Remove(int32_t i) {
    if (!Contains(i)) return;
    words_[Word(i)] &= ~(uint64_t{1} << (i & 63));
    for (size_t at = Word(i) + 1; at < sums_.size(); at += at & (~at + 1)) --sums_[at];
    for (Landmark* mark : {&selected_, &counted_})
      if (i < mark->index) --mark->below;
  }

  // Members below i (i within 0 … size).
  int32_t CountBelow(int32_t i) const {
    if (i == selected_.index && i >= 0) return selected_.below;
    int32_t count = 0;
    if (!CountNear(counted_, i, count)) count = TreeCountBelow(i);
    counted_ = {i, count};
    return count;
  }

  // The member with `rank` members below it; −1 when there is none.
  int32_t Select(int32_t rank) const {
    if (rank < 0 || rank >= sums_[span_]) return -1;  // node span_ sums every word
    const int32_t found = TreeSelect(rank);
    if (found >= 0) selected_ = {found, rank};
    return found;
  }

 private:
  // An index and the members below it; none while index is −1.
  struct Landmark {
    int32_t index = -1;
    int32_t below = 0;
  };
  // How far from the last count (in words) a count is made from it.
  static constexpr size_t kNearCountWords = 3;

  int32_t TreeCountBelow(int32_t i) const {
    int32_t count = 0;
    for (size_t at = Word(i); at > 0; at -= at & (~at + 1)) count += sums_[at];
    if (i & 63) count += PopCount(words_[Word(i)] & LowBits(i & 63));
    return count;
  }
  // 0 ≤ rank < the member count.
  int32_t TreeSelect(int32_t rank) const {
    size_t at = 0;
    for (size_t step = span_ / 2; step > 0; step /= 2) {
      // Masks rather than conditions: the compiler would branch on them.
      const int32_t sum = sums_[at + step];
      const uint32_t past = sum <= rank;
      at += step & (size_t{0} - past);
      rank -= sum & -static_cast<int32_t>(past);
    }
    if (at >= words_.size()) return -1;
    const int bit = SelectInWord(words_[at], rank);
    return bit < 0 ? -1 : static_cast<int32_t>(at * 64) + bit;
  }
  // Members in lo … hi−1 (0 ≤ lo ≤ hi ≤ size).
  int32_t MembersBetween(int32_t lo, int32_t hi) const {
    if (lo == hi) return 0;
    size_t w = Word(lo);
    const size_t last = Word(hi - 1);
    uint64_t word = words_[w] & ~LowBits(lo & 63);
    int32_t count = 0;
    for (; w < last; word = words_[++w]) count += PopCount(word);
    return count + PopCount(word & (~uint64_t{0} >> (63 - ((hi - 1) & 63))));
  }
  // The count below i from a landmark within kNearCountWords; false when
  // it is farther.
  bool CountNear(const Landmark& mark, int32_t i, int32_t& count) const {
    if (mark.index < 0 || i < 0 || i > size_) return false;
    const size_t from = Word(mark.index), to = Word(i);
    if ((from > to ? from - to : to - from) > kNearCountWords) return false;
    count = i <= mark.index ? mark.below - MembersBetween(i, mark.index) : mark.below + MembersBetween(mark.index, i);
    return true;
  }
  static size_t Word(int32_t i) { return static_cast<size_t>(i) / 64; }
  // The bits below bit n (0 ≤ n < 64).
  static uint64_t LowBits(int n) { return (uint64_t{1} << n) - 1; }
  // Counted in the register: std::popcount is a library call on processors
  // the build cannot assume to have the instruction.
  static int32_t PopCount(uint64_t x) { return static_cast<int32_t>(ByteCounts(x) * kOnes >> 56); }
  // The members of each byte of x, in that byte.
  static uint64_t ByteCounts(uint64_t x) {
    x -= (x >> 1) & 0x5555'5555'5555'5555;
    x = (x & 0x3333'3333'3333'3333) + ((x >> 2) & 0x3333'3333'3333'3333);
    return (x + (x >> 4)) & 0x0F0F'0F0F'0F0F'0F0F;
  }
  // The position of the set bit of `word` with `rank` set bits below it;
  // −1 when there is none. The byte that holds it is the number of bytes
  // whose running count (members up to and including that byte) is at most
  // rank, all compared at once: every count is below 128, so each byte of
  // (128 + rank) − count keeps its top bit exactly when count ≤ rank. Within
  // the byte the lower members are cleared.
  static int SelectInWord(uint64_t word, int32_t rank) {
    if (rank < 0 || rank >= PopCount(word)) return -1;
    const uint64_t running = ByteCounts(word) * kOnes;
    const uint64_t notPast = ((kHighBits | (static_cast<uint64_t>(rank) * kOnes)) - running) & kHighBits;
    const int byte = static_cast<int>(((notPast >> 7) * kOnes) >> 56);
    const auto before = static_cast<int32_t>(((running << 8) >> (8 * byte)) & 0xFF);
    return 8 * byte + kSelectInByte[(word >> (8 * byte)) & 0xFF][rank - before];
  }
  // The position of the set bit of rank r in each byte (8 when none).
  static constexpr auto kSelectInByte = [] {
    std::array<std::array<uint8_t, 8>, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
      int rank = 0;
      table[byte].fill(8);
      for (int bit = 0; bit < 8; ++bit)
        if (byte & (1 << bit)) table[byte][rank++] = static_cast<uint8_t>(bit);
    }
    return table;
  }();
  static constexpr uint64_t kHighBits = 0x8080'8080'8080'8080;
  static constexpr uint64_t kOnes = 0x0101'0101'0101'0101;

  mutable Landmark selected_;  // the member the last select found
  mutable Landmark counted_;   // the index last counted below
  int32_t size_ = 0;
  size_t span_ = 1;  // words the tree spans: a power of two, at least the words
  std::vector<uint64_t> words_;
  std::vector<int32_t> sums_;  // Fenwick sums of members per word, 1-based
};

}  // namespace qx
