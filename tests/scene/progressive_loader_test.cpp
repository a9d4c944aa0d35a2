// Progressive loading: the feeder's pacing (on a simulated clock), the line
// rates, direct and emulated loads through the pipe and reader threads, and
// replacing the scene at any moment of a load while a window walks it.
// Run under the sanitizers these tests also check that no thread, memory or
// data race is left behind.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "common/threads.h"
#include "fan/quadric_builder.h"
#include "scene/feeder.h"
#include "scene/progressive_loader.h"
#include "scene/rate_table.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Pacing

TEST(FeedSchedule, SlowLinesSendTheirRateOnceASecondFastLines1024ByteChunks) {
  const struct {
    int32_t rate, chunk;
    int64_t periodMs;
  } cases[] = {
      {37, 37, 1000},  {1, 1, 1000},     {1023, 1023, 1000}, {1024, 1024, 1000},
      {1025, 1024, 999}, {7000, 1024, 146}, {32000, 1024, 32},
  };
  for (const auto& c : cases) {
    const FeedSchedule schedule = FeedScheduleFor(c.rate);
    EXPECT_EQ(schedule.chunkBytes, c.chunk) << c.rate;
    EXPECT_EQ(schedule.period.count(), c.periodMs) << c.rate;
  }
}

TEST(LineRates, EachRateIsItsLabelsBitRateOverEight) {
  // "300 bps", "RDSI (64K bps)", "ADSL (256 Kbps)": the first number of the
  // label, in thousands when a K follows it.
  for (const LineRate& line : kLineRates) {
    const char* digits = line.label;
    while (*digits && (*digits < '0' || *digits > '9')) ++digits;
    char* end = nullptr;
    long bits = std::strtol(digits, &end, 10);
    while (*end == ' ') ++end;
    if (*end == 'K') bits *= 1000;
    EXPECT_EQ(line.bytesPerSecond, bits / 8) << line.label;
  }
  EXPECT_STREQ(kLineRates.front().label, "300 bps");
  EXPECT_STREQ(kLineRates.back().label, "ADSL (256 Kbps)");
}

// A line whose clock only moves when the feeder sleeps or a feed takes time.
class SimulatedLine {
 public:
  struct Chunk {
    int64_t atMs;
    size_t bytes;
  };
  milliseconds feedTakes{0};  // how long each feed blocks
  int acceptChunks = 1 << 30;  // the pipe closes after this many
  bool stopAtFirstSleep = false;
  std::vector<Chunk> chunks;
  int sleeps = 0;

  FeederHooks Hooks() {
    return {[this](std::span<const uint8_t> bytes) -> size_t {
              if (static_cast<int>(chunks.size()) >= acceptChunks) return 0;
              chunks.push_back({(now_ - Clock::time_point{}) / milliseconds(1), bytes.size()});
              now_ += feedTakes;
              return bytes.size();
            },
            [this] { return now_; },
            [this](Clock::time_point deadline) {
              ++sleeps;
              now_ = std::max(now_, deadline);
              return !stopAtFirstSleep;
            }};
  }

 private:
  Clock::time_point now_{};
};

std::FILE* FileOf(size_t bytes) {
  std::FILE* file = std::tmpfile();
  for (size_t i = 0; i < bytes; ++i) std::fputc(static_cast<int>(i & 0xFF), file);
  std::rewind(file);
  return file;
}

int64_t Feed(SimulatedLine& line, size_t fileBytes, int32_t rate) {
  std::FILE* file = FileOf(fileBytes);
  const int64_t accepted = RunFeeder(file, FeedScheduleFor(rate), line.Hooks());
  std::fclose(file);
  return accepted;
}

TEST(Feeder, Rate37SendsOne37ByteChunkPerSecondAndEndsWithTheFile) {
  SimulatedLine line;
  EXPECT_EQ(Feed(line, 100, 37), 3);
  ASSERT_EQ(line.chunks.size(), 3u);
  EXPECT_EQ(line.chunks[0].atMs, 0);
  EXPECT_EQ(line.chunks[1].atMs, 1000);
  EXPECT_EQ(line.chunks[2].atMs, 2000);
  EXPECT_EQ(line.chunks[0].bytes, 37u);
  EXPECT_EQ(line.chunks[2].bytes, 26u);
  EXPECT_EQ(line.sleeps, 2) << "no wait after the last chunk";
}

