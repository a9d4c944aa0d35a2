#include "fan/fan_walk.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fan_test_mesh.h"

namespace qx {
namespace {

using testing_fan::BuildGridMesh;
using testing_fan::BuildTetraMesh;
using testing_fan::ClosedRing;
using testing_fan::Link;
using testing_fan::MakeList;
using testing_fan::Tri;
using testing_fan::TriangleSet;
using testing_fan::WalkTriangles;

using Runs = std::vector<std::pair<int, int>>;

Runs RunsOf(const DependencyGroup& group) {
  Runs runs;
  ForEachRun(group, [&](int start, int end) { runs.emplace_back(start, end); });
  return runs;
}

TEST(FanWalk, ByteTablesGiveTheLowestRun) {
  EXPECT_EQ(kMaskRunStart[0], 0);
  EXPECT_EQ(kMaskRunEnd[0], 0);
  EXPECT_EQ(kMaskRunStart[0b01101100], 2);
  EXPECT_EQ(kMaskRunEnd[0b01101100], 4);
  EXPECT_EQ(kMaskRunStart[0x80], 7);
  EXPECT_EQ(kMaskRunEnd[0x80], 8);
  EXPECT_EQ(kMaskRunEnd[0xFF], 8);
  // Every byte: the runs the tables find are exactly its set bits.
  for (int x = 0; x < 256; ++x) {
    const uint8_t mask[1] = {static_cast<uint8_t>(x)};
    int rebuilt = 0;
    int previousEnd = -1;
    for (auto [s, e] : RunsOf({0, mask, 1})) {
      ASSERT_LT(s, e);
      ASSERT_GT(s, previousEnd) << "runs are maximal and ascending";
      for (int bit = s; bit < e; ++bit) rebuilt |= 1 << bit;
      previousEnd = e;
    }
    EXPECT_EQ(rebuilt, x);
  }
}

TEST(FanWalk, RunsDoNotCrossByteBorders) {
  // A 10-ring: positions 6…9 depend on 0, positions 0…5 on 2.
  std::vector<Link> links = ClosedRing(10, 10, 2);
  for (int k = 6; k < 10; ++k) links[k].dependency = 0;
  const FanRecord record = BuildRecord(5, MakeList(links));
  const RecordView view(record);
  ASSERT_EQ(view.MaskBytes(), 2);
  EXPECT_EQ(RunsOf(view.Group(0)), (Runs{{6, 8}, {8, 10}}));
  EXPECT_EQ(RunsOf(view.Group(1)), (Runs{{0, 6}}));

  QXPck mesh;
  mesh.Create(6);
  mesh.records[5] = BuildRecord(5, MakeList(links));
  std::vector<Fan> fans;
  EXPECT_EQ(ForEachFan(mesh, 0, [&](const Fan& fan) { fans.push_back(fan); }), 4);
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_EQ(fans[1].end, 10);
  EXPECT_EQ(fans[1].Corner2(10), 10) << "the last triangle wraps to ring[0]";
}

TEST(FanWalk, LevelsOfTheSplitTetrahedron) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  // Level 0: the full mesh, only dependency-0 triangles.
  EXPECT_EQ(TriangleSet(WalkTriangles(mesh, 0)),
            (std::vector<Tri>{{1, 3, 5}, {1, 4, 3}, {1, 5, 4}, {2, 3, 4}, {2, 4, 5}, {2, 5, 3}}));
  // Level 1 = S − 1: the base tetrahedron; face (3,5,4) is back.
  EXPECT_EQ(TriangleSet(WalkTriangles(mesh, 1)), (std::vector<Tri>{{2, 3, 4}, {2, 4, 5}, {2, 5, 3}, {3, 5, 4}}));
  // Level 2: base vertex 2 withheld too.
  EXPECT_EQ(WalkTriangles(mesh, 2), (std::vector<Tri>{{3, 5, 4}}));
  // Level N − 1 and beyond: nothing.
  EXPECT_EQ(ForEachFan(mesh, 5, [](const Fan&) { ADD_FAILURE(); }), 0);
  EXPECT_EQ(ForEachFan(mesh, 1 << 30, [](const Fan&) { ADD_FAILURE(); }), 0);
  // Walk order: vertices ascending.
  EXPECT_EQ(WalkTriangles(mesh, 0).front(), (Tri{1, 3, 5}));
}

TEST(FanWalk, LevelBelowThePendingCountIsRaised) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  mesh.pendingCount = 2;  // vertices 2 … 5 decoded
  EXPECT_EQ(WalkTriangles(mesh, 0), WalkTriangles(mesh, 2));
  EXPECT_EQ(ForEachFan(mesh, 0, [](const Fan&) {}), 1);
  mesh.pendingCount = 1;
  EXPECT_EQ(TriangleSet(WalkTriangles(mesh, 0)), TriangleSet(WalkTriangles(mesh, 1)));
  // Missing records (not yet decoded) read as empty.
  mesh.records[3].Reset();
  EXPECT_EQ(ForEachFan(mesh, 1, [](const Fan&) {}), 3);
}

