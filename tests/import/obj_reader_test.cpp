#include "import/obj_reader.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/import/triangle_recorder.h"

namespace qx {
namespace {

using import_test::CorpusFiles;
using import_test::ScratchFolder;
using import_test::TriangleRecorder;

// Ten vertices i = 0..9 at (i, 10 i, 100 i), so a vertex is known by its x.
std::string TenVertices() {
  std::string text;
  for (int i = 0; i < 10; ++i)
    text += "v " + std::to_string(i) + " " + std::to_string(10 * i) + " " + std::to_string(100 * i) + "\n";
  return text;
}

// The x of each corner: the zero-based vertex numbers for TenVertices.
std::vector<float> CornerXs(const std::array<Vector, 3>& corners) { return {corners[0].x, corners[1].x, corners[2].x}; }

TriangleRecorder Read(const ScratchFolder& folder, const std::string& obj, const std::string& directory = "") {
  TriangleRecorder sink;
  EXPECT_TRUE(ReadObjFile(folder.Write("model.obj", obj), directory, sink));
  return sink;
}

TEST(ObjReader, FacesBecomeTrianglesQuadsOrClippedTriangles) {
  ScratchFolder folder;
  const TriangleRecorder sink = Read(folder, TenVertices() +
                                                 "f 1 2 3\n"
                                                 "f 1 2 3 4\n"
                                                 "f 1 2 3 4 5\n"
                                                 "f 1 2\n");
  EXPECT_EQ(sink.events, "TQTTT");
  EXPECT_EQ(CornerXs(sink.triangles[0].corners), (std::vector<float>{0, 1, 2}));
  EXPECT_EQ(sink.triangles[0].corners[1], (Vector{1, 10, 100}));
  EXPECT_EQ(sink.quads[0].corners[3], (Vector{3, 30, 300}));
  for (const auto& t : sink.triangles) EXPECT_EQ(t.material, nullptr);
}

TEST(ObjReader, IndicesAreRelativeClampedAndTakeOnlyTheVertexPart) {
  ScratchFolder folder;
  const TriangleRecorder sink = Read(folder, TenVertices() +
                                                 "f -1 -2 -3\n"
                                                 "f 1/4/2 2/5/3 3/6/4\n"
                                                 "f 4//1 5//1 6//1\n"
                                                 "f 0 99 -50\n"
                                                 "f 99999999999999999999 2 -99999999999999999999\n"
                                                 "f 7 8 9 x 10\n"
                                                 "f 7 8 /9 10\n");
  ASSERT_EQ(sink.events, "TTTTTT");
  EXPECT_EQ(CornerXs(sink.triangles[0].corners), (std::vector<float>{9, 8, 7}));
  EXPECT_EQ(CornerXs(sink.triangles[1].corners), (std::vector<float>{0, 1, 2}));
  EXPECT_EQ(CornerXs(sink.triangles[2].corners), (std::vector<float>{3, 4, 5}));
  EXPECT_EQ(CornerXs(sink.triangles[3].corners), (std::vector<float>{0, 9, 0}));
  EXPECT_EQ(CornerXs(sink.triangles[4].corners), (std::vector<float>{9, 1, 0}));
  // The list ends at the first word that is not an integer.
  EXPECT_EQ(CornerXs(sink.triangles[5].corners), (std::vector<float>{6, 7, 8}));
}

TEST(ObjReader, RelativeIndicesCountFromTheVerticesReadSoFar) {
  ScratchFolder folder;
  const TriangleRecorder sink = Read(folder,
                                     "f 1 2 3\n"  // before any vertex: dropped
                                     "v 0 0 0\nv 1 0 0\nv 2 0 0\n"
                                     "f -3 -2 -1\n"
                                     "v 3 0 0\n"
                                     "f -3 -2 -1\n");
  ASSERT_EQ(sink.triangles.size(), 2u);
  EXPECT_EQ(CornerXs(sink.triangles[0].corners), (std::vector<float>{0, 1, 2}));
  EXPECT_EQ(CornerXs(sink.triangles[1].corners), (std::vector<float>{1, 2, 3}));
}

TEST(ObjReader, LinesEndAtCrOrLfAndKeywordsIgnoreCase) {
  ScratchFolder folder;
  const TriangleRecorder sink = Read(folder,
                                     "# comment f 1 2 3\r"
                                     "  V 1 2 3\r\n"
                                     "\tv 4 5 6\r"
                                     "v 7\n"  // missing components keep the previous vertex's
                                     "$ f 1 2 3\n"
                                     "vt 0.5 0.5\nvn 0 0 1\ns 1\nl 1 2\n"
                                     "v +1e1 -2.5E-1 .5 trailing\n"
                                     "F 1 2 3\n"
                                     "f 3 4 5");  // the last line needs no line end
  ASSERT_EQ(sink.triangles.size(), 2u);
  EXPECT_EQ(sink.triangles[0].corners[0], (Vector{1, 2, 3}));
  EXPECT_EQ(sink.triangles[0].corners[1], (Vector{4, 5, 6}));
  EXPECT_EQ(sink.triangles[0].corners[2], (Vector{7, 5, 6}));
  EXPECT_EQ(sink.triangles[1].corners[2], (Vector{10, -0.25f, 0.5f}));
}

TEST(ObjReader, GroupsAndObjectsEndTheObjectBeingCollected) {
  ScratchFolder folder;
  const TriangleRecorder sink = Read(folder, TenVertices() + "g one\nf 1 2 3\no two\nf 4 5 6\nG\nO three\nf 7 8 9\n");
  EXPECT_EQ(sink.events, "ETETEET");
}

TEST(ObjReader, LinesLongerThan1023CharactersContinueAsNewLines) {
  ScratchFolder folder;
  // 1023 characters of one vertex line, then "f 1 2 3" on the same line.
  std::string line = "v 1 2 3";
  line += std::string(1023 - line.size(), ' ');
  const TriangleRecorder sink = Read(folder, line + "f 1 2 3\n");
  ASSERT_EQ(sink.triangles.size(), 1u);
  EXPECT_EQ(sink.triangles[0].corners[0], (Vector{1, 2, 3}));
}

std::string RedAndBlueLibrary() {
  return "# two materials\n"
         "newmtl Red\n"
         "Ka 0.1 0.2 0.3\nKd 1 0 0\nKs 0.5 0.5 0.5\nNs 100\nNi 1.45\nd 0.5\nillum 2\n"
         "map_Kd textures/red.png\n"
         "refl\n"
         "newmtl Blue and more words\n"
         "  Kd 0 0 1\n";
}

TEST(ObjReader, MaterialLibrariesGiveTheirMaterialsToFaces) {
  ScratchFolder folder;
  folder.Write("colours.mtl", RedAndBlueLibrary());
  const TriangleRecorder sink = Read(folder, TenVertices() +
                                                 "mtllib colours.mtl\n"
                                                 "f 1 2 3\n"
                                                 "usemtl Red\nf 1 2 3\n"
                                                 "USEMTL Blue\nf 1 2 3 4\n"
                                                 "usemtl red\nf 1 2 3\n"  // names are case-sensitive
                                                 "usemtl Red\nf 1 2 3 4 5\n",
                                     folder.Path().string());
  ASSERT_EQ(sink.materials.size(), 2u);
  const QXMaterial* red = sink.materials[0].get();
  const QXMaterial* blue = sink.materials[1].get();
  EXPECT_EQ(red->ambient, (Colour{0.1f, 0.2f, 0.3f, 1}));
  EXPECT_EQ(red->diffuse, (Colour{1, 0, 0, 1}));
  EXPECT_EQ(red->specular, (Colour{0.5f, 0.5f, 0.5f, 1}));
  EXPECT_FLOAT_EQ(red->shininess, 0.1f) << "Ns is scaled by 0.001 and Ni does not touch it";
  // The last material of the library, with the defaults it did not set.
  EXPECT_EQ(blue->ambient, (Colour{0.2f, 0.2f, 0.2f, 1}));
  EXPECT_EQ(blue->diffuse, (Colour{0, 0, 1, 1}));
  EXPECT_EQ(blue->specular, (Colour{0, 0, 0, 1}));
  EXPECT_EQ(blue->shininess, 0);

  ASSERT_EQ(sink.events, "MMTTQTTTT");
  EXPECT_EQ(sink.triangles[0].material, nullptr);
  EXPECT_EQ(sink.triangles[1].material, red);
  EXPECT_EQ(sink.quads[0].material, blue);
  EXPECT_EQ(sink.triangles[2].material, blue) << "an unknown name keeps the current material";
  EXPECT_EQ(sink.triangles[3].material, red);
}

TEST(ObjReader, LibrariesAreFoundAsNamedOrBesideTheModelWithEitherSeparator) {
  ScratchFolder folder;
  folder.Write("sub/lib.mtl", "newmtl Only\nKd 0.5 0.5 0.5\n");
  const std::string faces = TenVertices() + "usemtl Only\nf 1 2 3\n";
  const std::string inFolder = folder.Path().string();
  for (const std::string& directory : {inFolder, inFolder + "/", inFolder + "\\"}) {
    for (const std::string name : {"sub/lib.mtl", "sub\\lib.mtl"}) {
      const TriangleRecorder sink = Read(folder, "mtllib " + name + "\n" + faces, directory);
      ASSERT_EQ(sink.triangles.size(), 1u);
      EXPECT_NE(sink.triangles[0].material, nullptr) << directory << " + " << name;
    }
  }
  // An absolute name is found as written, whatever the directory.
  const TriangleRecorder absolute = Read(folder, "mtllib " + inFolder + "/sub/lib.mtl\n" + faces, "/nowhere");
  EXPECT_NE(absolute.triangles[0].material, nullptr);
  // A library found nowhere gives no materials; faces still come.
  const TriangleRecorder missing = Read(folder, "mtllib absent.mtl\n" + faces, inFolder);
  EXPECT_TRUE(missing.materials.empty());
  EXPECT_EQ(missing.triangles.size(), 1u);
}

TEST(ObjReader, MissingFilesFail) {
  TriangleRecorder sink;
  ObjMaterialTable materials;
  EXPECT_FALSE(ReadObjFile("/nonexistent/model.obj", "", sink));
  EXPECT_FALSE(ReadMtlFile("/nonexistent/lib.mtl", materials, sink));
  EXPECT_TRUE(sink.events.empty());
}

TEST(ObjReader, HostileInputIsReadWithoutHarm) {
  ScratchFolder folder;
  // A face of a million corners on one line, binary noise and a library
  // made of nothing but statements without arguments.
  std::string huge = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
  for (int k = 0; k < 1000000; ++k) huge += k % 2 ? " 2" : " 3";
  huge += "\n";
  EXPECT_GT(Read(folder, huge).triangles.size(), 0u);

  std::string noise;
  for (int k = 0; k < 100000; ++k) noise += static_cast<char>((k * 7919) % 256);
  Read(folder, noise);

  folder.Write("bare.mtl", "Ka\nKd\nNs\nnewmtl\nK\nN");
  const TriangleRecorder bare = Read(folder, "mtllib bare.mtl\nv 0 0 0\nf 1 1 1\n", folder.Path().string());
  EXPECT_EQ(bare.materials.size(), 1u);
}

TEST(ObjReader, CorpusFilesAreReadAndModelsWithFacesGiveTriangles) {
  const auto files = CorpusFiles("obj", {".obj"});
  if (files.empty()) GTEST_SKIP() << "corpus folder absent";
  for (const auto& file : files) {
    TriangleRecorder sink;
    EXPECT_TRUE(ReadObjFile(file.string(), file.parent_path().string(), sink)) << file;
    const std::string name = file.filename().string();
    const bool hasNoFaces = name.find("point_cloud") != std::string::npos || name == "testline.obj" ||
                            name == "testpoints.obj" || name.find("UTF16") != std::string::npos ||
                            name == "test_lines.obj";
    if (!hasNoFaces) {
      EXPECT_GT(sink.FaceCount(), 0u) << file;
    }
  }
}

TEST(ObjReader, CorpusModelsGiveTheirKnownFacesAndMaterials) {
  const std::filesystem::path root = std::filesystem::path(VERMELLE_CORPUS_DIR) / "obj";
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "corpus folder absent";
  struct Expected {
    const char* file;
    size_t faces;  // triangles, with a quad counted as two
  };
  // Counts from the files: all triangles, all quads, one face of 66 corners.
  for (const Expected& expected : {Expected{"common-3d-test-models/teapot.obj", 6320},
                                   Expected{"common-3d-test-models/spot_quadrangulated.obj", 2 * 2928},
                                   Expected{"assimp/concave_polygon.obj", 64}, Expected{"assimp/box.obj", 12}}) {
    const std::filesystem::path file = root / expected.file;
    TriangleRecorder sink;
    ASSERT_TRUE(ReadObjFile(file.string(), file.parent_path().string(), sink)) << file;
    EXPECT_EQ(sink.FaceCount(), expected.faces) << file;
  }
  // The library sits in a sub-folder named by the model.
  const std::filesystem::path elsewhere = root / "assimp/mtl_different_folder.obj";
  TriangleRecorder sink;
  ASSERT_TRUE(ReadObjFile(elsewhere.string(), elsewhere.parent_path().string(), sink));
  ASSERT_EQ(sink.materials.size(), 1u);
  EXPECT_FLOAT_EQ(sink.materials[0]->shininess, 0.4f);
  ASSERT_EQ(sink.quads.size(), 6u);
  EXPECT_EQ(sink.quads[5].material, sink.materials[0].get());
}

}  // namespace
}  // namespace qx