TEST(Feeder, Rate32000Sends1024ByteChunksEvery32Ms) {
  SimulatedLine line;
  line.feedTakes = milliseconds(3);  // absorbed by the wait
  EXPECT_EQ(Feed(line, 3 * 1024, 32000), 3);
  ASSERT_EQ(line.chunks.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(line.chunks[i].atMs, static_cast<int64_t>(32 * i));
    EXPECT_EQ(line.chunks[i].bytes, 1024u);
  }
  EXPECT_EQ(line.sleeps, 2) << "a file ending at a chunk border needs no empty read";
}

TEST(Feeder, AFileShorterThanOneChunkIsFedOnceWithoutWaiting) {
  SimulatedLine line;
  EXPECT_EQ(Feed(line, 20, 37), 1);
  ASSERT_EQ(line.chunks.size(), 1u);
  EXPECT_EQ(line.chunks[0].bytes, 20u);
  EXPECT_EQ(line.sleeps, 0);
  SimulatedLine empty;
  EXPECT_EQ(Feed(empty, 0, 37), 0);
  EXPECT_TRUE(empty.chunks.empty());
}

TEST(Feeder, ALateFeedDelaysTheNextChunkInsteadOfBursting) {
  SimulatedLine line;
  line.feedTakes = milliseconds(50);  // the readers fall behind a 32 ms line
  Feed(line, 5 * 1024, 32000);
  ASSERT_EQ(line.chunks.size(), 5u);
  for (size_t i = 1; i < line.chunks.size(); ++i) EXPECT_EQ(line.chunks[i].atMs - line.chunks[i - 1].atMs, 50);
}

TEST(Feeder, StopsWhenThePipeClosesOrItsWaitIsCutShort) {
  SimulatedLine closing;
  closing.acceptChunks = 2;
  EXPECT_EQ(Feed(closing, 10 * 37, 37), 2);
  SimulatedLine stopped;
  stopped.stopAtFirstSleep = true;
  EXPECT_EQ(Feed(stopped, 10 * 37, 37), 1);
}

TEST(ThreadPriority, ReadersAreLoweredBelowTheMainThreadAndAFailedRaiseIsHarmless) {
  const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  std::thread([base] {
    // Lowering needs no privilege; each call is relative to the main thread,
    // not to the caller, so a reader started by a reader is not lowered twice.
    EXPECT_TRUE(SetCurrentThreadPriority(ThreadPriority::kLowest));
    EXPECT_TRUE(SetCurrentThreadPriority(ThreadPriority::kLowest));
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), std::min(base + 5, 19));
    // Raising usually needs privileges; either way the thread goes on.
    if (SetCurrentThreadPriority(ThreadPriority::kHighest)) {
      EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), std::max(base - 5, -20));
    }
  }).join();
  EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid())), base);
}

// ---------------------------------------------------------------------------
// Loading

// A sphere in two face groups (two meshes), simplified by half.
std::unique_ptr<QXScene> MakeSphereScene(int rings, int segments) {
  auto point = [&](int r, int s) -> Vector {
    if (r == 0) return {0, 0, 1};
    if (r == rings) return {0, 0, -1};
    const double theta = std::numbers::pi * r / rings, phi = 2 * std::numbers::pi * (s % segments) / segments;
    return {static_cast<float>(std::sin(theta) * std::cos(phi)), static_cast<float>(std::sin(theta) * std::sin(phi)),
            static_cast<float>(std::cos(theta))};
  };
  QuadricBuilder builder;
  builder.Reset();
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      const int32_t group = s < segments / 2 ? 0 : 1;
      builder.AddTriangle(point(r, s), point(r + 1, s), point(r + 1, s + 1), group);
      builder.AddTriangle(point(r, s), point(r + 1, s + 1), point(r, s + 1), group);
    }
  auto scene = std::make_unique<QXScene>();
  QXMaterial* material = scene->FindOrAddMaterial({0.2f, 0.2f, 0.2f, 1}, {0.8f, 0.1f, 0.1f, 1}, {1, 1, 1, 1}, 0.5f);
  for (auto& mesh : builder.Build(0.5f, kStrategyStandard, nullptr)) {
    scene->AddMesh(mesh.get());
    scene->AddRoot(mesh.release(), material);
  }
  scene->GeoMode = 1;
  scene->BitsError = 1.0f / 1024;
  return scene;
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

