// The dense coders: scene round trips on corpus models at several
// precisions with both predictors, exact against the writer's
// reconstruction and within the error bound of the input; truncated files
// decode a prefix of the full decode; a scene mixing both coder sets reads.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/settings.h"
#include "fan/bit_channel.h"
#include "fan/coding_order.h"
#include "fan/connectivity.h"
#include "fan/dense_connectivity.h"
#include "fan/dense_geometry.h"
#include "fan/geometry_coders.h"
#include "fan/mesh_packer.h"
#include "fan/pck.h"
#include "fan/rank_tree.h"
#include "import/import_options.h"
#include "import/importer.h"
#include "progressive_grid.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/object_writer.h"
#include "stream/registry.h"

namespace qx {
namespace {

class DenseCoders : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
};

std::vector<const QXPck*> MeshesOf(const QXScene& scene) {
  std::vector<const QXPck*> meshes;
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) meshes.push_back(mesh);
  return meshes;
}

// A corpus model imported at `level` and stored with raw positions, or none
// when the corpus is absent.
std::vector<uint8_t> RawCorpusStream(const char* relative, float level) {
  // VERMELLE_CORPUS_DIR in the environment points at a corpus elsewhere.
  const char* override = std::getenv("VERMELLE_CORPUS_DIR");
  const std::string path = std::string(override ? override : VERMELLE_CORPUS_DIR) + "/" + relative;
  if (!std::filesystem::exists(path)) return {};
  ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtPLY);
  options.simplificationLevel = level;
  std::unique_ptr<QXScene> scene = ImportModel(path, options);
  return scene ? EncodeScene(*scene) : std::vector<uint8_t>{};
}

// The ring and groups of a record: its bytes after the four metric floats,
// which the reader recomputes from its own positions.
std::vector<std::byte> Topology(const QXPck& mesh, VertexIndex v) {
  const auto bytes = mesh.records[static_cast<size_t>(v)].Bytes();
  if (bytes.size() <= 16) return {};
  return {bytes.begin() + 16, bytes.end()};
}

// Vertices v ≥ max(decoded's pending count, 1) carry the records and the
// exact positions of `reference`.
void ExpectSameDecodedVertices(const QXPck& reference, const QXPck& decoded, const std::string& what) {
  ASSERT_EQ(reference.vertexCount, decoded.vertexCount) << what;
  for (VertexIndex v = std::max(decoded.pendingCount, 1); v < decoded.vertexCount; ++v) {
    ASSERT_EQ(Topology(reference, v), Topology(decoded, v)) << what << ", record of " << v;
    ASSERT_EQ(reference.vertices[static_cast<size_t>(v)].position, decoded.vertices[static_cast<size_t>(v)].position)
        << what << ", position of " << v;
  }
}

std::unique_ptr<QXScene> SavedAsDense(std::span<const uint8_t> raw, int bits, int predMode) {
  std::unique_ptr<QXScene> scene = DecodeScene(raw);
  if (!scene) return nullptr;
  SaveDialogSettings save;
  save.bitsError = bits;
  save.predMode = predMode;
  save.connectMode = kConnectModeDense;
  save.geoMode = kGeoModeDense;
  ApplySaveSettings(save, *scene);
  return scene;
}

TEST_F(DenseCoders, CorpusRoundTripsAreExactAndWithinTheBound) {
  const std::vector<uint8_t> raw = RawCorpusStream("ply/draco/bun_zipper.ply", 0.5f);
  if (raw.empty()) GTEST_SKIP() << "corpus absent";
  const std::unique_ptr<QXScene> input = DecodeScene(raw);
  ASSERT_TRUE(input);
  // Writing with the dense coders renumbers the vertices; the input, given
  // the same order, is compared vertex by vertex.
  for (QXPck* mesh = input->meshes; mesh; mesh = mesh->next) RenumberForDenseCoding(*mesh);
  for (int bits : {1, 10, 15, 24}) {
    for (int predMode : {0, 1}) {
      const std::string what = std::to_string(bits) + " bits, predictor " + std::to_string(predMode);
      std::unique_ptr<QXScene> written = SavedAsDense(raw, bits, predMode);
      ASSERT_TRUE(written);
      const std::vector<uint8_t> bytes = EncodeScene(*written);
      std::unique_ptr<QXScene> decoded = DecodeScene(bytes);
      ASSERT_TRUE(decoded) << what;
      const auto want = MeshesOf(*written), got = MeshesOf(*decoded), original = MeshesOf(*input);
      ASSERT_EQ(want.size(), got.size());
      for (size_t m = 0; m < want.size(); ++m) {
        EXPECT_EQ(got[m]->pendingCount, 0) << what;
        EXPECT_STREQ(got[m]->connectivityClass->Name(), "ConnectivityDense v3");
        EXPECT_STREQ(got[m]->geometryClass->Name(), "GeoDense v2");
        ExpectSameDecodedVertices(*want[m], *got[m], what);
        const Vector half = original[m]->box.half;
        // The bound, plus the rounding of a position to a float.
        const float largest = std::max({std::abs(original[m]->box.Lo()[0]), std::abs(original[m]->box.Hi()[0]),
                                        std::abs(original[m]->box.Lo()[1]), std::abs(original[m]->box.Hi()[1]),
                                        std::abs(original[m]->box.Lo()[2]), std::abs(original[m]->box.Hi()[2])});
        const float bound = std::ldexp(2 * std::max({half.x, half.y, half.z}), -bits) + std::ldexp(largest, -23);
        float worst = 0;
        for (VertexIndex v = 1; v < got[m]->vertexCount; ++v)
          for (int i = 0; i < 3; ++i)
            worst = std::max(worst, std::abs(got[m]->vertices[static_cast<size_t>(v)].position[i] -
                                             original[m]->vertices[static_cast<size_t>(v)].position[i]));
        EXPECT_LE(worst, bound) << what;
      }
    }
  }
}

