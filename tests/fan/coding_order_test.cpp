// The coding order: a renumbered mesh keeps its full and base meshes, obeys
// the fan mesh rules, falls into a few naming blocks, and goes through the
// dense coders like any other mesh, every prefix included.
#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/settings.h"
#include "fan/coding_order.h"
#include "fan/coder_interfaces.h"
#include "fan/dependency_naming.h"
#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "progressive_grid.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"

namespace qx {
namespace {

using Corner = std::array<float, 3>;
using Triangle = std::array<Corner, 3>;

Corner CornerOf(const QXPck& mesh, VertexIndex v) {
  const Vector p = mesh.vertices[static_cast<size_t>(v)].position;
  return {p.x, p.y, p.z};
}

// The triangles shown at `level`, by their corners' positions, each turned
// to start at its smallest corner so that only orientation counts.
std::multiset<Triangle> TrianglesAt(const QXPck& mesh, Level level) {
  std::multiset<Triangle> triangles;
  for (VertexIndex v = level + 1; v < mesh.vertexCount; ++v) {
    const RecordView record = mesh.Record(v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const DependencyGroup group = record.Group(g);
      if (group.dependency > level) continue;
      for (int j = 0; j < record.RingSize(); ++j) {
        if (!group.Has(j)) continue;
        Triangle t = {CornerOf(mesh, v), CornerOf(mesh, record.Neighbour(j)), CornerOf(mesh, record.Neighbour(j + 1))};
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        triangles.insert(t);
      }
    }
  }
  return triangles;
}

// Ring vertices above their centre, dependencies of triangles below it.
void ExpectFanMeshRules(const QXPck& mesh) {
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    const RecordView record = mesh.Record(v);
    for (int j = 0; j < record.RingSize(); ++j) ASSERT_GT(record.Neighbour(j), v) << "ring of " << v;
    for (int g = 0; g < record.GroupCount(); ++g) ASSERT_LT(record.Group(g).dependency, v) << "groups of " << v;
  }
}

std::unique_ptr<QXPck> GridMesh() { return testing_coders::GridSimplifier(24, 20, 11).Build(400); }

TEST(CodingOrder, RenumberedMeshesKeepTheirFullAndBaseMeshesInAFewNamingBlocks) {
  const std::unique_ptr<QXPck> original = GridMesh();
  ComputeMetrics(*original);
  const VertexIndex split = original->splitIndex;
  ASSERT_GT(split, 300);
  // In the simplification's order nearly every vertex starts a block.
  EXPECT_GT(NamingBlockTops(*original).size(), static_cast<size_t>(split / 4));
  for (int lag : {0, kDenseCodingLag, 1000}) {
    const std::string what = "lag " + std::to_string(lag);
    const std::vector<VertexIndex> order = CodingOrder(*original, lag);
    std::vector<VertexIndex> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (VertexIndex v = 0; v < original->vertexCount; ++v) {
      ASSERT_EQ(sorted[static_cast<size_t>(v)], v) << what << ": not a permutation";
      if (v >= split) {
        ASSERT_EQ(order[static_cast<size_t>(v)], v) << what << ": base vertex moved";
      }
    }

    const std::unique_ptr<QXPck> renumbered = GridMesh();
    Renumber(*renumbered, order);
    ExpectFanMeshRules(*renumbered);
    EXPECT_EQ(TrianglesAt(*renumbered, 0), TrianglesAt(*original, 0)) << what;
    EXPECT_EQ(TrianglesAt(*renumbered, split - 1), TrianglesAt(*original, split - 1)) << what;
    EXPECT_EQ(renumbered->finalised, 1);
    EXPECT_EQ(renumbered->allTriangles, original->allTriangles) << what;
    EXPECT_EQ(renumbered->finalTriangles, original->finalTriangles) << what;
    // One block for the base vertices, then one per level at most; without
    // a lag the levels follow the simplification's order closely and are
    // many more.
    if (lag > 0) {
      EXPECT_LE(NamingBlockTops(*renumbered).size(), static_cast<size_t>(split / 16)) << what;
    }
  }
}

// What renaming must give: the record built afresh from the renamed ring.
void ExpectRenamedAsRebuilt(const RecordView& record, VertexIndex v, const std::vector<VertexIndex>& newIndex) {
  const VertexIndex to = newIndex[static_cast<size_t>(v)];
  FaceList ring = StoredRing(record, v);
  for (FaceLink& link : ring) {
    link.a = newIndex[static_cast<size_t>(link.a)];
    link.b = newIndex[static_cast<size_t>(link.b)];
    link.dependency = link.IsGap(v) ? to : newIndex[static_cast<size_t>(link.dependency)];
  }
  EXPECT_TRUE(std::ranges::equal(RenamedRecord(record, newIndex).Bytes(), BuildRecord(to, ring).Bytes()))
      << "record of " << v;
}

// Renumbering renames each record in place; the ring's start, the masks and
// the group order must all follow the new indices. The grid's border rings
// have gaps; the figure-eight ring passes its smallest new neighbour twice.
TEST(CodingOrder, ARenamedRecordIsTheRecordOfItsRenamedRing) {
  const std::unique_ptr<QXPck> mesh = GridMesh();
  std::vector<VertexIndex> newIndex(static_cast<size_t>(mesh->vertexCount));
  std::iota(newIndex.begin(), newIndex.end(), 0);
  std::mt19937 random(7);
  std::shuffle(newIndex.begin() + 1, newIndex.end(), random);
  for (VertexIndex v = 1; v < mesh->vertexCount; ++v) ExpectRenamedAsRebuilt(mesh->Record(v), v, newIndex);

  const std::vector<PlainLink> figureEight = {{11, 13, 0, 3}, {13, 12, 0, 0}, {12, 14, 0, 5},
                                              {14, 15, 0, 10}, {15, 12, 0, 5}, {12, 11, 0, 3}};
  const FanRecord record = BuildRecord(10, figureEight);
  std::vector<VertexIndex> swapped(17);
  std::iota(swapped.begin(), swapped.end(), 0);
  std::swap(swapped[3], swapped[5]);
  std::swap(swapped[11], swapped[16]);
  ExpectRenamedAsRebuilt(RecordView(record), 10, swapped);
}

// A simplification that works through the mesh part by part goes deep in
// each part at once, and the levels then follow its steps instead of its
// deepest level (this grid takes that path); the order stays valid.
TEST(CodingOrder, AMeshSimplifiedPartByPartKeepsItsFullAndBaseMeshes) {
  auto build = [] { return testing_coders::GridSimplifier(60, 50, 11).Build(2600, /*byParts=*/true); };
  const std::unique_ptr<QXPck> original = build(), renumbered = build();
  const VertexIndex split = original->splitIndex;
  Renumber(*renumbered, CodingOrder(*original, kDenseCodingLag));
  ExpectFanMeshRules(*renumbered);
  EXPECT_EQ(TrianglesAt(*renumbered, 0), TrianglesAt(*original, 0));
  EXPECT_EQ(TrianglesAt(*renumbered, split - 1), TrianglesAt(*original, split - 1));
  EXPECT_LE(NamingBlockTops(*renumbered).size(), static_cast<size_t>(split / 16));
}

TEST(CodingOrder, RenumberedMeshesRoundTripThroughTheDenseCodersPrefixesIncluded) {
  RegisterStandardClasses();
  QXScene scene;
  std::unique_ptr<QXPck> mesh = GridMesh();
  Renumber(*mesh, CodingOrder(*mesh, kDenseCodingLag));
  scene.AddMesh(mesh.release());
  scene.UpdateBox();
  SaveDialogSettings save;
  save.bitsError = 12;
  save.connectMode = kConnectModeDense;
  save.geoMode = kGeoModeDense;
  ApplySaveSettings(save, scene);
  const std::vector<uint8_t> bytes = EncodeScene(scene);
  const QXPck& written = *scene.meshes;
  VertexIndex previousPending = written.vertexCount + 1;
  for (size_t cut : {bytes.size() / 3, bytes.size() / 2, bytes.size()}) {
    const std::unique_ptr<QXScene> decoded = DecodeScene({bytes.data(), cut});
    ASSERT_TRUE(decoded && decoded->meshes) << cut << " bytes";
    const QXPck& prefix = *decoded->meshes;
    EXPECT_LT(prefix.pendingCount, previousPending) << cut << " bytes";
    previousPending = prefix.pendingCount;
    for (VertexIndex v = std::max(prefix.pendingCount, 1); v < written.vertexCount; ++v) {
      // The records past their four metric floats, which the reader measures itself.
      const auto want = written.records[static_cast<size_t>(v)].Bytes().subspan(16);
      const auto got = prefix.records[static_cast<size_t>(v)].Bytes().subspan(16);
      ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin(), got.end())) << "record of " << v;
      ASSERT_EQ(written.vertices[static_cast<size_t>(v)].position, prefix.vertices[static_cast<size_t>(v)].position);
    }
  }
  EXPECT_EQ(previousPending, 0);
  ClearClassRegistry();
}

