// Scenes with meshes: headers, the interleaving schedule, every coder
// combination round-tripping to the encoder's own positions, truncated files
// and the two packings.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/bit_channel.h"
#include "fan/mesh_packer.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

// Builds a fan mesh from triangles (each stored at its smallest corner, as the
// builder does), then measures it.
struct Tri {
  VertexIndex x, y, z, dependency;
};

void BuildMesh(QXPck& mesh, std::span<const Tri> triangles, int32_t vertexCount, int32_t split,
               const std::vector<Vector>& positions) {
  mesh.Create(vertexCount);
  std::vector<FaceList> lists(vertexCount);
  for (const Tri& t : triangles) {
    VertexIndex c[3] = {t.x, t.y, t.z};
    std::rotate(c, std::min_element(c, c + 3), c + 3);
    lists[c[0]].PushFront(c[1], c[2], 0, t.dependency);
  }
  for (VertexIndex v = 0; v < vertexCount; ++v) {
    CloseRing(v, lists[v]);
    mesh.records[v] = BuildRecord(v, lists[v]);
    mesh.vertices[v].position = positions[v];
  }
  mesh.splitIndex = split;
  mesh.baseCount = vertexCount - split;
  ComputeMetrics(mesh);
}

// Octahedron 2..7 (+x, -x, +y, -y, +z, -z); vertex 1 splits face (2,4,6).
void BuildOctahedron(QXPck& mesh, float scale = 1) {
  const Tri triangles[] = {
      {2, 4, 6, 1}, {4, 3, 6, 0}, {3, 5, 6, 0}, {5, 2, 6, 0},
      {4, 2, 7, 0}, {3, 4, 7, 0}, {5, 3, 7, 0}, {2, 5, 7, 0},
      {1, 2, 4, 0}, {1, 4, 6, 0}, {1, 6, 2, 0},
  };
  std::vector<Vector> positions = {{0, 0, 0}, {0.7f, 0.7f, 0.7f}, {1, 0, 0}, {-1, 0, 0},
                                   {0, 1, 0}, {0, -1, 0},          {0, 0, 1}, {0, 0, -1}};
  for (Vector& p : positions) p = p * scale;
  BuildMesh(mesh, triangles, 8, 2, positions);
}

class Container : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
};

QXScene& AddOctahedra(QXScene& scene, int count) {
  for (int i = 0; i < count; ++i) {
    auto* mesh = new QXPck;
    BuildOctahedron(*mesh, 1.0f + static_cast<float>(i));
    scene.AddMesh(mesh);
    scene.AddRoot(mesh, nullptr);
  }
  return scene;
}

std::vector<QXPck*> Meshes(const QXScene& scene) {
  std::vector<QXPck*> meshes;
  for (QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) meshes.push_back(mesh);
  return meshes;
}

void ExpectSameMesh(const QXPck& decoded, const QXPck& original) {
  ASSERT_EQ(decoded.vertexCount, original.vertexCount);
  EXPECT_EQ(decoded.splitIndex, original.splitIndex);
  EXPECT_EQ(decoded.pendingCount, 0);
  EXPECT_EQ(decoded.finalised, 1);
  for (VertexIndex v = 1; v < original.vertexCount; ++v) {
    EXPECT_EQ(decoded.vertices[v].position, original.vertices[v].position) << v;
    const RecordView a = decoded.Record(v), b = original.Record(v);
    ASSERT_EQ(a.RingSize(), b.RingSize()) << v;
    ASSERT_EQ(a.GroupCount(), b.GroupCount()) << v;
    for (int j = 0; j < a.RingSize(); ++j) EXPECT_EQ(a.Ring()[j], b.Ring()[j]);
  }
}

