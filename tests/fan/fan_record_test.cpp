#include "fan/fan_record.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "fan/pck.h"
#include "fan_test_mesh.h"

namespace qx {
namespace {

using testing_fan::ClosedRing;
using testing_fan::Link;
using testing_fan::MakeList;

std::vector<uint8_t> BytesOf(const FanRecord& record) {
  std::vector<uint8_t> bytes;
  for (std::byte b : record.Bytes()) bytes.push_back(static_cast<uint8_t>(b));
  return bytes;
}

std::vector<uint32_t> RingOf(const RecordView& view) {
  return {view.RingSpan().begin(), view.RingSpan().end()};
}

TEST(FanVertex, IsTheInterleavedNormalPositionRecord) {
  static_assert(offsetof(FanVertex, normal) == 0);
  static_assert(offsetof(FanVertex, position) == 12);
  FanVertex vertices[2];
  EXPECT_EQ(reinterpret_cast<char*>(&vertices[1]) - reinterpret_cast<char*>(&vertices[0]), 24);
}

TEST(FanRecord, ByteLayoutFollowsTheTable) {
  // Vertex 3 of the tetrahedron test mesh: a gap link (4,5) and the base face
  // (3,5,4) removed by vertex 1. n = 2, m = 1, ⌈n/8⌉ = 1: 20 + 8 + 5 bytes.
  FanRecord record = BuildRecord(3, MakeList({{4, 5, 3}, {5, 4, 1}}));
  const std::vector<uint8_t> expected = {
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // radius, crease, error, ownError
      2, 1, 0, 0,                                      // ringSize, groupCount, reserved
      4, 0, 0, 0, 5, 0, 0, 0,                          // ring
      1, 0, 0, 0, 0b10,                                // dependency 1, mask: position 1
  };
  EXPECT_EQ(BytesOf(record), expected);

  // Two groups over a 3-ring: the second group header sits at an unaligned
  // offset (20 + 12 + 5 = 37).
  record = BuildRecord(9, MakeList({{12, 10, 4}, {10, 11, 0}, {11, 12, 4}}));
  const std::vector<uint8_t> twoGroups = {
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
      3, 2, 0, 0,                                      //
      10, 0, 0, 0, 11, 0, 0, 0, 12, 0, 0, 0,           // ring starts at the smallest neighbour
      0, 0, 0, 0, 0b001,                               // dependency 0: (9,10,11)
      4, 0, 0, 0, 0b110,                               // dependency 4: (9,11,12), (9,12,10)
  };
  EXPECT_EQ(BytesOf(record), twoGroups);
  const RecordView view(record);
  EXPECT_EQ(view.GroupsEnd() - view.GroupsBegin(), 10);
  EXPECT_EQ(view.Group(1).dependency, 4);
  EXPECT_TRUE(view.Group(1).Has(2));
  EXPECT_FALSE(view.Group(1).Has(0));
}

TEST(FanRecord, EmptyRecords) {
  // No list, and a list of gap links only: the 20-byte empty record.
  FanRecord records[] = {BuildRecord(7, FaceList{}), BuildRecord(7, MakeList({{1, 2, 7}, {2, 1, 7}}))};
  for (const FanRecord& record : records) {
    ASSERT_TRUE(record);
    EXPECT_EQ(record.Bytes().size(), 20u);
    EXPECT_TRUE(RecordView(record).IsEmpty());
  }
  // A missing record reads as the empty record, with zero header floats.
  const FanRecord missing;
  const RecordView view(missing);
  EXPECT_TRUE(view.IsEmpty());
  EXPECT_EQ(view.GroupsBegin(), view.GroupsEnd());
  EXPECT_EQ(view.Metrics().crease, 0.0f);

  QXPck mesh;
  mesh.Create(3);
  EXPECT_TRUE(mesh.Record(1).IsEmpty());
  EXPECT_TRUE(mesh.Record(-1).IsEmpty()) << "outside the mesh reads empty";
  EXPECT_TRUE(mesh.Record(3).IsEmpty());
}

TEST(FanRecord, MaskWidthFollowsTheRingSize) {
  const FanRecord eight = BuildRecord(1, MakeList(ClosedRing(8, 10, 0)));
  const FanRecord nine = BuildRecord(1, MakeList(ClosedRing(9, 10, 0)));
  EXPECT_EQ(RecordView(eight).MaskBytes(), 1);
  EXPECT_EQ(eight.Bytes().size(), 20u + 32 + 4 + 1);
  EXPECT_EQ(RecordView(eight).Group(0).mask[0], 0xFF);
  EXPECT_EQ(RecordView(nine).MaskBytes(), 2);
  EXPECT_EQ(nine.Bytes().size(), 20u + 36 + 4 + 2);
  EXPECT_EQ(RecordView(nine).Group(0).mask[0], 0xFF);
  EXPECT_EQ(RecordView(nine).Group(0).mask[1], 0x01);
}

TEST(FanRecord, RingStartsAtTheSmallestNeighbourWhateverTheRotation) {
  // A 6-ring whose triangles carry dependencies 0, 2 and 5, and a gap.
  const std::vector<Link> ring = {{14, 11, 2}, {11, 17, 0}, {17, 13, 5}, {13, 12, 9}, {12, 16, 0}, {16, 14, 2}};
  const FanRecord reference = BuildRecord(9, MakeList(ring));
  const RecordView view(reference);
  EXPECT_EQ(RingOf(view), (std::vector<uint32_t>{11, 17, 13, 12, 16, 14}));
  ASSERT_EQ(view.GroupCount(), 3) << "distinct dependencies, gap excluded";
  EXPECT_EQ(view.Group(0).dependency, 0);
  EXPECT_EQ(view.Group(1).dependency, 2);
  EXPECT_EQ(view.Group(2).dependency, 5);
  // Positions: (11,17) 0, (17,13) 1, gap 2, (12,16) 3, (16,14) 4, (14,11) 5.
  EXPECT_EQ(view.Group(0).mask[0], 0b001001);
  EXPECT_EQ(view.Group(1).mask[0], 0b110000);
  EXPECT_EQ(view.Group(2).mask[0], 0b000010);
  for (size_t shift = 1; shift < ring.size(); ++shift) {
    std::vector<Link> rotated(ring.begin() + static_cast<long>(shift), ring.end());
    rotated.insert(rotated.end(), ring.begin(), ring.begin() + static_cast<long>(shift));
    EXPECT_EQ(BytesOf(BuildRecord(9, MakeList(rotated))), BytesOf(reference)) << "rotation " << shift;
  }
}

TEST(FanRecordDeathTest, TwoHundredFiftySixLinksAreFatal) {
  const FaceList links = MakeList(ClosedRing(256, 1000, 0));
  EXPECT_EXIT(BuildRecord(2000, links), testing::ExitedWithCode(1), "Warning!!, maxCaras=256");
}

TEST(FanRecord, LargestRingFits) {
  const FanRecord record = BuildRecord(2000, MakeList(ClosedRing(255, 1000, 0)));
  const RecordView view(record);
  EXPECT_EQ(view.RingSize(), 255);
  EXPECT_EQ(view.MaskBytes(), 32);
  EXPECT_EQ(record.Bytes().size(), 20u + 4 * 255 + 4 + 32);
}

TEST(FanRecord, CheckedBuildRefusesWhatTheFileCannotHold) {
  RingStatus status;
  EXPECT_FALSE(TryBuildRecord(2000, MakeList(ClosedRing(256, 1000, 0)), 3000, &status));
  EXPECT_EQ(status.fault, RingFault::kTooManyLinks);
  EXPECT_EQ(status.value, 256);

  EXPECT_FALSE(TryBuildRecord(5, MakeList({{6, 9, 0}, {9, 6, 5}}), 9, &status)) << "corner 9 of N = 9";
  EXPECT_EQ(status.fault, RingFault::kBadIndex);
  EXPECT_EQ(status.value, 9);
  EXPECT_FALSE(TryBuildRecord(5, MakeList({{6, 7, 6}, {7, 6, 5}}), 9, &status)) << "dependency above v";
  EXPECT_EQ(status.fault, RingFault::kBadIndex);
  EXPECT_FALSE(TryBuildRecord(5, MakeList({{6, 7, -1}, {7, 6, 5}}), 9, &status));
  EXPECT_EQ(status.fault, RingFault::kBadIndex);
  EXPECT_FALSE(TryBuildRecord(5, MakeList({{6, 6, 2}}), 9, &status));
  EXPECT_EQ(status.fault, RingFault::kDegenerateLink);

  // Valid rings give exactly BuildRecord's record.
  const FaceList good = MakeList({{6, 8, 0}, {8, 7, 3}, {7, 6, 5}});
  std::optional<FanRecord> checked = TryBuildRecord(5, good, 9, &status);
  ASSERT_TRUE(checked);
  EXPECT_TRUE(status.Ok());
  EXPECT_EQ(BytesOf(*checked), BytesOf(BuildRecord(5, good)));
}

TEST(FanRecord, HeaderFloatsAreWritableAndReadBack) {
  FanRecord record = BuildRecord(1, MakeList(ClosedRing(3, 2, 0)));
  EXPECT_EQ(RecordView(record).Metrics().radius, 0.0f);
  RecordMetrics* metrics = record.Metrics();
  ASSERT_NE(metrics, nullptr);
  *metrics = {1.5f, 0.25f, 2.0f, 0.5f};
  const RecordView view(record);
  EXPECT_EQ(view.Metrics().radius, 1.5f);
  EXPECT_EQ(view.Metrics().crease, 0.25f);
  EXPECT_EQ(view.Metrics().error, 2.0f);
  EXPECT_EQ(view.Metrics().ownError, 0.5f);
  float crease;
  std::memcpy(&crease, record.Bytes().data() + 4, 4);
  EXPECT_EQ(crease, 0.25f) << "crease at byte offset 4";
  EXPECT_EQ(FanRecord().Metrics(), nullptr);
}

TEST(FanRecord, CounterFollowsAllocationsAndReleases) {
  const int start = FanRecordsAlive();
  {
    QXPck mesh;
    testing_fan::BuildTetraMesh(mesh);
    EXPECT_EQ(FanRecordsAlive(), start + 6);
    FanRecord moved = std::move(mesh.records[2]);
    EXPECT_EQ(FanRecordsAlive(), start + 6) << "moving a record does not count";
    moved.Reset();
    EXPECT_EQ(FanRecordsAlive(), start + 5);
    mesh.Create(2);  // re-creating releases the old records
    EXPECT_EQ(FanRecordsAlive(), start);
    testing_fan::BuildTetraMesh(mesh);
  }
  EXPECT_EQ(FanRecordsAlive(), start);
}

TEST(FanMesh, CreateSizesEverything) {
  QXPck mesh;
  mesh.Create(33);
  EXPECT_EQ(mesh.vertexCount, 33);
  EXPECT_EQ(mesh.pendingCount, 0);
  EXPECT_EQ(mesh.bits.BitCount(), 33);
  EXPECT_EQ(mesh.bits.WordCount(), 2);
  EXPECT_EQ(mesh.vertices.size(), 33u);
  EXPECT_EQ(mesh.records.size(), 33u);
  EXPECT_TRUE(mesh.box.Empty());
  EXPECT_EQ(mesh.finalised, 0);
  mesh.bits.Set(32);
  EXPECT_TRUE(mesh.bits.Test(32));
  EXPECT_EQ(mesh.bits.Words()[1], 1u);
  EXPECT_FALSE(mesh.bits.Test(33)) << "outside the set reads clear";
  mesh.bits.Clear(32);
  EXPECT_FALSE(mesh.bits.Test(32));
}

}  // namespace
}  // namespace qx