// The ring and groups of every record: the bytes after the metric floats.
std::vector<std::vector<std::byte>> Topology(const QXPck& mesh) {
  std::vector<std::vector<std::byte>> records;
  for (const FanRecord& record : mesh.records) {
    const auto bytes = record.Bytes();
    records.emplace_back(bytes.size() > 16 ? bytes.begin() + 16 : bytes.end(), bytes.end());
  }
  return records;
}

TEST(CodingOrder, OnlyWritingWithTheDenseCodersRenumbersAndOnlyOnce) {
  RegisterStandardClasses();
  QXScene scene;
  scene.AddMesh(GridMesh().release());
  scene.UpdateBox();
  const QXPck& mesh = *scene.meshes;
  SaveDialogSettings save;
  save.bitsError = 12;
  ApplySaveSettings(save, scene);
  const auto original = Topology(mesh);
  EncodeScene(scene);
  EXPECT_EQ(Topology(mesh), original) << "classic coders";
  save.connectMode = kConnectModeDense;
  save.geoMode = kGeoModeDense;
  ApplySaveSettings(save, scene);
  EncodeScene(scene);
  const auto renumbered = Topology(mesh);
  EXPECT_NE(renumbered, original);
  EncodeScene(scene);
  EXPECT_EQ(Topology(mesh), renumbered) << "second dense write";
  ClearClassRegistry();
}

}  // namespace
}  // namespace qx