std::vector<Tri> Collect(const QXPck& mesh, Level level, size_t capacity, int* calls = nullptr) {
  std::vector<uint16_t> buffer(capacity);
  std::vector<Tri> out;
  VertexIndex resume = 0;
  int count = 0;
  do {
    const int triangles = CollectTriangles(mesh, level, resume, buffer);
    EXPECT_LE(static_cast<size_t>(triangles) * 3, capacity);
    for (int t = 0; t < triangles; ++t) out.push_back({buffer[3 * t], buffer[3 * t + 1], buffer[3 * t + 2]});
    ++count;
  } while (resume < mesh.vertexCount && count < 10000);
  EXPECT_EQ(resume, mesh.vertexCount);
  if (calls) *calls = count;
  return out;
}

TEST(FanWalk, CollectTrianglesResumesAcrossBuffers) {
  QXPck mesh;
  BuildGridMesh(mesh, 12);
  int twoGroups = 0;
  for (VertexIndex v = 0; v < mesh.vertexCount; ++v) twoGroups += mesh.Record(v).GroupCount() == 2;
  EXPECT_GT(twoGroups, 10) << "the grid exercises records with several groups";
  for (Level level : {0, 1, 17, 60, 143, 144}) {
    const std::vector<Tri> walked = WalkTriangles(mesh, level);
    const std::vector<Tri> whole = Collect(mesh, level, 65536);
    EXPECT_EQ(whole, walked) << "level " << level;
    for (size_t capacity : {19u, 24u, 100u}) {
      int calls = 0;
      EXPECT_EQ(Collect(mesh, level, capacity, &calls), whole) << "level " << level << " capacity " << capacity;
      if (level == 0) {
        EXPECT_GT(calls, 1);
      }
    }
  }
  EXPECT_FALSE(WalkTriangles(mesh, 0).empty());
}

TEST(FanWalk, CollectTrianglesStopsBeforeTheCapacityIsReached) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  // 10 indices: vertex 1 (3n = 9) fits, vertex 2 would bring 9 + 9 to the
  // capacity, so it waits for the next buffer.
  std::vector<uint16_t> buffer(10);
  VertexIndex resume = 0;
  EXPECT_EQ(CollectTriangles(mesh, 0, resume, buffer), 3);
  EXPECT_EQ(resume, 2) << "vertex 2 does not fit after vertex 1";
  EXPECT_EQ(CollectTriangles(mesh, 0, resume, buffer), 3);
  EXPECT_EQ(resume, 3);
  EXPECT_EQ(CollectTriangles(mesh, 0, resume, buffer), 0);
  EXPECT_EQ(resume, 6);
  // 18 indices: 9 + 9 reaches 18 exactly, which already stops.
  buffer.resize(18);
  resume = 0;
  EXPECT_EQ(CollectTriangles(mesh, 0, resume, buffer), 3);
  EXPECT_EQ(resume, 2);
  // The pending count raises the start like the walk.
  mesh.pendingCount = 2;
  resume = 0;
  EXPECT_EQ(CollectTriangles(mesh, 0, resume, buffer), 1);
  EXPECT_EQ(resume, 6);
}