TEST_F(Container, EveryCoderCombinationDecodesToTheEncodersPositions) {
  for (int32_t geoMode : {0, 1, 2, 3})
    for (int32_t predMode : {0, 1})
      for (int32_t connectMode : {0, 1}) {
        QXScene scene;
        AddOctahedra(scene, 2);
        scene.GeoMode = geoMode;
        scene.PredMode = predMode;
        scene.ConnectMode = connectMode;
        scene.BitsError = 1.0f / 1024;
        const std::vector<uint8_t> bytes = EncodeScene(scene);
        auto decoded = DecodeScene(bytes);
        ASSERT_TRUE(decoded) << geoMode << predMode << connectMode;
        const auto originals = Meshes(scene), copies = Meshes(*decoded);
        ASSERT_EQ(copies.size(), originals.size());
        for (size_t i = 0; i < copies.size(); ++i) ExpectSameMesh(*copies[i], *originals[i]);
        EXPECT_EQ(decoded->roots->mesh, copies[0]) << "nodes refer to the decoded meshes";
      }
}

TEST_F(Container, EqualWeightsTakeTwoStepsEachThenAlternate) {
  QXScene scene;
  for (int i = 0; i < 2; ++i) {
    auto* mesh = new QXPck;
    BuildOctahedron(*mesh);
    scene.AddMesh(mesh);
  }
  ASSERT_EQ(scene.meshes->weight, scene.meshes->next->weight);
  // Raw geometry spends 96 bits a step, so no two steps end in the same
  // 32-bit word: decoding ever longer prefixes shows, through the pending
  // counts, which mesh each step belonged to.
  const std::vector<uint8_t> bytes = EncodeScene(scene);
  std::vector<int> order;
  int previous[2] = {8, 8};
  for (size_t length = 0; length <= bytes.size(); ++length) {
    auto partial = DecodeScene(std::span(bytes.data(), length));
    if (!partial || !partial->meshes || !partial->meshes->next) continue;
    const int pending[2] = {partial->meshes->pendingCount, partial->meshes->next->pendingCount};
    for (int m = 0; m < 2; ++m)
      for (int k = pending[m]; k < previous[m]; ++k) order.push_back(m);
    previous[0] = std::min(previous[0], pending[0]);
    previous[1] = std::min(previous[1], pending[1]);
  }
  ASSERT_GE(order.size(), 6u);
  const std::vector<int> expected = {0, 0, 1, 1, 0, 1};
  EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 6), expected);
}

TEST_F(Container, EveryTruncationLoadsEveryMeshAtSomeDetail) {
  QXScene scene;
  AddOctahedra(scene, 3);
  scene.GeoMode = 3;
  scene.BitsError = 1.0f / 256;
  const std::vector<uint8_t> bytes = EncodeScene(scene);
  auto whole = DecodeScene(bytes);
  ASSERT_TRUE(whole);
  size_t headersEnd = 0;
  for (size_t length = 0; length < bytes.size(); ++length) {
    auto partial = DecodeScene(std::span(bytes.data(), length));
    if (!partial || Meshes(*partial).size() < 3) continue;
    if (!headersEnd) headersEnd = length;
    for (QXPck* mesh : Meshes(*partial)) {
      EXPECT_GE(mesh->pendingCount, 0);
      EXPECT_LE(mesh->pendingCount, mesh->vertexCount);
      // Whatever was decoded can be walked at any level.
      ForEachFan(*mesh, 0, [&](const Fan& fan) { EXPECT_GT(fan.centre, mesh->pendingCount); });
    }
  }
  EXPECT_GT(headersEnd, 0u);
}

