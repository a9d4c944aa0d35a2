// Whole scene records: the empty scene's exact bytes, files packed and plain,
// round trips of matrices, materials and shared hierarchies, and every prefix
// of a stream.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "scene/gz_object_reader.h"
#include "scene/scene_model.h"
#include "stream/object_writer.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

class SceneFile : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

std::vector<uint8_t> WriteScene(QXScene& scene) {
  MemoryObjectWriter out;
  out.WriteObject(&scene);
  return out.Bytes();
}

std::unique_ptr<QXScene> ReadScene(ObjectReader& in) {
  return std::unique_ptr<QXScene>(in.ReadNewObjectAs<QXScene>());
}

std::vector<uint8_t> EmptySceneBytes() {
  std::vector<uint8_t> bytes;
  auto append = [&](std::initializer_list<uint8_t> values, int times = 1) {
    for (int i = 0; i < times; ++i)
      for (uint8_t value : values) bytes.push_back(value);
  };
  const uint32_t id = ClassIdentifier("QXScene v0.4");
  append({0xD1, 0, 0, 0});                                      // scene record, 52 bytes
  append({0x36, 0, 0, 0, 0x01, 0, 0, 0, 0x00});                  // descriptor record, empty text
  append({uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24)});
  append({0x0C, 0x13, 0x9A, 0xF9}, 3);                          // half extent -1e35
  append({0}, 12 + 4);                                          // centre, N
  append({0x03}, 3);                                            // no matrix, material, root
  append({0}, 4);                                               // final word of the bit stream
  return bytes;
}

TEST_F(SceneFile, EmptySceneIsExactly52Bytes) {
  QXScene scene;
  const std::vector<uint8_t> bytes = WriteScene(scene);
  ASSERT_EQ(bytes.size(), 52u);
  EXPECT_EQ(bytes, EmptySceneBytes());
}