void ExpectSameScene(const QXScene& loaded, const QXScene& expected) {
  EXPECT_FALSE(loaded.loading);
  EXPECT_TRUE(loaded.structureReady);
  const QXPck* a = loaded.meshes;
  const QXPck* b = expected.meshes;
  for (; a && b; a = a->next, b = b->next) {
    ASSERT_EQ(a->vertexCount, b->vertexCount);
    EXPECT_EQ(a->pendingCount, 0);
    for (VertexIndex v = 1; v < a->vertexCount; ++v) {
      ASSERT_EQ(a->vertices[v].position, b->vertices[v].position) << v;
      const RecordView ra = a->Record(v), rb = b->Record(v);
      ASSERT_EQ(ra.RingSize(), rb.RingSize()) << v;
      ASSERT_EQ(ra.GroupCount(), rb.GroupCount()) << v;
      for (int j = 0; j < ra.RingSize(); ++j) ASSERT_EQ(ra.Ring()[j], rb.Ring()[j]) << v;
      for (int g = 0; g < ra.GroupCount(); ++g) {
        const DependencyGroup ga = ra.Group(g), gb = rb.Group(g);
        ASSERT_EQ(ga.dependency, gb.dependency) << v;
        for (int k = 0; k < ga.maskBytes; ++k) ASSERT_EQ(ga.mask[k], gb.mask[k]) << v;
      }
    }
  }
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b, nullptr);
  ASSERT_NE(loaded.roots, nullptr);
  EXPECT_EQ(loaded.roots->mesh, loaded.meshes);
  ASSERT_NE(loaded.materials, nullptr);
}

// What the window sees in one frame, walked the way the frame loop walks it.
struct Frame {
  int64_t triangles = 0;
  bool partial = false;  // some mesh shown with only part of its vertices
  float checksum = 0;    // reads every shown corner, so races on positions show
};

Frame DrawFrame(const ProgressiveLoader& loader) {
  Frame frame;
  const QXScene* scene = loader.Scene();
  if (!scene || !scene->structureReady) return frame;
  for (QXPck* mesh = scene->meshes; mesh; mesh = mesh->next) {
    mesh->Lock();
    frame.triangles += ForEachFan(*mesh, 0, [&](const Fan& fan) {
      for (int i = fan.start + 1; i <= fan.end; ++i)
        frame.checksum += mesh->vertices[fan.centre].position.x + mesh->vertices[fan.Corner1(i)].position.y +
                          mesh->vertices[fan.Corner2(i)].position.z;
    });
    frame.partial |= mesh->pendingCount > 0 && mesh->pendingCount < mesh->vertexCount;
    mesh->Unlock();
  }
  return frame;
}

// Draws frames until the feeder has ended or `stop` says so; returns whether
// any frame showed a partly decoded mesh.
template <class Stop>
bool DrawWhileFeeding(const ProgressiveLoader& loader, Stop&& stop) {
  bool sawPartial = false;
  while (loader.Feeding() && !stop()) {
    sawPartial |= DrawFrame(loader).partial;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return sawPartial;
}

class ProgressiveLoad : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterStandardClasses();
    auto scene = MakeSphereScene(24, 36);
    sceneBytes_ = new std::vector<uint8_t>(EncodeScene(*scene));
    ClearClassRegistry();
  }
  static void TearDownTestSuite() {
    delete sceneBytes_;
    sceneBytes_ = nullptr;
  }

  void SetUp() override {
    RegisterStandardClasses();
    plain_ = (dir_ / "sphere.qx4").string();
    packed_ = (dir_ / "sphere.qxz").string();
    WriteBytes(plain_, *sceneBytes_);
    auto scene = DecodeScene(*sceneBytes_);
    ASSERT_TRUE(scene);
    ASSERT_TRUE(SaveScene(*scene, packed_, /*pack=*/true));
    expected_ = LoadScene(plain_);
    ASSERT_TRUE(expected_);
  }
  void TearDown() override {
    expected_.reset();
    ClearClassRegistry();
  }

  LoaderHooks CountingHooks() {
    return {[this] { ++redraws_; }, [this](QXScene&) { ++released_; }};
  }

  static std::vector<uint8_t>* sceneBytes_;
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  std::string plain_, packed_;
  std::unique_ptr<QXScene> expected_;
  std::atomic<int64_t> redraws_{0};
  int released_ = 0;
};

std::vector<uint8_t>* ProgressiveLoad::sceneBytes_ = nullptr;