// The split index takes the bytes N - 1 needs: none for N = 1, then 1, 2, 2, 3
// at the edges of each width. A width that writer and reader got wrong alike
// would still round-trip, so the header's bytes are checked too.
TEST_F(Container, SplitIndexWidthFollowsTheVertexCount) {
  const std::pair<int32_t, size_t> widths[] = {{1, 0}, {256, 1}, {257, 2}, {65536, 2}, {65537, 3}};
  size_t smallestHeader = 0;
  for (const auto& [count, width] : widths) {
    QXScene scene;
    auto* mesh = new QXPck;
    mesh->Create(count);
    for (VertexIndex v = 0; v < count; ++v) mesh->records[v] = FanRecord::Empty();
    mesh->splitIndex = count - 1;
    scene.AddMesh(mesh);
    MemoryObjectWriter out;
    ASSERT_TRUE(MeshPacker(nullptr, nullptr).WriteHeader(mesh, out)) << count;
    const std::vector<uint8_t>& header = out.Bytes();
    if (count == 1) smallestHeader = header.size();
    EXPECT_EQ(header.size(), smallestHeader + width) << count;
    constexpr size_t kSplitAt = 4 + 13 + 4;  // behind the mesh record and N
    uint32_t split = 0;
    for (size_t i = 0; i < width; ++i) split |= uint32_t{header[kSplitAt + i]} << (8 * i);
    EXPECT_EQ(split, static_cast<uint32_t>(count - 1)) << count;

    auto decoded = DecodeScene(EncodeScene(scene));
    ASSERT_TRUE(decoded && decoded->meshes) << count;
    EXPECT_EQ(decoded->meshes->vertexCount, count);
    EXPECT_EQ(decoded->meshes->splitIndex, count - 1);
    EXPECT_EQ(decoded->meshes->pendingCount, 0);
  }
}

// One mesh coded step by step; the channel's bit count after each step marks
// where that step ends. A stream cut after any whole word decodes exactly the
// steps whose bits all arrived, leaving the pending count at N - k.
TEST_F(Container, CutStreamsLeaveThePendingCountAtNMinusTheStepsReceived) {
  QXPck mesh;
  BuildOctahedron(mesh);
  MemoryObjectWriter out;
  MeshPacker writer(nullptr, nullptr);
  ASSERT_TRUE(writer.WriteHeader(&mesh, out));
  const size_t headerBytes = out.Tell();
  BitChannel bits(out);
  std::vector<uint64_t> stepEnds;
  while (writer.WriteStep(bits)) stepEnds.push_back(bits.TotalBits());
  ASSERT_TRUE(bits.Finish());
  ASSERT_EQ(stepEnds.size(), 7u);
  const std::vector<uint8_t>& bytes = out.Bytes();
  for (size_t words = 0; headerBytes + 4 * words <= bytes.size(); ++words) {
    MemoryObjectReader in(std::span(bytes.data(), headerBytes + 4 * words));
    MeshPacker reader(false);
    int64_t budget = 1000;
    const std::unique_ptr<QXPck> decoded(reader.ReadHeader(in, budget));
    ASSERT_TRUE(decoded);
    BitChannel reading(in);
    int steps = 0;
    while (reader.ReadStep(reading)) ++steps;
    const auto received =
        std::count_if(stepEnds.begin(), stepEnds.end(), [&](uint64_t end) { return end <= 32 * words; });
    EXPECT_EQ(steps, received) << words;
    EXPECT_EQ(decoded->pendingCount, received == 7 ? 0 : 8 - received) << words;
  }
}

// Vertices without triangles, below the split index too, still get their
// positions (raw, whatever the coder).
TEST_F(Container, RingsThatAllDecodeEmptyStillCarryEveryPosition) {
  for (int geoMode : {0, 1, 3}) {
    QXScene scene;
    auto* mesh = new QXPck;
    mesh->Create(6);
    for (VertexIndex v = 0; v < 6; ++v) {
      mesh->records[v] = FanRecord::Empty();
      mesh->vertices[v].position = {0.5f * v, -1.25f * v, 3.0f + v};
    }
    mesh->splitIndex = 3;
    scene.AddMesh(mesh);
    scene.GeoMode = geoMode;
    scene.BitsError = 1.0f / 64;
    auto decoded = DecodeScene(EncodeScene(scene));
    ASSERT_TRUE(decoded && decoded->meshes) << geoMode;
    EXPECT_EQ(decoded->meshes->pendingCount, 0);
    for (VertexIndex v = 1; v < 6; ++v) {
      EXPECT_TRUE(decoded->meshes->Record(v).IsEmpty()) << geoMode << " " << v;
      EXPECT_EQ(decoded->meshes->vertices[v].position, mesh->vertices[v].position) << geoMode << " " << v;
    }
  }
}

