#include "import/lwo_reader.h"

#include <bit>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "tests/import/triangle_recorder.h"

namespace qx {
namespace {

using import_test::CorpusFiles;
using import_test::ScratchFolder;
using import_test::TriangleRecorder;
using namespace std::string_literals;

// Big-endian writers for hand-made files.
std::string U16(unsigned value) { return {char(value >> 8 & 0xFF), char(value & 0xFF)}; }
std::string U32(std::uint32_t value) { return U16(value >> 16) + U16(value & 0xFFFF); }
std::string F32(float value) { return U32(std::bit_cast<std::uint32_t>(value)); }
std::string Point(float x, float y, float z) { return F32(x) + F32(y) + F32(z); }

// A name, its terminator and the pad byte that keeps it even.
std::string Name(const std::string& name) {
  std::string bytes = name + '\0';
  if (bytes.size() % 2 == 1) bytes += '\0';
  return bytes;
}

std::string Chunk(const char* id, const std::string& body) {
  std::string bytes = std::string(id, 4) + U32(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() % 2 == 1) bytes += '\0';
  return bytes;
}

std::string SubChunk(const char* id, const std::string& body) { return std::string(id, 4) + U16(body.size()) + body; }

std::string Form(const char* type, const std::string& chunks) {
  return "FORM" + U32(static_cast<std::uint32_t>(4 + chunks.size())) + type + chunks;
}

// An LWOB polygon: corner count, 16-bit indices, surface number.
std::string Polygon(std::initializer_list<unsigned> corners, int surface) {
  std::string bytes = U16(corners.size());
  for (unsigned c : corners) bytes += U16(c);
  return bytes + U16(static_cast<std::uint16_t>(surface));
}

// A house-shaped convex pentagon's points: square 0..3 and the roof top 4.
std::string HousePoints() {
  return Chunk("PNTS", Point(0, 0, 0) + Point(1, 0, 0) + Point(1, 1, 0) + Point(0, 1, 0) + Point(0.5f, 1.5f, 0));
}

TriangleRecorder Read(const ScratchFolder& folder, const std::string& bytes, bool expected = true) {
  TriangleRecorder sink;
  EXPECT_EQ(ReadLwoFile(folder.Write("model.lwo", bytes), sink), expected);
  return sink;
}

std::string SurfacesFile() {
  const std::string polygons = Polygon({0, 1, 2}, 2) + Polygon({0, 1, 2, 3}, 1) + Polygon({0, 1, 2, 4, 3}, 0) +
                               Polygon({0, 1, 2}, 3) +
                               Polygon({0, 2, 3}, -1) + U16(1) + Polygon({0, 1, 2}, 1) +  // one detail polygon
                               Polygon({0, 1, 9}, 1) + Polygon({1, 2, 3}, 2);
  return Form("LWOB", Chunk("SRFS", Name("Red") + Name("Blue")) +
                          Chunk("SURF", Name("Red") + SubChunk("COLR", "\xFF\x00\x00\x00"s)) +
                          Chunk("SURF", Name("Blue") + SubChunk("COLR", "\x00\x00\xFF\x00"s) +
                                            SubChunk("DIFF", U16(0x80))) +
                          Chunk("SURF", Name("Green") + SubChunk("COLR", "\x00\xFF\x00\x00"s)) + HousePoints() +
                          Chunk("POLS", polygons));
}

TEST(LwoReader, LwobSurfacesColourTheirPolygons) {
  ScratchFolder folder;
  const TriangleRecorder sink = Read(folder, SurfacesFile());
  ASSERT_EQ(sink.events, "MMSSETQTTTTTT");
  const QXMaterial* red = sink.materials[0].get();
  const QXMaterial* blue = sink.materials[1].get();
  // Provisional colours: the file position after each name, byte by byte.
  EXPECT_EQ(sink.madeDiffuse[0], (Colour{24 / 255.0f, 0, 0, 0}));
  EXPECT_EQ(sink.madeDiffuse[1], (Colour{30 / 255.0f, 0, 0, 0}));
  EXPECT_EQ(red->diffuse, (Colour{1, 0, 0, 1}));
  EXPECT_EQ(red->ambient, red->diffuse);
  EXPECT_EQ(blue->specular, (Colour{0, 0, 1, 1}));
  EXPECT_EQ(blue->shininess, 0);

  const auto& t = sink.triangles;
  EXPECT_EQ(t[0].material, blue);
  EXPECT_EQ(t[0].corners[2], (Vector{1, 1, 0}));
  EXPECT_EQ(sink.quads[0].material, red);
  EXPECT_EQ(sink.quads[0].corners[3], (Vector{0, 1, 0}));
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(t[k].material, nullptr) << "surface 0";
  EXPECT_EQ(t[4].material, nullptr) << "surface 3 of 2";
  EXPECT_EQ(t[5].material, red) << "surface -1 is surface 1 with details";
  EXPECT_EQ(t[5].corners[1], (Vector{1, 1, 0}));
  EXPECT_EQ(t[6].material, blue) << "after the polygon with a missing point";
  EXPECT_EQ(t[6].corners[0], (Vector{1, 0, 0}));
}

TEST(LwoReader, SurfacesWithoutColourAreBlack) {
  ScratchFolder folder;
  const std::string surface = Chunk("SURF", Name("Plain") + SubChunk("DIFF", U16(1)));
  const TriangleRecorder sink = Read(folder, Form("LWOB", Chunk("SRFS", Name("Plain")) + surface));
  ASSERT_EQ(sink.events, "MS");
  EXPECT_EQ(sink.materials[0]->diffuse, (Colour{0, 0, 0, 1}));
}

TEST(LwoReader, EachPointChunkStartsANewObject) {
  ScratchFolder folder;
  const TriangleRecorder sink =
      Read(folder, Form("LWOB", Chunk("PNTS", Point(0, 0, 0) + Point(1, 0, 0) + Point(0, 1, 0)) +
                                    Chunk("POLS", Polygon({0, 1, 2}, 1)) +
                                    Chunk("PNTS", Point(5, 0, 0) + Point(6, 0, 0) + Point(5, 1, 0)) +
                                    Chunk("POLS", Polygon({2, 1, 0}, 1) + Polygon({0, 1, 3}, 1))));
  ASSERT_EQ(sink.events, "ETET");
  EXPECT_EQ(sink.triangles[1].corners[0], (Vector{5, 1, 0}));
  EXPECT_EQ(sink.triangles[1].material, nullptr);
}

TEST(LwoReader, Lwo2PolygonsHaveFlagsInTheCountAndLongIndices) {
  ScratchFolder folder;
  const std::string faces = U16(0x0403) + U16(0) + U16(1) + U16(2) +            // flags above the count
                            U16(4) + U16(0) + U16(1) + U16(2) + U16(3) +        // quad
                            U16(3) + U16(0xFF00) + U16(2) + U16(0) + U16(1) +   // 4-byte index 2
                            U16(3) + U16(0xFF01) + U16(0) + U16(1) + U16(2) +   // index 65536: dropped
                            U16(3) + U16(1) + U16(2) + U16(3);
  const TriangleRecorder sink =
      Read(folder, Form("LWO2", Chunk("TAGS", Name("Default")) + Chunk("LAYR", U16(0) + U16(0) + Point(0, 0, 0)) +
                                    HousePoints() + Chunk("POLS", "FACE" + faces) +
                                    Chunk("POLS", "PTCH" + U16(3) + U16(0) + U16(1) + U16(2)) +
                                    Chunk("SURF", Name("Default") + SubChunk("COLR", Point(1, 0, 0)))));
  ASSERT_EQ(sink.events, "ETQTT");
  EXPECT_EQ(sink.triangles[0].corners[2], (Vector{1, 1, 0}));
  EXPECT_EQ(sink.triangles[1].corners[0], (Vector{1, 1, 0}));
  EXPECT_EQ(sink.triangles[2].corners[2], (Vector{0, 1, 0}));
  for (const auto& t : sink.triangles) EXPECT_EQ(t.material, nullptr);
}

TEST(LwoReader, OddSizedChunksAreFollowedByAPadByte) {
  ScratchFolder folder;
  const TriangleRecorder sink =
      Read(folder, Form("LWOB", Chunk("XTRA", "abc") + HousePoints() + Chunk("POLS", Polygon({0, 1, 2, 4, 3}, 0))));
  EXPECT_EQ(sink.events, "ETTT");
}

TEST(LwoReader, OtherFilesAreRefused) {
  ScratchFolder folder;
  EXPECT_TRUE(Read(folder, "FORX" + SurfacesFile().substr(4), false).events.empty());
  EXPECT_TRUE(Read(folder, Form("LWOC", HousePoints()), false).events.empty());
  EXPECT_TRUE(Read(folder, "FOR", false).events.empty());
  TriangleRecorder sink;
  EXPECT_FALSE(ReadLwoFile("/nonexistent/model.lwo", sink));
}

TEST(LwoReader, DamagedFilesAreReadWithinTheirBytes) {
  ScratchFolder folder;
  // Sizes far beyond the file: form, point chunk, polygon and detail counts.
  const std::string points = "PNTS" + U32(0xFFFFFFF0) + Point(0, 0, 0);
  EXPECT_EQ(Read(folder, "FORM" + U32(0xFFFFFFFF) + "LWOB" + points).events, "E");
  Read(folder, Form("LWOB", HousePoints() + Chunk("POLS", U16(0xFFFF) + U16(1) + U16(2))));
  Read(folder, Form("LWOB", HousePoints() + Chunk("POLS", Polygon({0, 1, 2}, -1) + U16(0xFFFF) + U16(0xFFFF))));
  Read(folder, Form("LWOB", Chunk("SRFS", std::string(40, 'x')) + Chunk("SURF", std::string(40, 'x'))));

  // Every prefix of a good file reads without harm and gives no more than
  // the whole file.
  const std::string whole = SurfacesFile();
  const size_t allFaces = Read(folder, whole).FaceCount();
  for (size_t length = 0; length < whole.size(); ++length) {
    TriangleRecorder sink;
    ReadLwoFile(folder.Write("cut.lwo", whole.substr(0, length)), sink);
    EXPECT_LE(sink.FaceCount(), allFaces) << length;
  }
}

TEST(LwoReader, CorpusFilesAreReadAndGiveTriangles) {
  auto files = CorpusFiles("lwo", {".lwo", ""});
  if (files.empty()) GTEST_SKIP() << "corpus folder absent";
  for (const auto& file : files) {
    TriangleRecorder sink;
    EXPECT_TRUE(ReadLwoFile(file.string(), sink)) << file;
    // Subdivision.lwo holds only patches, which are not faces.
    if (file.filename() != "Subdivision.lwo") {
      EXPECT_GT(sink.FaceCount(), 0u) << file;
    }
  }
}

}  // namespace
}  // namespace qx
