// The STL readers on small hand-written files (ASCII and binary, each rule
// of the readers), on hostile files, and on the shared corpus.
#include "import/stl_reader.h"
#include "tests/support/scratch_folder.h"


#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qx {
namespace {

namespace fs = std::filesystem;

// Records what a reader delivers.
class RecordingSink : public ImportSink {
 public:
  struct Facet {
    Colour colour;
    std::vector<Vector> points;  // 3 for a triangle, 4 for a quad
  };

  bool AddTriangleColor(const Colour& colour, Vector p0, Vector p1, Vector p2) override {
    facets.push_back({colour, {p0, p1, p2}});
    ++triangles;
    return true;
  }
  bool AddQuadColor(const Colour& colour, Vector p0, Vector p1, Vector p2, Vector p3) override {
    facets.push_back({colour, {p0, p1, p2, p3}});
    ++quads;
    return true;
  }
  // Nothing else may be called by the STL readers.
  bool Flush() override { return Other(); }
  bool Comment(const char*) override { return Other(); }
  bool IncludeModel(const Colour&, const Matrix&, const char*) override { return Other(); }
  bool AddLine(const Colour&, Vector, Vector) override { return Other(); }
  bool AddTriangle(QXMaterial*, Vector, Vector, Vector) override { return Other(); }
  bool AddQuad(QXMaterial*, Vector, Vector, Vector, Vector) override { return Other(); }
  bool AddOptionalLine(const Colour&, Vector, Vector) override { return Other(); }
  QXMaterial* MakeMaterial(const Colour&, const Colour&, const Colour&, float) override {
    Other();
    return nullptr;
  }
  bool SetMaterial(QXMaterial*, const Colour&, const Colour&, const Colour&, float) override { return Other(); }
  void EndObject(const char*) override { Other(); }

  std::vector<Facet> facets;
  int triangles = 0;
  int quads = 0;
  int otherCalls = 0;

 private:
  bool Other() {
    ++otherCalls;
    return false;
  }
};

constexpr Colour kNoColour{0, 0, 0, -1};

class StlReader : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) const { return scratch_.Write(name, bytes); }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

// --- Binary files built by the tests ------------------------------------------------

void AppendU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}
void AppendFloat(std::string& out, float value) { AppendU32(out, std::bit_cast<std::uint32_t>(value)); }

struct BinaryFacet {
  Vector normal, p0, p1, p2;
  std::uint16_t attribute = 0;
};

std::string BinaryStl(const std::vector<BinaryFacet>& facets, std::string header = "binary",
                      std::int64_t count = -1) {
  header.resize(80, '\0');
  std::string out = header;
  AppendU32(out, std::uint32_t(count < 0 ? std::int64_t(facets.size()) : count));
  for (const BinaryFacet& facet : facets) {
    for (Vector v : {facet.normal, facet.p0, facet.p1, facet.p2}) {
      AppendFloat(out, v.x);
      AppendFloat(out, v.y);
      AppendFloat(out, v.z);
    }
    out.push_back(char(facet.attribute & 0xFF));
    out.push_back(char(facet.attribute >> 8));
  }
  return out;
}

const std::vector<BinaryFacet> kTwoFacets = {
    {{0, 0, 1}, {1.5f, -2.25f, 3}, {4, 5, 6}, {-7, 8e10f, 9e-10f}, 0x7C1F},
    {{9, 9, 9}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0xFFFF},
};

void ExpectFacet(const RecordingSink::Facet& facet, std::initializer_list<Vector> points,
                 const Colour& colour = kNoColour) {
  EXPECT_EQ(facet.colour, colour);
  ASSERT_EQ(facet.points.size(), points.size());
  int i = 0;
  for (Vector p : points) {
    EXPECT_EQ(facet.points[i], p) << "point " << i;
    ++i;
  }
}

TEST_F(StlReader, BinaryFacetsInFileOrderWithoutColour) {
  const std::string path = Write("two.stl", BinaryStl(kTwoFacets));
  RecordingSink sink;
  ASSERT_TRUE(ReadStlBinary(path, sink));
  ASSERT_EQ(sink.triangles, 2);
  EXPECT_EQ(sink.quads + sink.otherCalls, 0);  // no EndObject either
  // The attribute words (a 15-bit colour, all ones) never select a colour.
  ExpectFacet(sink.facets[0], {{1.5f, -2.25f, 3}, {4, 5, 6}, {-7, 8e10f, 9e-10f}});
  ExpectFacet(sink.facets[1], {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});

  RecordingSink viaFrontEnd;
  ASSERT_TRUE(ReadStl(path, viaFrontEnd));
  EXPECT_EQ(viaFrontEnd.triangles, 2);
}

