#include "import/ac3d_reader.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "tests/import/ac3d_lines.h"
#include "tests/import/triangle_recorder.h"

namespace qx {
namespace {

using import_test::CorpusFiles;
using import_test::ScratchFolder;
using import_test::TriangleRecorder;

struct Outcome {
  bool ok = false;
  TriangleRecorder sink;
  std::string output;  // what the reader wrote to standard output
};

Outcome Read(const ScratchFolder& folder, const std::string& text) {
  Outcome outcome;
  const std::string file = folder.Write("model.ac", text);
  ::testing::internal::CaptureStdout();
  outcome.ok = ReadAc3dFile(file, outcome.sink);
  outcome.output = ::testing::internal::GetCapturedStdout();
  return outcome;
}

const std::string kMaterial =
    testing_ac3d::MaterialLine("glass pane", "1 0 0", "0.2 0.3 0.4", "9 9 9", "0.5 0.6 0.7", "128", "0.25");

// A unit square in z = 0 under a world object, with the given lines after
// "numvert" and its four points.
std::string SquareObject(const std::string& surfaces) {
  return "OBJECT poly\nname \"square\"\nnumvert 4\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n" + surfaces + "kids 0\n";
}

TEST(Ac3dReader, SurfacesBecomeEarClippedTrianglesWithTheirMaterial) {
  ScratchFolder folder;
  const Outcome read = Read(folder, std::string("AC3Db\n") + kMaterial + "OBJECT world\nkids 1\n" +
                                        SquareObject("numsurf 3\n"
                                                     "SURF 0x10\nmat 0\nrefs 4\n0 0 0\n1 1 0\n2 1 1\n3 0 1\n"
                                                     "SURF 0x2\nrefs 3\n0 0 0\n1 0 0\n2 0 0\n"  // open line
                                                     "SURF 0x0\nmat 7\nrefs 2\n0 0 0\n1 0 0\n"));
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.output, "");
  // Quads come as two triangles, never as a quad; objects end child first.
  EXPECT_EQ(read.sink.events, "MTTTEE");
  ASSERT_EQ(read.sink.triangles.size(), 3u);
  const QXMaterial* glass = read.sink.materials[0].get();
  EXPECT_EQ(read.sink.triangles[0].material, glass);
  EXPECT_EQ(read.sink.triangles[0].corners[0], (Vector{0, 0, 0}));
  EXPECT_EQ(read.sink.triangles[0].corners[1], (Vector{1, 0, 0}));
  EXPECT_EQ(read.sink.triangles[0].corners[2], (Vector{1, 1, 0}));
  EXPECT_EQ(read.sink.triangles[1].corners[2], (Vector{0, 1, 0}));
  EXPECT_EQ(read.sink.triangles[2].material, nullptr) << "no mat line";

  EXPECT_EQ(glass->ambient, (Colour{0.2f, 0.3f, 0.4f, 0.75f}));
  EXPECT_EQ(glass->diffuse, (Colour{1, 0, 0, 0.75f}));
  EXPECT_EQ(glass->specular, (Colour{0.5f, 0.6f, 0.7f, 0.75f}));
  EXPECT_EQ(glass->shininess, 1.0f);
}

TEST(Ac3dReader, PointsAreMovedByTheirObjectAndItsParents) {
  ScratchFolder folder;
  // The parent turns a quarter about z (row vectors: x goes to y) and moves
  // by (0, 1, 0); its first child moves by (1, 0, 0) before that.
  const Outcome read = Read(folder,
                            "AC3Db\nOBJECT world\nkids 1\n"
                            "OBJECT group\nrot 0 1 0  -1 0 0  0 0 1\nloc 0 1 0\nkids 2\n"
                            "OBJECT poly\nloc 1 0 0\nnumvert 3\n0 0 0\n1 0 0\n0 0 2\n"
                            "numsurf 1\nSURF 0\nrefs 3\n0 0 0\n1 0 0\n2 0 0\nkids 0\n"
                            "OBJECT poly\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 1\nSURF 0\nrefs 3\n0 0 0\n1 0 0\n"
                            "2 0 0\nkids 0\n");
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.sink.events, "TETEEE");
  ASSERT_EQ(read.sink.triangles.size(), 2u);
  const auto& moved = read.sink.triangles[0].corners;
  EXPECT_EQ(moved[0], (Vector{0, 2, 0}));
  EXPECT_EQ(moved[1], (Vector{0, 3, 0}));
  EXPECT_EQ(moved[2], (Vector{0, 2, 2}));
  const auto& turned = read.sink.triangles[1].corners;
  EXPECT_EQ(turned[1], (Vector{0, 2, 0}));
  EXPECT_EQ(turned[2], (Vector{-1, 1, 0}));
}

TEST(Ac3dReader, HeaderNeedsAc3dInTheFirstFourCharacters) {
  ScratchFolder folder;
  const std::string body =
      "OBJECT poly\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 1\nSURF 0\nrefs 3\n0 0 0\n1 0 0\n2 0 0\n";
  EXPECT_TRUE(Read(folder, "AC3Dc\n" + body).ok);
  EXPECT_EQ(Read(folder, "\xEF\xBB\xBF" "AC3Db\n" + body).sink.triangles.size(), 1u);

  const Outcome wrong = Read(folder, "AC3\n" + body);
  EXPECT_FALSE(wrong.ok);
  EXPECT_TRUE(wrong.sink.events.empty());
  EXPECT_EQ(wrong.output, "ac_load_ac '" + (folder.Path() / "model.ac").string() + "' is not a valid AC3D file.");

  TriangleRecorder sink;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(ReadAc3dFile("/nonexistent/model.ac", sink));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "can't open /nonexistent/model.ac\n");
}

