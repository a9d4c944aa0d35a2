// Choosing the picked name from selection-buffer hit records, and the
// per-frame name table.
#include "view/picking.h"

#include <gtest/gtest.h>

#include "scene/scene_model.h"

namespace qx {
namespace {

TEST(NearestHitName, NearestNamedRecordWinsWithItsFirstName) {
  const std::vector<uint32_t> buffer = {
      1, 500, 900, 7,     // depth 500, name 7
      0, 10,  20,         // nearest, but without a name: skipped
      2, 300, 400, 9, 4,  // nearest named: its first name
      1, 300, 310, 5,     // same depth, later: the first stays
  };
  EXPECT_EQ(NearestHitName(buffer, 4), 9u);
  // Only the first `hitCount` records count.
  EXPECT_EQ(NearestHitName(buffer, 2), 7u);
}

TEST(NearestHitName, DepthsCompareUnsigned) {
  const std::vector<uint32_t> buffer = {1, 0x80000000u, 0xFFFFFFFFu, 1, 1, 0x7FFFFFFFu, 0xFFFFFFFFu, 2};
  EXPECT_EQ(NearestHitName(buffer, 2), 2u);
}

TEST(NearestHitName, NothingUsableGivesNone) {
  const std::vector<uint32_t> nameless = {0, 1, 2, 0, 3, 4};
  EXPECT_FALSE(NearestHitName(nameless, 2));
  EXPECT_FALSE(NearestHitName({}, 0));
  // An overflowed buffer reports a negative count.
  EXPECT_FALSE(NearestHitName(nameless, -1));
  // A record whose names run past the buffer is not read.
  const std::vector<uint32_t> cut = {3, 1, 2, 8};
  EXPECT_FALSE(NearestHitName(cut, 1));
  const std::vector<uint32_t> thenCut = {1, 5, 6, 8, 4, 1, 2};
  EXPECT_EQ(NearestHitName(thenCut, 5), 8u);
}

TEST(SelectionNames, NamesStartAtOneAndResolveUntilCleared) {
  QXHier a, b;
  SelectionNames names;
  const uint32_t first = names.NameOf(&a), second = names.NameOf(&b), again = names.NameOf(&a);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(names.NodeNamed(second), &b);
  EXPECT_EQ(names.NodeNamed(again), &a);
  EXPECT_EQ(names.NodeNamed(0), nullptr);
  EXPECT_EQ(names.NodeNamed(4), nullptr);
  names.Clear();
  EXPECT_EQ(names.NodeNamed(first), nullptr);
}

}  // namespace
}  // namespace qx