TEST_F(DenseCoders, TruncatedFilesDecodeAPrefixOfTheFullDecode) {
  const std::vector<uint8_t> raw = RawCorpusStream("ply/draco/bun_zipper.ply", 0.8f);
  if (raw.empty()) GTEST_SKIP() << "corpus absent";
  std::unique_ptr<QXScene> written = SavedAsDense(raw, 12, 1);
  const std::vector<uint8_t> bytes = EncodeScene(*written);
  const std::unique_ptr<QXScene> full = DecodeScene(bytes);
  ASSERT_TRUE(full);
  const QXPck& whole = *full->meshes;
  VertexIndex previousPending = whole.vertexCount;
  for (size_t cut = 200; cut < bytes.size(); cut += bytes.size() / 23) {
    std::unique_ptr<QXScene> part = DecodeScene({bytes.data(), cut});
    ASSERT_TRUE(part && part->meshes) << cut << " bytes";
    const QXPck& prefix = *part->meshes;
    EXPECT_LE(prefix.pendingCount, previousPending) << cut << " bytes";
    previousPending = prefix.pendingCount;
    ExpectSameDecodedVertices(whole, prefix, std::to_string(cut) + " bytes");
  }
  EXPECT_LT(previousPending, whole.vertexCount / 4);
}

// Writes a scene record whose meshes take the dense coders and the others
// alternately, in the interleaved layout of every scene file (same schedule);
// the third mesh takes the dense coders' first versions and the fourth the
// connectivity coder's second, which readers still know.
class MixedSceneRecord final : public PersistentObject {
 public:
  explicit MixedSceneRecord(QXScene& scene) : scene_(scene) {}
  const ClassDescriptor* GetClass() const override { return &QXScene::kClass; }

  bool Write(ObjectWriter& out) override {
    const qx::Box box = scene_.Box();
    for (const Vector& vector : {box.half, box.centre})
      for (int i = 0; i < 3; ++i) out.WriteF32(vector[i]);
    const auto meshes = MeshesOf(scene_);
    out.WriteU32(static_cast<uint32_t>(meshes.size()));
    struct Item {
      std::unique_ptr<MeshPacker> packer;
      int order;
      float priority;
    };
    std::vector<Item> items;
    for (size_t m = 0; m < meshes.size(); ++m) {
      QXPck& mesh = *const_cast<QXPck*>(meshes[m]);
      CoderChoice choice{1, m != 1 ? kGeoModeDense : 3, m != 1 ? kConnectModeDense : 1, 1.0f / 1024};
      std::unique_ptr<ConnectivityCoder> connectivity = MakeConnectivityCoder(choice, mesh);
      std::unique_ptr<GeometryCoder> geometry = MakeGeometryCoder(choice, mesh);
      const ClassDescriptor* older[] = {nullptr, nullptr, &ConnectivityDense::kFirstVersion,
                                        &ConnectivityDense::kSecondVersion};
      if (older[m]) connectivity.reset(static_cast<ConnectivityCoder*>(older[m]->Factory()()));
      if (m == 2) geometry = std::make_unique<GeoDense>(mesh, MakePredictor(choice.predMode), choice.bitsError, true);
      items.push_back({std::make_unique<MeshPacker>(std::move(connectivity), std::move(geometry)),
                       static_cast<int>(meshes.size() - 1 - m), mesh.weight});
      if (!items.back().packer->WriteHeader(&mesh, out)) return false;
    }
    if (!out.WriteObject(scene_.matrices) || !out.WriteObject(scene_.materials) || !out.WriteObject(scene_.roots))
      return false;
    const auto precedes = [](const Item& a, const Item& b) {
      return a.priority != b.priority ? a.priority > b.priority : a.order > b.order;
    };
    std::stable_sort(items.begin(), items.end(), precedes);
    BitChannel bits(out);
    for (size_t first = 0; first < items.size();) {
      Item& item = items[first];
      if (!item.packer->WriteStep(bits)) {
        ++first;
        continue;
      }
      const QXPck* mesh = item.packer->Mesh();
      item.priority = mesh->weight / static_cast<float>(std::max(1, mesh->vertexCount - item.packer->Remaining()));
      for (size_t i = first; i + 1 < items.size() && precedes(items[i + 1], items[i]); ++i)
        std::swap(items[i], items[i + 1]);
    }
    return bits.Finish();
  }