TEST_F(ProgressiveLoad, DirectLoadReadsTheWholeSceneAndReportsItsTime) {
  ProgressiveLoader loader(CountingHooks());
  testing::internal::CaptureStdout();
  EXPECT_TRUE(loader.LoadFile(packed_, 0));
  const std::string output = testing::internal::GetCapturedStdout();
  ASSERT_NE(loader.Scene(), nullptr);
  ExpectSameScene(*loader.Scene(), *expected_);
  EXPECT_EQ(loader.FileName(), packed_);
  EXPECT_NE(output.find("\nScene: " + packed_ + "\nLoad time: "), std::string::npos) << output;
  EXPECT_EQ(loader.ChunksFed(), 0);

  // Replacing it hands the old scene to the window before destroying it.
  loader.SetScene(nullptr, "");
  EXPECT_EQ(loader.Scene(), nullptr);
  EXPECT_EQ(released_, 1);
}

TEST_F(ProgressiveLoad, DirectLoadOfAFileThatIsNoSceneLeavesNoSceneAndThePathAsTitle) {
  ProgressiveLoader loader;
  ASSERT_TRUE(loader.LoadFile(plain_, 0));
  const std::string junk = (dir_ / "junk.qxz").string();
  WriteBytes(junk, std::vector<uint8_t>(300, 0x41));
  EXPECT_FALSE(loader.LoadFile(junk, 0));
  EXPECT_EQ(loader.Scene(), nullptr);
  EXPECT_EQ(loader.FileName(), junk);

  const std::string missing = (dir_ / "missing.qxz").string();
  EXPECT_FALSE(loader.LoadFile(missing, 0));
  EXPECT_EQ(loader.FileName(), missing);
  EXPECT_FALSE(loader.LoadFile("", 8000));
  EXPECT_FALSE(loader.Feeding());
}

TEST_F(ProgressiveLoad, EmulatedLoadShowsPartialMeshesAndEndsWithTheDirectScene) {
  for (const std::string& path : {plain_, packed_}) {
    ProgressiveLoader loader(CountingHooks());
    const int64_t redrawsBefore = redraws_;
    ASSERT_TRUE(loader.LoadFile(path, 16000));
    EXPECT_TRUE(loader.Feeding());
    const bool sawPartial = DrawWhileFeeding(loader, [] { return false; });
    loader.WaitForLoad();
    EXPECT_FALSE(loader.Feeding());
    EXPECT_TRUE(sawPartial) << path << ": the window saw no intermediate detail";
    EXPECT_EQ(loader.BytesFed(), fs::file_size(path));
    EXPECT_GE(redraws_ - redrawsBefore, loader.ChunksFed()) << "each chunk asks for a redraw";
    ASSERT_NE(loader.Scene(), nullptr) << path;
    ExpectSameScene(*loader.Scene(), *expected_);
    EXPECT_FLOAT_EQ(loader.Scene()->progress, 1.0f);
  }
}

TEST_F(ProgressiveLoad, AFileShorterThanOneChunkIsFedOnce) {
  QXScene empty;
  const std::string path = (dir_ / "empty.qx4").string();
  ASSERT_TRUE(SaveScene(empty, path, false));
  ASSERT_LT(fs::file_size(path), 100u);
  ProgressiveLoader loader;
  ASSERT_TRUE(loader.LoadFile(path, 100));
  loader.WaitForLoad();
  EXPECT_EQ(loader.ChunksFed(), 1);
  ASSERT_NE(loader.Scene(), nullptr);
  EXPECT_EQ(loader.Scene()->meshes, nullptr);
  EXPECT_FALSE(loader.Scene()->loading);
}

TEST_F(ProgressiveLoad, BytesTheReadersDoNotWantAreDrainedSoTheFeederNeverHangs) {
  // Both files are several times the pipe's size: without draining, the
  // feeder would wait forever on a full pipe.
  const std::string junk = (dir_ / "junk.qx4").string();
  WriteBytes(junk, std::vector<uint8_t>(6 * kLoaderPipeBytes, 0x41));
  std::vector<uint8_t> trailing = *sceneBytes_;
  trailing.resize(trailing.size() + 6 * kLoaderPipeBytes, 0);
  const std::string padded = (dir_ / "padded.qx4").string();
  WriteBytes(padded, trailing);

  ProgressiveLoader loader;
  ASSERT_TRUE(loader.LoadFile(junk, 1 << 20));
  loader.WaitForLoad();
  EXPECT_EQ(loader.Scene(), nullptr);
  EXPECT_EQ(loader.BytesFed(), fs::file_size(junk));

  ASSERT_TRUE(loader.LoadFile(padded, 1 << 20));
  loader.WaitForLoad();
  ASSERT_NE(loader.Scene(), nullptr);
  ExpectSameScene(*loader.Scene(), *expected_);
}

