#include "fan/face_link.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fan_test_mesh.h"

namespace qx {
namespace {

using testing_fan::ClosedRing;
using testing_fan::Link;
using testing_fan::ListLinks;
using testing_fan::MakeList;

TEST(FaceList, PushCountClear) {
  FaceList list;
  EXPECT_TRUE(list.Empty());
  list.PushFront(1, 2, 7, 0);
  FaceLink& second = list.PushFront(3, 4, 0, 5);
  EXPECT_EQ(&second, list.Front());
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Front()->a, 3);
  EXPECT_EQ(list.Front()->dependency, 5);
  ASSERT_NE(list.Front()->next, nullptr);
  EXPECT_EQ(list.Front()->next->group, 7);
  EXPECT_EQ(list.Front()->next->next, nullptr);
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.Front(), nullptr);
}

TEST(FaceList, LongListsAreFreedWithoutRecursion) {
  FaceList list;
  for (int k = 0; k < 1'000'000; ++k) list.PushFront(k, k + 1, 0, 0);
  EXPECT_EQ(list.Count(), 1'000'000);
  list.Clear();
  // A bare chain of links unrolls too.
  auto chain = std::make_unique<FaceLink>();
  for (int k = 0; k < 1'000'000; ++k) {
    auto link = std::make_unique<FaceLink>(k, k, 0, 0);
    link->next = std::move(chain);
    chain = std::move(link);
  }
  chain.reset();
}

