// A set of the indices 0 … size−1 that answers, in O(log size), how many
// members lie below an index and which member has a given rank: a Fenwick
// tree of presence counts. ConnectivityDense keeps the vertices not yet named
// as a dependency in one, to code a new dependency by its rank among them.
#pragma once

#include <cstdint>
#include <vector>

namespace qx {

class RankTree {
 public:
  // Every index of 0 … size−1 a member.
  void Reset(int32_t size) {
    counts_.assign(static_cast<size_t>(size) + 1, 0);
    present_.assign(static_cast<size_t>(size), 1);
    for (int32_t i = 1; i <= size; ++i) counts_[static_cast<size_t>(i)] = i & -i;
  }
  int32_t Size() const { return static_cast<int32_t>(present_.size()); }
  bool Contains(int32_t i) const { return i >= 0 && i < Size() && present_[static_cast<size_t>(i)]; }

  void Remove(int32_t i) {
    if (!Contains(i)) return;
    present_[static_cast<size_t>(i)] = 0;
    for (int32_t at = i + 1; at <= Size(); at += at & -at) --counts_[static_cast<size_t>(at)];
  }

  // Members below i (i within 0 … size).
  int32_t CountBelow(int32_t i) const {
    int32_t count = 0;
    for (int32_t at = i; at > 0; at -= at & -at) count += counts_[static_cast<size_t>(at)];
    return count;
  }

  // The member with `rank` members below it; −1 when there is none.
  int32_t Select(int32_t rank) const {
    if (rank < 0) return -1;
    int32_t at = 0;
    int32_t step = 1;
    while (step * 2 <= Size()) step *= 2;
    for (; step > 0; step /= 2) {
      const int32_t next = at + step;
      if (next <= Size() && counts_[static_cast<size_t>(next)] <= rank) {
        at = next;
        rank -= counts_[static_cast<size_t>(next)];
      }
    }
    return at < Size() && Contains(at) ? at : -1;
  }

 private:
  std::vector<int32_t> counts_;  // Fenwick sums, 1-based
  std::vector<uint8_t> present_;
};

}  // namespace qx