 private:
  QXScene& scene_;
};

TEST_F(DenseCoders, SceneMixingBothCoderSetsReadsBack) {
  QXScene scene;
  for (uint32_t seed : {3u, 5u, 7u, 9u}) {
    auto mesh = testing_coders::GridSimplifier(9 + static_cast<int>(seed), 8, seed).Build(40);
    scene.AddMesh(mesh.release());
  }
  scene.UpdateBox();
  MixedSceneRecord record(scene);
  MemoryObjectWriter out;
  ASSERT_TRUE(out.WriteObject(&record));
  std::unique_ptr<QXScene> decoded = DecodeScene(out.Bytes());
  ASSERT_TRUE(decoded);
  const auto want = MeshesOf(scene), got = MeshesOf(*decoded);
  ASSERT_EQ(got.size(), 4u);
  for (size_t m = 0; m < got.size(); ++m) {
    EXPECT_EQ(got[m]->pendingCount, 0);
    const char* geometry[] = {"GeoDense v2", "GeoPolarAdaptativo", "GeoDense v1", "GeoDense v2"};
    EXPECT_STREQ(got[m]->geometryClass->Name(), geometry[m]);
    const char* connectivity[] = {"ConnectivityDense v3", "ConnectivityModelo2", "ConnectivityDense v1",
                                  "ConnectivityDense v2"};
    EXPECT_STREQ(got[m]->connectivityClass->Name(), connectivity[m]);
    ExpectSameDecodedVertices(*want[m], *got[m], "mesh " + std::to_string(m));
  }
}

}  // namespace
}  // namespace qx

namespace qx {
namespace {

// Counting and selecting agree with a plain ordered set while members leave.
TEST(RankTree, CountsAndSelectsLikeAnOrderedSet) {
  std::mt19937 random(7);
  for (int32_t size : {1, 64, 65, 130, 1000}) {
    RankTree tree;
    tree.Reset(size);
    std::set<int32_t> members;
    for (int32_t i = 0; i < size; ++i) members.insert(i);
    for (int step = 0; step < size; ++step) {
      const auto i = static_cast<int32_t>(random() % static_cast<uint32_t>(size + 1));
      ASSERT_EQ(tree.CountBelow(i), std::distance(members.begin(), members.lower_bound(i))) << size << " " << i;
      const auto rank = static_cast<int32_t>(random() % (members.size() + 1));
      const int32_t want = rank < static_cast<int32_t>(members.size()) ? *std::next(members.begin(), rank) : -1;
      ASSERT_EQ(tree.Select(rank), want) << size << " " << rank;
      const auto gone = static_cast<int32_t>(random() % static_cast<uint32_t>(size));
      tree.Remove(gone);
      members.erase(gone);
      EXPECT_FALSE(tree.Contains(gone));
    }
  }
}

// The coder's pattern: a count below a bound that moves down a little at a
// time, and selects and removals near the last member selected, which the
// set answers from its landmarks rather than its tree.
TEST(RankTree, NearbyQueriesAgreeWithAnOrderedSet) {
  std::mt19937 random(11);
  const int32_t size = 5000;
  RankTree tree;
  tree.Reset(size);
  std::set<int32_t> members;
  for (int32_t i = 0; i < size; ++i) members.insert(i);
  int32_t rank = 2000;
  for (int32_t bound = size; bound > 0 && !members.empty(); bound -= static_cast<int32_t>(random() % 3)) {
    const auto below = static_cast<int32_t>(std::distance(members.begin(), members.lower_bound(bound)));
    ASSERT_EQ(tree.CountBelow(bound), below) << bound;
    rank = std::clamp<int32_t>(rank + static_cast<int32_t>(random() % 301) - 150, 0, static_cast<int32_t>(members.size()) - 1);
    const int32_t want = *std::next(members.begin(), rank);
    ASSERT_EQ(tree.Select(rank), want) << rank;
    ASSERT_EQ(tree.CountBelow(want), rank) << want;
    tree.Remove(want);
    members.erase(want);
  }
}

}  // namespace
}  // namespace qx