TEST(Ac3dReader, ProblemsAreReportedWithTheirLineAndTheRestIsRead) {
  ScratchFolder folder;
  const Outcome read = Read(folder,
                            "AC3Db\n" +
                                testing_ac3d::MaterialLine("short", "1 1 1", "0 0 0", "0 0 0", "0 0 0", "1") +  // line 2
                                "OBJECT poly\nurl a b\n"  // line 4
                            "numvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 3\n"
                            "SURF 0x0 extra\nmat 0\ntexture x\nrefs 3\n0 0 0\n1 0 0\n2 0 0\n"
                            "SURF 0\nrefs 3\n0 0 0\n1 0 0\n3 0 0\n"  // beyond the points: dropped
                            "SURF 0\nrefs 3\n2 0 0\n1 0 0\n0 0 0\n"
                            "kids 0\n");
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.output,
            "expected 21 params after \"MATERIAL\" - line 2\n"
            "expected one arg to url at line 4 (got url)\n"
            "SURF should be followed by one flags argument\n"
            "ignoring texture\n");
  EXPECT_TRUE(read.sink.materials.empty());
  ASSERT_EQ(read.sink.triangles.size(), 2u);
  EXPECT_EQ(read.sink.triangles[0].material, nullptr) << "mat 0 with no material listed";
  EXPECT_EQ(read.sink.triangles[1].corners[0], (Vector{0, 1, 0}));
}

TEST(Ac3dReader, FilesCutShortEndTheReadWithAMessage) {
  ScratchFolder folder;
  const std::string square = "numvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 2\nSURF 0\nrefs 3\n0 0 0\n1 0 0\n2 0 0\n";
  // The second surface finds the end of the file after its first reference,
  // on line 15.
  const Outcome surface = Read(folder, "AC3Db\nOBJECT poly\n" + square + "SURF 0\nrefs 3\n0 0 0\n");
  EXPECT_FALSE(surface.ok);
  EXPECT_EQ(surface.sink.triangles.size(), 1u) << "what was read before stays";
  EXPECT_EQ(surface.output, "error whilst reading surface at line: 15\n");

  const Outcome child = Read(folder, "AC3Db\nOBJECT world\nkids 3\nOBJECT poly\nkids 0\n");
  EXPECT_FALSE(child.ok);
  EXPECT_EQ(child.output, "error reading expected child object 2 of 3 at line: 5\n");
}

TEST(Ac3dReader, HostileCountsAndNestingAreBoundedByTheFile) {
  ScratchFolder folder;
  for (const char* text : {"AC3Db\nOBJECT poly\nnumvert 2147483647\n0 0 0\n",
                           "AC3Db\nOBJECT poly\nnumvert -5\nnumsurf 2147483647\nSURF 0\n",
                           "AC3Db\nOBJECT poly\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 1\nrefs 99999999999\n0 0 0\n",
                           "AC3Db\nOBJECT world\nkids 2147483647\n", "AC3Db\nOBJECT world\nkids 99999999999999999999\n",
                           "AC3Db\nMATERIAL \"unterminated\n", "AC3Db\nurl\n"}) {
    const Outcome read = Read(folder, text);
    EXPECT_TRUE(read.sink.triangles.empty()) << text;
  }

  std::string deep = "AC3Db\n";
  for (int k = 0; k < 100000; ++k) deep += "OBJECT group\nkids 1\n";
  EXPECT_FALSE(Read(folder, deep).ok);

  // A surface of many references is still cut into n - 2 triangles.
  std::string wide = "AC3Db\nOBJECT poly\nnumvert 20000\n";
  for (int k = 0; k < 20000; ++k) wide += std::to_string(k) + (k % 2 ? " 1 0\n" : " 0 0\n");
  wide += "numsurf 1\nSURF 0\nrefs 20000\n";
  for (int k = 0; k < 20000; ++k) wide += std::to_string(k) + " 0 0\n";
  EXPECT_EQ(Read(folder, wide + "kids 0\n").sink.triangles.size(), 19998u);
}

TEST(Ac3dReader, CorpusFilesAreReadAndModelsWithSurfacesGiveTriangles) {
  const auto files = CorpusFiles("ac", {".ac", ".acc", ""});
  if (files.empty()) GTEST_SKIP() << "corpus folder absent";
  for (const auto& file : files) {
    TriangleRecorder sink;
    ::testing::internal::CaptureStdout();
    const bool ok = ReadAc3dFile(file.string(), sink);
    const std::string output = ::testing::internal::GetCapturedStdout();
    const std::string name = file.filename().string();
    if (name.find("UTF16") != std::string::npos) {
      EXPECT_FALSE(ok) << file;
    } else if (name != "nosurfaces.ac") {
      EXPECT_TRUE(ok) << file << "\n" << output;
      EXPECT_GT(sink.triangles.size(), 0u) << file;
    }
  }
}

TEST(Ac3dReader, CorpusModelsGiveTheirKnownTriangles) {
  const std::filesystem::path file = std::filesystem::path(VERMELLE_CORPUS_DIR) / "ac/assimp/Wuson.ac";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "corpus folder absent";
  TriangleRecorder sink;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(ReadAc3dFile(file.string(), sink));
  ::testing::internal::GetCapturedStdout();
  // 3732 triangle surfaces, one material, two objects.
  EXPECT_EQ(sink.triangles.size(), 3732u);
  EXPECT_EQ(sink.materials.size(), 1u);
  EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), 'E'), 2);
}

}  // namespace
}  // namespace qx