std::string Dump(const QXPck& mesh, VertexIndex first, VertexIndex last) {
  std::FILE* file = std::tmpfile();
  DumpText(mesh, file, first, last);
  std::string text(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  EXPECT_EQ(std::fread(text.data(), 1, text.size(), file), text.size());
  std::fclose(file);
  return text;
}

TEST(FanWalk, DumpTextOfTheSplitTetrahedron) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  *mesh.records[2].Metrics() = {1.5f, 0.25f, 2.0f, 0.5f};
  const std::string zeros = "[0.000000,0.000000,0.000000,0.000000]";
  EXPECT_EQ(Dump(mesh, 0, 5),
            "\n[5] \t{0.000000,0.000000,0.500000}" + zeros +     //
                "\n[4] \t{0.000000,1.000000,0.000000}" + zeros +  //
                "\n[3] (1,{5,4})\t{1.000000,0.000000,0.000000}" + zeros +
                "\n[2] (0,{3,4,5,3})\t{0.000000,0.000000,1.000000}[1.500000,0.250000,2.000000,0.500000]"
                "\n[1] (0,{3,5,4,3})\t{0.250000,0.250000,0.250000}" +
                zeros);
  // Negative first counts as 0, out-of-range last as N − 1.
  EXPECT_EQ(Dump(mesh, -4, 99), Dump(mesh, 0, 5));
  EXPECT_EQ(Dump(mesh, 2, -1), Dump(mesh, 2, 5));
  // Nothing when last ≤ first.
  EXPECT_EQ(Dump(mesh, 3, 3), "");
  EXPECT_EQ(Dump(mesh, 4, 2), "");
  EXPECT_EQ(Dump(mesh, 2, 3), "\n[3] (1,{5,4})\t{1.000000,0.000000,0.000000}" + zeros);
}

TEST(FanWalk, DumpTextSeparatesGroupsAndFans) {
  std::vector<Link> links = ClosedRing(10, 10, 2);
  for (int k = 6; k < 10; ++k) links[k].dependency = 0;
  QXPck mesh;
  mesh.Create(4);
  mesh.records[3] = BuildRecord(3, MakeList(links));
  EXPECT_EQ(Dump(mesh, 2, 3),
            "\n[3] (0,{16,17,18})(0,{18,19,10}),(2,{10,11,12,13,14,15,16})"
            "\t{0.000000,0.000000,0.000000}[0.000000,0.000000,0.000000,0.000000]");
}

std::vector<std::vector<std::byte>> AllRecordBytes(const QXPck& mesh) {
  std::vector<std::vector<std::byte>> all;
  for (const FanRecord& record : mesh.records) all.emplace_back(record.Bytes().begin(), record.Bytes().end());
  return all;
}

TEST(FanWalk, InvertFacesReversesEveryTriangle) {
  for (int shape = 0; shape < 2; ++shape) {
    QXPck mesh;
    if (shape == 0)
      BuildTetraMesh(mesh);
    else
      BuildGridMesh(mesh, 7);
    const auto original = AllRecordBytes(mesh);
    const int start = FanRecordsAlive();
    std::vector<std::vector<Tri>> before;
    for (Level level = 0; level < mesh.vertexCount; ++level) before.push_back(WalkTriangles(mesh, level));

    InvertFaces(mesh);
    EXPECT_EQ(FanRecordsAlive(), start) << "old records released";
    for (Level level = 0; level < mesh.vertexCount; ++level) {
      std::vector<Tri> reversed = before[level];
      for (Tri& t : reversed) std::swap(t[1], t[2]);
      EXPECT_EQ(TriangleSet(WalkTriangles(mesh, level)), TriangleSet(reversed)) << "level " << level;
    }

    InvertFaces(mesh);
    EXPECT_EQ(AllRecordBytes(mesh), original) << "shape " << shape;
  }
}

TEST(FanWalk, RecordLinksRebuildTheRing) {
  QXPck mesh;
  BuildTetraMesh(mesh);
  FaceList links = RecordLinks(mesh.Record(3), /*reversed=*/false);
  EXPECT_EQ(testing_fan::ListLinks(links), (std::vector<Link>{{5, 4, 1}}));
  CloseRing(3, links);
  EXPECT_EQ(BuildRecord(3, links).Bytes().size(), mesh.records[3].Bytes().size());
}

}  // namespace
}  // namespace qx