TEST_F(Container, PlainAndPackedFilesLoadUnderEitherName) {
  const ScratchFolder scratch;
  const fs::path& dir = scratch.Path();
  QXScene scene;
  AddOctahedra(scene, 1);
  const fs::path packed = dir / "model.qx4", plain = dir / "model.qxz";  // names swapped on purpose
  ASSERT_TRUE(SaveScene(scene, packed.string(), true));
  ASSERT_TRUE(SaveScene(scene, plain.string(), false));
  EXPECT_LT(fs::file_size(packed), fs::file_size(plain));
  for (const fs::path& path : {packed, plain}) {
    auto loaded = LoadScene(path.string());
    ASSERT_TRUE(loaded && loaded->meshes) << path;
    ExpectSameMesh(*loaded->meshes, *scene.meshes);
  }
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().extension().string().find("gz"), std::string::npos) << entry.path();
  EXPECT_FALSE(LoadScene((dir / "missing.qxz").string()));
}


// A scene with every kind of object: meshes, a matrix chain, a material chain
// and a hierarchy in which two parents share a child.
void BuildFullScene(QXScene& scene) {
  AddOctahedra(scene, 2);
  QXMatrix* shift = scene.FindOrAddMatrix(TranslationMatrix({3, 0, 0}));
  QXMaterial* red = scene.FindOrAddMaterial({0.2f, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, 0.5f);
  auto* shared = new QXHier;
  shared->mesh = scene.meshes;
  shared->material = red;
  auto* left = new QXHier;
  left->firstChild = shared;
  QXHier* right = left->Clone();
  right->matrix = shift;
  scene.AddRoot(left);
  scene.AddRoot(right);
}

TEST_F(Container, FullScenesRoundTripInBothPackings) {
  const ScratchFolder scratch;
  const fs::path& dir = scratch.Path();
  QXScene scene;
  BuildFullScene(scene);
  scene.GeoMode = 3;
  scene.BitsError = 1.0f / 4096;
  for (bool pack : {true, false}) {
    const fs::path path = dir / (pack ? "full.qxz" : "full.qx4");
    ASSERT_TRUE(SaveScene(scene, path.string(), pack));
    auto loaded = LoadScene(path.string());
    ASSERT_TRUE(loaded);
    const auto originals = Meshes(scene), copies = Meshes(*loaded);
    ASSERT_EQ(copies.size(), originals.size());
    for (size_t i = 0; i < copies.size(); ++i) ExpectSameMesh(*copies[i], *originals[i]);
    QXHier* right = loaded->roots;
    ASSERT_TRUE(right && right->nextSibling);
    EXPECT_EQ(right->firstChild, right->nextSibling->firstChild) << "the shared child stays shared";
    EXPECT_EQ(right->firstChild->mesh, copies[0]);
    ASSERT_TRUE(right->matrix && right->firstChild->material);
    EXPECT_EQ(right->matrix->values, TranslationMatrix({3, 0, 0}));
    EXPECT_FLOAT_EQ(right->firstChild->material->diffuse[0], 1.0f);
  }
}

// What a save that must fail leaves: the file that was there, untouched, no
// temporary beside it, and a reason.
struct SaveOutcome {
  bool saved;
  std::string failure;
};

SaveOutcome Save(QXScene& scene, const fs::path& path, bool pack) {
  SaveOutcome outcome;
  outcome.saved = SaveScene(scene, path.string(), pack, &outcome.failure);
  return outcome;
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

TEST_F(Container, FailedSavesSayWhyAndLeaveTheExistingFileAlone) {
  const ScratchFolder scratch;
  const fs::path& dir = scratch.Path();
  const fs::path kept = dir / "kept.qxz";
  std::ofstream(kept) << "precious";
  fs::create_directories(dir / "folder.qxz" / "inside");
  fs::create_directories(dir / "empty.qxz");
  QXScene broken;
  broken.AddMesh(new QXPck);  // no vertices: its header cannot be written
  QXScene fine;
  AddOctahedra(fine, 1);
  // A folder where the file should go refuses the final rename, full or empty.
  const std::pair<QXScene*, fs::path> saves[] = {
      {&broken, kept}, {&fine, dir / "missing" / "x.qxz"}, {&fine, dir / "folder.qxz"}, {&fine, dir / "empty.qxz"}};
  for (bool pack : {true, false})
    for (const auto& [scene, path] : saves) {
      const SaveOutcome outcome = Save(*scene, path, pack);
      EXPECT_FALSE(outcome.saved) << path;
      EXPECT_FALSE(outcome.failure.empty()) << path;
    }
  EXPECT_EQ(ReadWholeFile(kept), "precious");
  EXPECT_TRUE(fs::is_directory(dir / "folder.qxz" / "inside"));
  EXPECT_TRUE(fs::is_empty(dir / "empty.qxz"));
  EXPECT_EQ(Names(dir), (std::set<std::string>{"kept.qxz", "folder.qxz", "empty.qxz"})) << "no temporary left";
}

TEST_F(Container, SavesIntoAReadOnlyFolderFailCleanly) {
  const ScratchFolder scratch;
  const fs::path dir = scratch.Path() / "locked";
  fs::create_directories(dir);
  std::ofstream(dir / "kept.qxz") << "precious";
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(dir.c_str(), W_OK) == 0) {  // root writes anyway
    fs::permissions(dir, fs::perms::owner_all);
    GTEST_SKIP() << "this user may write into read-only folders";
  }
  QXScene fine;
  AddOctahedra(fine, 1);
  const SaveOutcome outcome = Save(fine, dir / "kept.qxz", true);
  fs::permissions(dir, fs::perms::owner_all);
  EXPECT_FALSE(outcome.saved);
  EXPECT_NE(outcome.failure.find("denied"), std::string::npos) << outcome.failure;
  EXPECT_EQ(ReadWholeFile(dir / "kept.qxz"), "precious");
  EXPECT_EQ(Names(dir), std::set<std::string>{"kept.qxz"});
}

// A full disk, as a file-size limit of a few bytes in a child process (which
// ignores the signal the limit raises, so the writes fail with an error).
TEST_F(Container, ASaveThatRunsOutOfRoomFailsCleanly) {
  const ScratchFolder scratch;
  const fs::path& dir = scratch.Path();
  const fs::path kept = dir / "kept.qxz";
  std::ofstream(kept) << "precious";
  QXScene scene;
  AddOctahedra(scene, 2);
  for (bool pack : {true, false}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit tiny{64, 64};
      ::setrlimit(RLIMIT_FSIZE, &tiny);
      const SaveOutcome outcome = Save(scene, kept, pack);
      ::_exit(outcome.saved ? 1 : outcome.failure.find("too large") == std::string::npos ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported as saved, 2: no reason given; packed " << pack;
  }
  EXPECT_EQ(ReadWholeFile(kept), "precious");
  EXPECT_EQ(Names(dir), std::set<std::string>{"kept.qxz"});
}

TEST_F(Container, TruncatedFilesHoldExactlyTheStepsReceived) {
  QXScene scene;
  AddOctahedra(scene, 2);
  scene.GeoMode = 1;
  scene.BitsError = 1.0f / 1024;
  const std::vector<uint8_t> bytes = EncodeScene(scene);
  auto whole = DecodeScene(bytes);
  ASSERT_TRUE(whole);
  const auto complete = Meshes(*whole);
  int checked = 0;
  for (size_t length = 0; length < bytes.size(); ++length) {
    auto partial = DecodeScene(std::span(bytes.data(), length));
    if (!partial || Meshes(*partial).size() < complete.size()) continue;  // headers not all there yet
    const auto meshes = Meshes(*partial);
    ++checked;
    for (size_t m = 0; m < meshes.size(); ++m) {
      const QXPck& mesh = *meshes[m];
      // Every vertex present is the complete decode's, record and position.
      for (VertexIndex v = mesh.pendingCount; v < mesh.vertexCount; ++v) {
        if (v == 0) continue;
        EXPECT_EQ(mesh.vertices[v].position, complete[m]->vertices[v].position) << length << " " << v;
        const auto a = mesh.Record(v).RingSpan(), b = complete[m]->Record(v).RingSpan();
        EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << length << " " << v;
      }
    }
  }
  EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace qx