TEST_F(StlReader, BinaryHeaderStartingWithSolidIsStillBinary) {
  const std::string path = Write("solid.stl", BinaryStl(kTwoFacets, "solid cube\nfacet normal 0 0 1\n"));
  RecordingSink sink;
  ASSERT_TRUE(ReadStl(path, sink));
  EXPECT_EQ(sink.triangles, 2);
  ExpectFacet(sink.facets[1], {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
}

TEST_F(StlReader, ZeroFacetsIn84BytesIsAnEmptyBinaryModel) {
  // Were the ASCII reader tried, the header's text would give a triangle.
  const std::string text = "facet\nouter\nvertex 1 2 3\nvertex 4 5 6\nvertex 7 8 9\nend\nend\n";
  const std::string path = Write("empty.stl", BinaryStl({}, text));
  ASSERT_EQ(fs::file_size(path), 84u);
  RecordingSink sink;
  EXPECT_TRUE(ReadStlBinary(path, sink));
  EXPECT_TRUE(ReadStl(path, sink));
  EXPECT_TRUE(sink.facets.empty());
  RecordingSink ascii;
  EXPECT_TRUE(ReadStlAscii(path, ascii));
  EXPECT_EQ(ascii.triangles, 1);
}

TEST_F(StlReader, SizeTestAllowsTwoBytesEitherWay) {
  const std::string exact = BinaryStl({kTwoFacets[1]});
  ASSERT_EQ(exact.size(), 134u);
  for (int delta : {-3, -2, -1, 0, 1, 2, 3}) {
    std::string bytes = exact;
    if (delta < 0)
      bytes.resize(bytes.size() - std::size_t(-delta));
    else
      bytes.append(std::size_t(delta), '\n');
    const std::string path = Write("delta.stl", bytes);
    RecordingSink sink;
    const bool binary = ReadStlBinary(path, sink);
    EXPECT_EQ(binary, std::abs(delta) <= 2) << delta;
    EXPECT_EQ(sink.triangles, binary ? 1 : 0) << delta;
    if (binary) ExpectFacet(sink.facets[0], {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    // Refused by the binary reader, the file goes to the ASCII reader, which
    // finds no facet in it and still succeeds.
    testing::internal::CaptureStdout();
    RecordingSink front;
    EXPECT_TRUE(ReadStl(path, front));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(front.triangles, binary ? 1 : 0) << delta;
  }
}

TEST_F(StlReader, CountsTheFileCannotHoldAreRefusedWithoutReadingOn) {
  for (std::int64_t count : {std::int64_t(2), std::int64_t(0x7FFFFFFF), std::int64_t(0xFFFFFFFF),
                             std::int64_t(0x80000000), std::int64_t(85899346)}) {
    const std::string path = Write("count.stl", BinaryStl(kTwoFacets, "binary", count));
    RecordingSink sink;
    EXPECT_EQ(ReadStlBinary(path, sink), count == 2) << count;
    EXPECT_EQ(sink.triangles, count == 2 ? 2 : 0) << count;
  }
  // Files too short to hold the count: the missing bytes count as 0, so 82
  // and 83 bytes pass as an empty model, 81 and fewer do not.
  for (std::size_t size : {0, 1, 80, 81, 82, 83}) {
    const std::string path = Write("short.stl", std::string(size, '\0'));
    RecordingSink sink;
    EXPECT_EQ(ReadStlBinary(path, sink), size >= 82) << size;
    EXPECT_TRUE(sink.facets.empty());
  }
}

TEST_F(StlReader, AsciiTextWhoseLengthPassesTheSizeTestIsReadAsBinary) {
  const std::string facet =
      "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n";
  std::string text = "solid t\n#" + std::string(70, 'p') + "\n";
  ASSERT_EQ(text.size(), 80u);
  text += std::string("\x02\0\0\0", 4) + "\n" + facet;  // bytes 80 to 83 read as n = 2
  text += "#" + std::string(84 + 2 * 50 - text.size() - 2, 'q') + "\n";
  ASSERT_EQ(text.size(), 184u);
  const std::string path = Write("lucky.stl", text);

  testing::internal::CaptureStdout();  // the line holding the count bytes is unrecognised
  RecordingSink ascii;
  const bool asciiOk = ReadStlAscii(path, ascii);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(asciiOk);
  ASSERT_EQ(ascii.triangles, 1);
  ExpectFacet(ascii.facets[0], {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});

  RecordingSink front;
  ASSERT_TRUE(ReadStl(path, front));
  EXPECT_EQ(front.triangles, 2);  // the binary reader's two "facets" of text bytes
  EXPECT_NE(front.facets[0].points[0], (Vector{0, 0, 0}));
}

// --- ASCII files --------------------------------------------------------------------

TEST_F(StlReader, AsciiFacetInFileOrder) {
  const std::string path = Write("tri.stl",
                                 "solid tri\n"
                                 "  facet normal 0 0 1\n"
                                 "    outer loop\n"
                                 "      vertex 1.5 -2 3e2\n"
                                 "      vertex 4 5 6\n"
                                 "      vertex -7 .5 9E-1\n"
                                 "    endloop\n"
                                 "  endfacet\n"
                                 "endsolid tri\n");
  RecordingSink sink;
  EXPECT_FALSE(ReadStlBinary(path, sink));
  ASSERT_TRUE(ReadStl(path, sink));
  ASSERT_EQ(sink.triangles, 1);
  EXPECT_EQ(sink.quads + sink.otherCalls, 0);
  ExpectFacet(sink.facets[0], {{1.5f, -2, 300}, {4, 5, 6}, {-7, 0.5f, 0.9f}});
}

TEST_F(StlReader, FirstWordsAreCaseInsensitiveAndWholeWords) {
  const std::string path = Write("words.stl",
                                 "SOLID x\n"
                                 "FACET NORMAL 0 0 1\nOUTER LOOP\nVERTEX 0 0 0\nVERTEX 1 0 0\nVERTEX 0 1 0\n"
                                 "ENDLOOP\nENDFACET\n"
                                 "facets normal 0 0 1\n"
                                 "EndSolid x\n");
  testing::internal::CaptureStdout();
  RecordingSink sink;
  ASSERT_TRUE(ReadStlAscii(path, sink));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sink.triangles, 1);
  EXPECT_EQ(out, "\nSTLA_READ - Fatal error!\n  Unrecognized first word on line.\n");  // "facets", once
}

TEST_F(StlReader, FourVerticesMakeAQuadOtherCountsAreDropped) {
  auto facet = [](int vertices) {
    std::string text = "facet normal 0 0 1\nouter loop\n";
    for (int i = 0; i < vertices; ++i) text += "vertex " + std::to_string(i) + " 0 0\n";
    return text + "endloop\nendfacet\n";
  };
  const std::string path =
      Write("counts.stl", "solid\n" + facet(0) + facet(1) + facet(2) + facet(4) + facet(5) + facet(3) +
                              facet(100000) + "endsolid\n");
  RecordingSink sink;
  ASSERT_TRUE(ReadStlAscii(path, sink));
  ASSERT_EQ(sink.facets.size(), 2u);
  EXPECT_EQ(sink.quads, 1);
  ExpectFacet(sink.facets[0], {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
  ExpectFacet(sink.facets[1], {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
}

TEST_F(StlReader, ColourLinesSetTheCurrentColour) {
  const std::string facet =
      "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n";
  const std::string path = Write("colour.stl", "solid\n" + facet +
                                                   "color x 1 0 0 1\n" + facet +
                                                   "COLOR x 0.5\n" + facet +        // only red changes
                                                   "color x 1 0 0 -1\n" + facet +   // uncoloured again
                                                   "color\n" + facet +              // nothing read
                                                   "endsolid\n");
  RecordingSink sink;
  ASSERT_TRUE(ReadStlAscii(path, sink));
  ASSERT_EQ(sink.triangles, 5);
  EXPECT_EQ(sink.facets[0].colour, kNoColour);
  EXPECT_EQ(sink.facets[1].colour, (Colour{1, 0, 0, 1}));
  EXPECT_EQ(sink.facets[2].colour, (Colour{0.5f, 0, 0, 1}));
  EXPECT_EQ(sink.facets[3].colour, (Colour{1, 0, 0, -1}));
  EXPECT_FALSE(HasColour(sink.facets[3].colour));
  EXPECT_EQ(sink.facets[4].colour, (Colour{1, 0, 0, -1}));
}

TEST_F(StlReader, CommentsBlankLinesCrlfAndNoFinalNewline) {
  const std::string path = Write("comments.stl",
                                 "solid c\r\n"
                                 "   # a comment after blanks\r\n"
                                 "$ dollar comment\r\n"
                                 "!bang comment\r\n"
                                 "\r\n"
                                 "   \t  \r\n"
                                 "facet normal 0 0 1\r\nouter loop\r\nvertex 0 0 0\r\nvertex 1 0 0\r\n"
                                 "vertex 0 1 0\r\nendloop\r\nendfacet\r\n"
                                 "endsolid c");
  testing::internal::CaptureStdout();
  RecordingSink sink;
  ASSERT_TRUE(ReadStlAscii(path, sink));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(sink.triangles, 1);
  ExpectFacet(sink.facets[0], {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
}

TEST_F(StlReader, TruncatedFacetsEndCleanly) {
  const std::string head = "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0";
  // Cut after the third vertex (with and without its newline): the facet is
  // complete and delivered; cut earlier: nothing.
  for (const std::string& text :
       {head, head + "\n", head + "\nendloop", head.substr(0, head.find("vertex 0 1 0")), std::string("facet"),
        std::string("facet normal 0 0 1\nouter loop")}) {
    const std::string path = Write("cut.stl", text);
    RecordingSink sink;
    ASSERT_TRUE(ReadStlAscii(path, sink));
    EXPECT_EQ(sink.triangles, text.find("vertex 0 1 0") != std::string::npos ? 1 : 0) << text;
  }
}

TEST_F(StlReader, LongLinesAreReadInPiecesOf1023) {
  // 3000 characters: three pieces; the second and third start with 'a', an
  // unknown first word each.
  const std::string path = Write("long.stl", "solid " + std::string(2994, 'a') + "\n");
  testing::internal::CaptureStdout();
  RecordingSink sink;
  ASSERT_TRUE(ReadStlAscii(path, sink));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, std::string("\nSTLA_READ - Fatal error!\n  Unrecognized first word on line.\n") +
                     "\nSTLA_READ - Fatal error!\n  Unrecognized first word on line.\n");

  // A vertex line whose numbers lie beyond the first piece ends the list.
  const std::string padded = Write("padded.stl", "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                                 "vertex" + std::string(2000, ' ') + "0 1 0\nendloop\nendfacet\n");
  testing::internal::CaptureStdout();
  RecordingSink padSink;
  ASSERT_TRUE(ReadStlAscii(padded, padSink));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(padSink.triangles, 0);
}

TEST_F(StlReader, NumbersLikeScanf) {
  const std::string path = Write("numbers.stl",
                                 "facet normal nan nan nan\nouter loop\n"
                                 "vertex nan inf -INFINITY\n"
                                 "vertex 1e999 -1e-999 0x10\n"
                                 "vertex +5 1-2\n"  // "1-2" reads as 1 and -2
                                 "endloop\nendfacet\n"
                                 "facet normal\nouter loop\n"
                                 "vertex 1,5 2 3\n"  // a comma stops the numbers: the list ends here
                                 "vertex 0 0 0\nvertex 0 0 0\nendloop\nendfacet\n");
  testing::internal::CaptureStdout();
  RecordingSink sink;
  ASSERT_TRUE(ReadStlAscii(path, sink));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(sink.triangles, 1);
  const auto& points = sink.facets[0].points;
  EXPECT_TRUE(std::isnan(points[0].x));
  EXPECT_EQ(points[0].y, std::numeric_limits<float>::infinity());
  EXPECT_EQ(points[0].z, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(points[1].x, std::numeric_limits<float>::infinity());
  EXPECT_EQ(points[1].y, 0.0f);
  EXPECT_EQ(points[1].z, 16.0f);
  EXPECT_EQ(points[2], (Vector{5, 1, -2}));
}

TEST_F(StlReader, UnopenableFilesFailBothReaders) {
  RecordingSink sink;
  EXPECT_FALSE(ReadStl((dir_ / "missing.stl").string(), sink));
  EXPECT_FALSE(ReadStlAscii((dir_ / "missing.stl").string(), sink));
  EXPECT_FALSE(ReadStl(dir_.string(), sink));  // a directory
  EXPECT_FALSE(ReadStl("", sink));
  const std::string fifo = (dir_ / "fifo.stl").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ReadStl(fifo, sink));  // would block
  EXPECT_TRUE(sink.facets.empty());
}

TEST_F(StlReader, RandomBytesNeverCrash) {
  std::mt19937 random(12345);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(std::size_t(random() % 5000), '\0');
    for (char& byte : bytes) byte = char(random());
    if (round % 4 == 1) bytes.replace(0, std::min<std::size_t>(6, bytes.size()), "facet ");
    if (round % 4 == 2)  // random text made of the format's words and numbers
      for (char& byte : bytes) byte = "facet vertex color 0123456789.e-+nan\n\t"[random() % 38];
    const std::string path = Write("random.stl", bytes);
    testing::internal::CaptureStdout();
    RecordingSink sink;
    EXPECT_TRUE(ReadStl(path, sink));
    testing::internal::GetCapturedStdout();
    for (const auto& facet : sink.facets) EXPECT_TRUE(facet.points.size() == 3 || facet.points.size() == 4);
  }
}

// --- Corpus ---------------------------------------------------------------------------

enum class Layout { kBinary, kAscii, kNeither };

struct CorpusFile {
  const char* path;
  Layout layout;
  int triangles;
  int quads = 0;
};

// From the corpus's SOURCES.md; the broken files' numbers are what the
// readers make of them (noted).
const CorpusFile kCorpus[] = {
    {"assimp/3DSMaxExport.STL", Layout::kBinary, 2000},
    {"assimp/Spider_ascii.stl", Layout::kAscii, 1368},
    {"assimp/Spider_binary.stl", Layout::kBinary, 1368},
    {"assimp/Wuson.stl", Layout::kBinary, 3732},
    {"assimp/sphereWithHole.stl", Layout::kAscii, 285},
    {"assimp/triangle.stl", Layout::kAscii, 1},
    {"assimp/triangle_with_empty_solid.stl", Layout::kAscii, 1},
    {"assimp/triangle_with_two_solids.stl", Layout::kAscii, 2},
    {"assimp/formatDetection", Layout::kAscii, 1},
    {"stl-models/broken/empty.stl", Layout::kNeither, 0},  // ASCII reader: nothing, success
    {"stl-models/broken/fourVertices.ascii.stl", Layout::kAscii, 3, 1},  // the 4-vertex facet is a quad
    {"stl-models/broken/incorrectFaceCounter.bin.stl", Layout::kNeither, 0},  // read as text: no facet
    {"stl-models/broken/missingEndsolid.ascii.stl", Layout::kAscii, 4},
    {"stl-models/broken/missingFace.ascii.stl", Layout::kAscii, 3},
    {"stl-models/broken/missingNormal.ascii.stl", Layout::kAscii, 4},  // the normal is not used
    {"stl-models/broken/notANumberNormal.ascii.stl", Layout::kAscii, 4},
    {"stl-models/broken/quad.ascii.stl", Layout::kAscii, 3, 1},
    {"stl-models/broken/singleFace.ascii.stl", Layout::kAscii, 1},
    {"stl-models/broken/solidNameMismatch.ascii.stl", Layout::kAscii, 4},
    {"stl-models/broken/twoVertices.ascii.stl", Layout::kAscii, 3},  // the 2-vertex facet is dropped
    {"stl-models/broken/wrongHeader.bin.stl", Layout::kBinary, 12},  // header starts with "solid"
    {"stl-models/broken/wrongNormal.ascii.stl", Layout::kAscii, 4},
    {"stl-models/broken/wrongNormals.ascii.stl", Layout::kAscii, 4},
    {"stl-models/objects/gearwheel.ascii.stl", Layout::kAscii, 2444},
    {"stl-models/misc/faceless.ascii.stl", Layout::kAscii, 0},
    {"stl-models/misc/multiWordName.ascii.stl", Layout::kAscii, 4},
    {"stl-models/misc/multiWordName.bin.stl", Layout::kNeither, 0},  // trailing bytes: read as text
    {"stl-models/misc/namelessSolid.ascii.stl", Layout::kAscii, 4},
    {"stl-models/polytopes/cube.ascii.stl", Layout::kAscii, 12},
    {"stl-models/polytopes/cube.bin.stl", Layout::kBinary, 12},
    {"stl-models/polytopes/cubeLarge.ascii.stl", Layout::kAscii, 12},
    {"stl-models/polytopes/tetrahedron.ascii.stl", Layout::kAscii, 4},
    {"stl-models/polytopes/tetrahedron.bin.stl", Layout::kBinary, 4},
    {"stl-models/polytopes/tetrahedron.min.ascii.stl", Layout::kAscii, 4},
    {"stl-models/polytopes/tetrahedronIrregular.ascii.stl", Layout::kAscii, 4},
    {"stl-models/polytopes/tetrahedronIrregular.bin.stl", Layout::kBinary, 4},
    {"stl-models/polytopes/tetrahedronMinusZero.bin.stl", Layout::kBinary, 4},
    {"stl-models/polytopes/triangle.ascii.stl", Layout::kAscii, 1},
    {"stl-models/polytopes/triangle.bin.stl", Layout::kBinary, 1},
    {"stl-models/polytopes/unitCube.ascii.stl", Layout::kAscii, 12},
    {"stl-models/polytopes/unitCube.binary.stl", Layout::kBinary, 12},
    {"threejs/ascii/pr2_head_pan.stl", Layout::kAscii, 1000},
    {"threejs/ascii/pr2_head_tilt.stl", Layout::kAscii, 1052},
    {"threejs/ascii/slotted_disk.stl", Layout::kAscii, 288},
    {"ebgeometry/F18/part-17.STL", Layout::kBinary, 39112},  // header starts with "solid"
    {"ebgeometry/F18/part-0.STL", Layout::kBinary, 7290},    // header starts with "solid"
    {"draco/test_sphere.stl", Layout::kBinary, 224},
    {"draco/test_sphere_ascii.stl", Layout::kAscii, 224},
    {"cgal/sphere.stl", Layout::kBinary, 320},
};

const fs::path kCorpusDir = fs::path(VERMELLE_CORPUS_DIR) / "stl";

TEST(StlCorpus, EveryFileReadsAsListed) {
  if (!fs::is_directory(kCorpusDir)) GTEST_SKIP() << "no corpus at " << kCorpusDir;
  std::map<std::string, const CorpusFile*> listed;
  for (const CorpusFile& file : kCorpus) listed[file.path] = &file;

  int seen = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpusDir)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), kCorpusDir).generic_string();
    testing::internal::CaptureStdout();
    RecordingSink binary, front;
    const bool isBinary = ReadStlBinary(entry.path().string(), binary);
    const bool ok = ReadStl(entry.path().string(), front);
    const std::string messages = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok) << relative;  // every file opens; the ASCII reader never refuses one
    EXPECT_EQ(front.otherCalls, 0) << relative;

    const auto it = listed.find(relative);
    if (it == listed.end()) continue;  // SOURCES.md and any newer file: no crash is all we ask
    ++seen;
    const CorpusFile& expected = *it->second;
    EXPECT_EQ(isBinary, expected.layout == Layout::kBinary) << relative;
    EXPECT_EQ(front.triangles, expected.triangles) << relative;
    EXPECT_EQ(front.quads, expected.quads) << relative;
    if (expected.layout == Layout::kAscii) {
      EXPECT_EQ(messages, "") << relative;
    }
    for (const auto& facet : front.facets) EXPECT_EQ(facet.colour, kNoColour) << relative;
  }
  EXPECT_EQ(seen, int(std::size(kCorpus)));
}

// Binary and ASCII versions of the same model deliver the same triangles.
TEST(StlCorpus, BinaryAndAsciiTwinsAgree) {
  if (!fs::is_directory(kCorpusDir)) GTEST_SKIP() << "no corpus at " << kCorpusDir;
  const std::pair<const char*, const char*> twins[] = {
      {"stl-models/polytopes/triangle.bin.stl", "stl-models/polytopes/triangle.ascii.stl"},
      {"stl-models/polytopes/tetrahedron.bin.stl", "stl-models/polytopes/tetrahedron.ascii.stl"},
      {"stl-models/polytopes/cube.bin.stl", "stl-models/polytopes/cube.ascii.stl"},
      {"stl-models/polytopes/unitCube.binary.stl", "stl-models/polytopes/unitCube.ascii.stl"},
      {"stl-models/polytopes/tetrahedronIrregular.bin.stl", "stl-models/polytopes/tetrahedronIrregular.ascii.stl"},
  };
  for (const auto& [binaryName, asciiName] : twins) {
    RecordingSink binary, ascii;
    ASSERT_TRUE(ReadStlBinary((kCorpusDir / binaryName).string(), binary));
    ASSERT_TRUE(ReadStlAscii((kCorpusDir / asciiName).string(), ascii));
    ASSERT_EQ(binary.facets.size(), ascii.facets.size()) << binaryName;
    for (std::size_t i = 0; i < binary.facets.size(); ++i)
      EXPECT_EQ(binary.facets[i].points, ascii.facets[i].points) << binaryName << " facet " << i;
  }
}

}  // namespace
}  // namespace qx