// Waits (with a generous guard against a hang) until `ready` holds.
template <class Ready>
bool WaitFor(Ready&& ready) {
  for (int i = 0; i < 20000 && !ready(); ++i) std::this_thread::sleep_for(milliseconds(1));
  return ready();
}

TEST_F(ProgressiveLoad, FedFromOutsideLikeTheWebControl) {
  ProgressiveLoader loader;
  ASSERT_TRUE(loader.StartPipe());
  std::ifstream file(packed_, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t held = 100;  // the last bytes, held back for a while
  for (size_t at = 0; at + held < bytes.size(); at += 1000) {
    const size_t count = std::min<size_t>(1000, bytes.size() - held - at);
    EXPECT_EQ(loader.Feed({bytes.data() + at, count}), count);
  }
  // Without its last bytes the scene is shown, but not complete.
  ASSERT_TRUE(WaitFor([&] { return DrawFrame(loader).partial; }));
  EXPECT_GT(DrawFrame(loader).triangles, 0);
  EXPECT_EQ(loader.Feed({bytes.data() + bytes.size() - held, held}), held);
  loader.ClosePipe();
  EXPECT_EQ(loader.Feed({bytes.data(), 1}), 0u) << "no pipe after ClosePipe";
  ASSERT_NE(loader.Scene(), nullptr);
  ExpectSameScene(*loader.Scene(), *expected_);
}

TEST_F(ProgressiveLoad, StoppingBeforeTheHeaderOrInsideItReleasesTheWaitingReaders) {
  ProgressiveLoader loader;
  ASSERT_TRUE(loader.StartPipe());
  loader.SetScene(nullptr, "nothing came");  // the readers wait on an empty pipe
  EXPECT_EQ(loader.Scene(), nullptr);
  EXPECT_EQ(loader.Feed({sceneBytes_->data(), 1}), 0u);

  // The scene record's header (4 bytes and the 13-byte descriptor) and the
  // 16 bytes the gzip reader may hold back, but not the whole box and mesh
  // count: the scene exists, its structure never arrives.
  ASSERT_TRUE(loader.StartPipe());
  EXPECT_EQ(loader.Feed({sceneBytes_->data(), 17 + 16}), 33u);
  ASSERT_TRUE(WaitFor([&] { return loader.Scene() != nullptr; })) << "the header was not published";
  EXPECT_FALSE(loader.Scene()->structureReady);
  EXPECT_EQ(DrawFrame(loader).triangles, 0);
  loader.ClosePipe();
  ASSERT_NE(loader.Scene(), nullptr) << "a truncated scene stays";
  EXPECT_TRUE(loader.Scene()->structureReady);
  EXPECT_EQ(loader.Scene()->meshes, nullptr);
  loader.SetScene(nullptr, "");
}

TEST_F(ProgressiveLoad, OpeningAnotherFileMidLoadFiftyTimesLeavesNothingBehind) {
  std::mt19937 random(20240611);
  const uint64_t fileBytes = sceneBytes_->size();
  std::uniform_int_distribution<uint64_t> stopAfter(0, fileBytes + fileBytes / 4);
  ProgressiveLoader loader(CountingHooks());
  int startedWithScene = 0;
  for (int round = 0; round < 50; ++round) {
    const std::string& path = round % 2 ? packed_ : plain_;
    ASSERT_TRUE(loader.LoadFile(path, 256000)) << round;
    EXPECT_EQ(loader.FileName(), path);
    const uint64_t start = loader.BytesFed(), stop = stopAfter(random);
    DrawWhileFeeding(loader, [&] { return loader.BytesFed() - start >= stop; });
    if (loader.Scene()) ++startedWithScene;
  }
  ASSERT_TRUE(loader.LoadFile(plain_, 256000));
  DrawWhileFeeding(loader, [] { return false; });
  loader.WaitForLoad();
  ASSERT_NE(loader.Scene(), nullptr);
  ExpectSameScene(*loader.Scene(), *expected_);
  EXPECT_GT(startedWithScene, 0) << "some rounds were stopped after the header";
  EXPECT_GE(released_, startedWithScene) << "every replaced scene goes through the window's release";
}

}  // namespace
}  // namespace qx