// A mesh count of 0xFFFFFFFF with nothing behind it (a damaged file): the
// header loop must stop where the bytes do instead of trying four thousand
// million headers. The read runs in a child whose address space is capped
// (not under the sanitizers, which reserve vast ranges) and whose time is
// bounded, so a reader that keeps allocating dies there, not the machine.
TEST_F(SceneFile, AHugeMeshCountWithNothingBehindItReadsNoMesh) {
  std::vector<uint8_t> bytes = EmptySceneBytes();
  bytes.resize(4 + 13 + 24 + 4);  // up to and including N
  std::fill(bytes.end() - 4, bytes.end(), 0xFF);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(10);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const rlimit cap{rlim_t{1} << 30, rlim_t{1} << 30};
    ::setrlimit(RLIMIT_AS, &cap);
#endif
    int code = 2;  // the read ran out of memory
    try {
      MemoryObjectReader in(bytes);
      const auto scene = ReadScene(in);
      code = scene && scene->meshes == nullptr ? 0 : 1;
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_FALSE(WIFSIGNALED(status)) << "the read died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no empty scene, 2: out of memory";
}

TEST_F(SceneFile, EmptySceneLoadsFromPlainAndPackedFiles) {
  const std::vector<uint8_t> bytes = EmptySceneBytes();
  const fs::path plain = dir_ / "empty.qx4", packed = dir_ / "empty.qxz";
  std::ofstream(plain, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  gzFile gz = gzopen(packed.c_str(), "wb9");
  ASSERT_NE(gz, nullptr);
  gzwrite(gz, bytes.data(), bytes.size());
  gzclose(gz);
  ASSERT_NE(fs::file_size(packed), bytes.size());

  for (const fs::path& path : {plain, packed}) {
    auto in = GzObjectReader::Open(path);
    ASSERT_TRUE(in) << path;
    auto scene = ReadScene(*in);
    ASSERT_TRUE(scene) << path;
    EXPECT_TRUE(scene->Box().Empty());
    EXPECT_EQ(scene->meshes, nullptr);
    EXPECT_EQ(scene->roots, nullptr);
    EXPECT_FALSE(scene->loading);
    EXPECT_EQ(in->Tell(), 52u);
  }
  EXPECT_EQ(GzObjectReader::Open((dir_ / "missing.qxz").string()), nullptr);
}

// Two roots whose first children are one shared node, a matrix chain and a
// material chain.
void BuildSharedScene(QXScene& scene) {
  QXMatrix* shift = scene.FindOrAddMatrix(TranslationMatrix({1, 2, 3}));
  scene.FindOrAddMatrix(IdentityMatrix());
  QXMaterial* half = scene.FindOrAddMaterial({0.5f, 0.5f, 0.5f, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.5f);
  scene.FindOrAddMaterial({1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, 1);
  auto* shared = new QXHier;
  shared->material = half;
  shared->matrix = shift;
  auto* left = new QXHier;
  left->firstChild = shared;
  auto* right = left->Clone();
  right->matrix = shift;
  scene.AddRoot(left);
  scene.AddRoot(right);
}

TEST_F(SceneFile, MatricesMaterialsAndSharedNodesRoundTrip) {
  QXScene original;
  BuildSharedScene(original);
  const std::vector<uint8_t> bytes = WriteScene(original);
  MemoryObjectReader in(bytes);
  auto scene = ReadScene(in);
  ASSERT_TRUE(scene);

  ASSERT_TRUE(scene->matrices && scene->matrices->next);
  EXPECT_EQ(scene->matrices->values, IdentityMatrix());
  EXPECT_EQ(scene->matrices->next->values, TranslationMatrix({1, 2, 3}));
  EXPECT_EQ(scene->matrices->next->next, nullptr);

  ASSERT_TRUE(scene->materials && scene->materials->next);
  const QXMaterial& white = *scene->materials;
  const QXMaterial& half = *scene->materials->next;
  EXPECT_EQ(white.diffuse[0], 1.0f);
  EXPECT_EQ(white.shininess, 1.0f);
  EXPECT_FLOAT_EQ(half.ambient[0], 127.0f / 255.0f);
  EXPECT_FLOAT_EQ(half.shininess, 127.0f / 255.0f);
  EXPECT_EQ(half.diffuse[3], 1.0f);

  QXHier* right = scene->roots;
  ASSERT_TRUE(right && right->nextSibling);
  QXHier* left = right->nextSibling;
  ASSERT_NE(left->firstChild, nullptr);
  EXPECT_EQ(left->firstChild, right->firstChild) << "shared node reads back as one object";
  EXPECT_EQ(left->firstChild->material, &half) << "references resolve to the chain's objects";
  EXPECT_EQ(right->matrix, scene->matrices->next);
  EXPECT_EQ(left->matrix, nullptr);
}

TEST_F(SceneFile, EveryPrefixOfAStreamReadsSafely) {
  QXScene original;
  BuildSharedScene(original);
  const std::vector<uint8_t> bytes = WriteScene(original);
  for (size_t length = 0; length <= bytes.size(); ++length) {
    MemoryObjectReader in(std::span(bytes.data(), length));
    auto scene = ReadScene(in);
    EXPECT_LE(in.Tell(), length);
    if (length < 4 + 13 + 28) {
      EXPECT_FALSE(scene) << length;
    }
  }
  MemoryObjectReader whole(bytes);
  EXPECT_TRUE(ReadScene(whole));
}

TEST_F(SceneFile, LongChainsRoundTripAndEndlessNestingIsRefused) {
  // Each matrix record nests the next one: a long chain is a deep stream.
  QXScene original;
  const int chainLength = 9000;
  for (int i = 0; i < chainLength; ++i) original.FindOrAddMatrix(TranslationMatrix({float(i), 0, 0}));
  const std::vector<uint8_t> bytes = WriteScene(original);
  MemoryObjectReader in(bytes);
  auto scene = ReadScene(in);
  ASSERT_TRUE(scene);
  int count = 0;
  for (QXMatrix* m = scene->matrices; m; m = m->next) ++count;
  EXPECT_EQ(count, chainLength);

  // Records that each open another record and never end.
  std::vector<uint8_t> nested;
  for (int i = 0; i < 200000; ++i) nested.insert(nested.end(), {0xFD, 0xFF, 0xFF, 0x3F});
  MemoryObjectReader hostile(nested);
  EXPECT_EQ(hostile.ReadObject(), nullptr);
}

// Writes a scene record whose chains hold whatever the test puts there.
class ForgedScene : public PersistentObject {
 public:
  const ClassDescriptor* GetClass() const override { return &QXScene::kClass; }
  bool Write(ObjectWriter& out) override {
    for (int i = 0; i < 6; ++i) out.WriteF32(0);
    out.WriteU32(0);
    for (PersistentObject* object : chains) out.WriteObject(object);
    return out.WriteU32(0);
  }
  PersistentObject* chains[3] = {nullptr, nullptr, nullptr};
};

TEST_F(SceneFile, ObjectsOfTheWrongKindAreDroppedWithTheStream) {
  // A node where the matrix chain belongs, a scene nested where the materials
  // belong, and a real root that refers to both: nothing leaks (the sanitizer
  // build checks) and nothing the scene keeps refers to them.
  QXHier stray;
  QXHier strayChild;
  stray.firstChild = &strayChild;
  QXScene nested;
  nested.FindOrAddMatrix(TranslationMatrix({1, 0, 0}));
  QXHier root;
  root.firstChild = &stray;
  QXMatrix rootMatrix;
  root.matrix = &rootMatrix;
  ForgedScene forged;
  forged.chains[0] = &stray;
  forged.chains[1] = &nested;
  forged.chains[2] = &root;
  MemoryObjectWriter out;
  out.WriteObject(&forged);

  MemoryObjectReader in(out.Bytes());
  auto scene = ReadScene(in);
  ASSERT_TRUE(scene);
  EXPECT_EQ(scene->matrices, nullptr);
  EXPECT_EQ(scene->materials, nullptr);
  ASSERT_NE(scene->roots, nullptr);
  EXPECT_EQ(scene->roots->matrix, nullptr) << "a matrix off the scene's chain is dropped";
  ASSERT_NE(scene->roots->firstChild, nullptr) << "children read through a stray stay in the hierarchy";
}

}  // namespace
}  // namespace qx