// Dropped links are reused; lists built from reused links, on the thread
// that dropped them or after crossing threads, must each keep exactly their
// own links.
TEST(FaceList, ReusedLinksBelongToOneListEach) {
  auto expectSequence = [](const FaceList& list, int first, int count) {
    int k = first;
    for (const FaceLink& link : list) {
      ASSERT_EQ(link.a, k);
      ASSERT_EQ(link.b, k + 1);
      ASSERT_EQ(link.dependency, -k);
      ASSERT_EQ(link.next == nullptr, k == first + count - 1);
      ++k;
    }
    EXPECT_EQ(k, first + count);
  };
  auto fill = [](FaceList& list, int first, int count) {
    for (int k = first + count - 1; k >= first; --k) list.PushFront(k, k + 1, 0, -k);
  };

  FaceList dropped;
  fill(dropped, 0, 50'000);
  dropped.Clear();
  FaceList x, y;
  for (int k = 29'999; k >= 0; --k) {
    x.PushFront(k, k + 1, 0, -k);
    y.PushFront(100'000 + k, 100'001 + k, 0, -(100'000 + k));
  }
  expectSequence(x, 0, 30'000);
  expectSequence(y, 100'000, 30'000);

  FaceList made;
  std::thread maker([&made, &fill] {
    FaceList scratch;
    fill(scratch, 0, 10'000);
    scratch.Clear();  // this thread's reusable links, freed when it ends
    fill(made, 200'000, 20'000);
  });
  maker.join();
  expectSequence(made, 200'000, 20'000);
  made.Clear();  // links of the ended thread, reused here from now on
  x.Clear();
  FaceList z;
  fill(z, 300'000, 40'000);
  expectSequence(z, 300'000, 40'000);
  expectSequence(y, 100'000, 30'000);
}

TEST(CloseRing, ClosedRingIsOnlyRotatedWhateverTheLinkOrder) {
  // Every order of the 4 links of a closed ring gives the ring from 10.
  const std::vector<Link> expected = {{10, 12, 0}, {12, 11, 3}, {11, 13, 0}, {13, 10, 1}};
  std::vector<Link> order = expected;
  std::sort(order.begin(), order.end(), [](const Link& x, const Link& y) { return x.a < y.a; });
  do {
    FaceList list = MakeList(order);
    CloseRing(9, list);
    EXPECT_EQ(ListLinks(list), expected);
  } while (std::next_permutation(order.begin(), order.end(),
                                 [](const Link& x, const Link& y) { return x.a < y.a; }));
}

TEST(CloseRing, BoundaryVertexGetsOneGapLink) {
  // An open fan 1 → 2 → 3 → 4 around vertex 9, in every order.
  std::vector<Link> order = {{1, 2, 0}, {2, 3, 4}, {3, 4, 0}};
  const std::vector<Link> expected = {{1, 2, 0}, {2, 3, 4}, {3, 4, 0}, {4, 1, 9}};
  do {
    FaceList list = MakeList(order);
    CloseRing(9, list);
    EXPECT_EQ(ListLinks(list), expected);
  } while (std::next_permutation(order.begin(), order.end(),
                                 [](const Link& x, const Link& y) { return x.a < y.a; }));

  // The gap may be the first link when it leaves the smallest neighbour.
  FaceList list = MakeList({{7, 9, 0}, {9, 3, 0}});
  CloseRing(5, list);
  EXPECT_EQ(ListLinks(list), (std::vector<Link>{{3, 7, 5}, {7, 9, 0}, {9, 3, 0}}));
}

TEST(CloseRing, SeparateChainsAreJoinedByGaps) {
  FaceList list = MakeList({{5, 6, 0}, {1, 2, 0}, {6, 7, 2}});
  CloseRing(9, list);
  // Chains in extraction order: 5 → 6 → 7, then 1 → 2; rotated to start at 1.
  EXPECT_EQ(ListLinks(list), (std::vector<Link>{{1, 2, 0}, {2, 5, 9}, {5, 6, 0}, {6, 7, 2}, {7, 1, 9}}));
}

TEST(CloseRing, EmptyListStaysEmpty) {
  FaceList list;
  CloseRing(3, list);
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(TryCloseRing(3, list).Ok());
}

TEST(CloseRing, ChainsMeetingAtOneNeighbourJoinWithoutAGap) {
  // Around a non-manifold vertex the neighbours 1 2 3 4 loop back to 2: the
  // link (4,2) cannot extend the first chain (it would repeat 2), so it forms
  // a chain of its own that starts where the first one ends.
  FaceList lasso = MakeList({{1, 2, 0}, {2, 3, 0}, {3, 4, 0}, {4, 2, 0}});
  CloseRing(9, lasso);
  EXPECT_EQ(ListLinks(lasso), (std::vector<Link>{{1, 2, 0}, {2, 3, 0}, {3, 4, 0}, {4, 2, 0}, {2, 1, 9}}));

  // A folded pair (1,2), (2,1) closes as a ring of two positions.
  FaceList pillow = MakeList({{1, 2, 0}, {2, 1, 0}});
  EXPECT_TRUE(TryCloseRing(5, pillow).Ok());
  EXPECT_EQ(ListLinks(pillow), (std::vector<Link>{{1, 2, 0}, {2, 1, 0}}));
}

TEST(CloseRing, CheckedVariantRefusesInsteadOfEnding) {
  FaceList list;
  RingStatus status;
  // 256 links: refused before any work; the fatal variant has no size limit.
  list = MakeList(ClosedRing(256, 1000, 0));
  status = TryCloseRing(5000, list);
  EXPECT_EQ(status.fault, RingFault::kTooManyLinks);
  EXPECT_EQ(status.value, 256);
  EXPECT_EQ(list.Count(), 256);
  CloseRing(5000, list);
  EXPECT_EQ(list.Count(), 256);

  // 255 open links become 256 with the closing gap: refused after the work.
  std::vector<Link> open = ClosedRing(256, 1000, 0);
  open.pop_back();
  list = MakeList(open);
  status = TryCloseRing(5000, list);
  EXPECT_EQ(status.fault, RingFault::kTooManyLinks);
  EXPECT_EQ(status.value, 256);

  // A ring that fits comes out as CloseRing leaves it.
  list = MakeList({{3, 4, 0}, {1, 2, 0}, {2, 3, 4}});
  EXPECT_TRUE(TryCloseRing(9, list).Ok());
  EXPECT_EQ(ListLinks(list), (std::vector<Link>{{1, 2, 0}, {2, 3, 4}, {3, 4, 0}, {4, 1, 9}}));
}

}  // namespace
}  // namespace qx
