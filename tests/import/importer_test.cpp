// The import front end: orientation, materials, objects, 3DS meshes and LDraw
// sub-models, checked on the scenes it builds.
#include "import/importer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "fan/quadric_builder.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

class ImporterTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardClasses();
    options_ = ImportOptions::Defaults(ModelFormat::FmtOBJ);
    options_.simplificationLevel = 0;  // keep every triangle where the test counts them
  }
  void TearDown() override { ClearClassRegistry(); }
  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  ImportOptions options_;
};

int CountRoots(const QXScene& scene) {
  int count = 0;
  for (const QXHier* node = scene.roots; node; node = node->nextSibling) ++count;
  return count;
}

int CountMeshes(const QXScene& scene) {
  int count = 0;
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) ++count;
  return count;
}

// The one triangle a mesh shows at level 0, as positions in walk order.
std::vector<Vector> OnlyTriangle(const QXPck& mesh) {
  std::vector<Vector> corners;
  ForEachFan(mesh, 0, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i)
      for (VertexIndex v : {fan.centre, fan.Corner1(i), fan.Corner2(i)}) corners.push_back(mesh.vertices[v].position);
  });
  return corners;
}

// Whether `corners` is (a, b, c) up to rotation.
bool SameTurn(const std::vector<Vector>& corners, Vector a, Vector b, Vector c) {
  if (corners.size() != 3) return false;
  for (int r = 0; r < 3; ++r)
    if (corners[r] == a && corners[(r + 1) % 3] == b && corners[(r + 2) % 3] == c) return true;
  return false;
}

TEST_F(ImporterTest, DecodedFacesKeepTheReadersTurnUnlessFlipped) {
  const Vector a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
  for (bool flip : {false, true}) {
    QXScene scene;
    options_.flipFaces = flip;
    Importer importer(options_, scene, {});
    importer.AddTriangle(nullptr, a, b, c);
    importer.EndObject(nullptr);
    ASSERT_EQ(CountMeshes(scene), 1);
    const std::vector<Vector> corners = OnlyTriangle(*scene.meshes);
    EXPECT_TRUE(flip ? SameTurn(corners, a, c, b) : SameTurn(corners, a, b, c)) << flip;
  }
}

TEST_F(ImporterTest, ObjectsMaterialsAndUnusableTriangles) {
  QXScene scene;
  Importer importer(options_, scene, {});
  QXMaterial* red = importer.MakeMaterial({1, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.5f);
  EXPECT_EQ(importer.MakeMaterial({1, 0, 0, 1}, {1, 0, 0, 1}, {0, 0, 0, 1}, 0.5f), red);
  const Vector a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0}, d{1, 1, 0};
  importer.AddTriangle(red, a, b, c);
  importer.AddTriangleColor({0, 0, 1, 1}, b, d, c);
  importer.AddTriangle(nullptr, a, b, Vector{NAN, 0, 0});  // cannot be drawn: dropped
  importer.EndObject("first");
  importer.AddQuadColor({0, 1, 0, -1}, a, b, d, c);  // negative alpha: no material
  importer.EndObject("second");

  // Two materials in the first object, one material-less mesh in the second.
  EXPECT_EQ(CountMeshes(scene), 3);
  std::set<QXMaterial*> materials;
  int64_t triangles = 0;
  for (QXHier* node = scene.roots; node; node = node->nextSibling) {
    materials.insert(node->material);
    triangles += ForEachFan(*node->mesh, 0, [](const Fan&) {});
  }
  EXPECT_EQ(triangles, 4);
  EXPECT_TRUE(materials.contains(red));
  EXPECT_TRUE(materials.contains(nullptr));
  const QXMaterial* blue = scene.FindOrAddMaterial({0, 0, 1, 1}, {0, 0, 1, 1}, {0.1f, 0.1f, 0.1f, 0}, 1.0f);
  EXPECT_TRUE(materials.contains(const_cast<QXMaterial*>(blue)));
}

Mesh3DS SquareMesh() {
  Mesh3DS mesh;
  mesh.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  mesh.faces = {{0, 1, 2, 0}, {0, 2, 3, 0}, {0, 3, 9, 0}};  // the last face points past the points
  return mesh;
}

Material3DS Named(const std::string& name, float red) {
  Material3DS material;
  material.name = name;
  material.diffuse = {red, 0, 0};
  return material;
}

TEST_F(ImporterTest, ThreeDsMeshesTakeTheirNamedMaterialsAndGroups) {
  QXScene scene;
  Importer importer(options_, scene, {});
  importer.OnMaterial(Named("Default", 0.25f));
  importer.OnMaterial(Named("Default", 0.75f));  // the later one wins
  importer.OnMesh(SquareMesh());
  ASSERT_EQ(CountRoots(scene), 1);
  ASSERT_NE(scene.roots->material, nullptr);
  EXPECT_FLOAT_EQ(scene.roots->material->diffuse[0], 0.75f);
  EXPECT_EQ(ForEachFan(*scene.roots->mesh, 0, [](const Fan&) {}), 2) << "the bad face is dropped";

  // A group covering one face imports only that face, with no material when
  // its name is unknown.
  Mesh3DS grouped = SquareMesh();
  grouped.groups = {{"unknown", {1}}};
  importer.OnMesh(grouped);
  ASSERT_EQ(CountRoots(scene), 2);
  EXPECT_EQ(scene.roots->material, nullptr);
  EXPECT_EQ(ForEachFan(*scene.roots->mesh, 0, [](const Fan&) {}), 1);
}

TEST_F(ImporterTest, ThreeDsMeshesBuildOneObjectEachUnlessSingle) {
  for (bool single : {false, true}) {
    QXScene scene;
    options_.singleObj = single;
    {
      Importer importer(options_, scene, {});
      Mesh3DS second = SquareMesh();
      for (Vector& p : second.points) p.z = 5;
      importer.OnMesh(SquareMesh());
      importer.OnMesh(second);
      importer.EndObject(nullptr);
      EXPECT_EQ(CountRoots(scene), single ? 0 : 2) << "built per mesh unless single";
    }
  }
  const fs::path dxf = Write("lines.dxf", "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n0\n20\n0\n30\n0\n11\n1\n21\n1\n31\n1\n0\nENDSEC\n0\nEOF\n");
  auto lines = ImportModel(dxf.string(), ImportOptions::Defaults(ModelFormat::FmtDXF));
  ASSERT_TRUE(lines) << "a drawing of lines imports";
  EXPECT_EQ(lines->meshes, nullptr) << "and gives an empty scene";
}

TEST_F(ImporterTest, LDrawSubModelsAreBuiltOnceAndCloned) {
  Write("brick.dat", "0 a brick\n4 16 0 0 0 1 0 0 1 1 0 0 1 0\n3 16 0 0 0 1 0 0 0 0 1\n");
  std::string model = "0 a wall\n";
  for (int i = 0; i < 100; ++i)
    model += "1 4 " + std::to_string(2 * i) + " 0 0 1 0 0 0 1 0 0 0 1 brick.dat\n";
  const fs::path path = Write("wall.ldr", model);
  ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtLDraw);
  options.simplificationLevel = 0;
  options.ldrawDir = (dir_ / "nolibrary").string();
  auto scene = ImportModel(path.string(), options);
  ASSERT_TRUE(scene);
  EXPECT_EQ(CountMeshes(*scene), 1) << "the brick is built once";
  ASSERT_EQ(CountRoots(*scene), 100);
  const QXHier* first = scene->roots;
  for (const QXHier* node = scene->roots; node; node = node->nextSibling) {
    EXPECT_EQ(node->mesh, first->mesh);
    EXPECT_EQ(node->firstChild, first->firstChild) << "clones share the children";
    ASSERT_NE(node->material, nullptr);
    EXPECT_GT(node->material->diffuse[0], 0.5f) << "colour 4 is red";
  }
  EXPECT_EQ(ForEachFan(*first->mesh, 0, [](const Fan&) {}), 3) << "quad and triangle";
}

// Imports `path` with stdout captured into `out`; `failure` gets the reason.
std::unique_ptr<QXScene> CapturedImport(const fs::path& path, const ImportOptions& options, std::string& failure,
                                        std::string& out) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  auto scene = ImportModel(path.string(), options, {}, &failure);
  out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  return scene;
}

// A file that is not of its format fails with the reason; a file of the
// format without faces gives an empty scene and a warning.
TEST_F(ImporterTest, FilesNotOfTheirFormatFailAndEmptyOnesWarn) {
  const std::string utf16Ac3d("\xFF\xFE" "A\0C\0" "3\0D\0" "b\0\n\0", 14);
  const struct {
    fs::path path;
    const char* reason;  // none: an empty scene
  } files[] = {
      {Write("utf16.ac", utf16Ac3d), "not an AC3D file"},
      {Write("riff.lwo", std::string("RIFF\4\0\0\0WAVE", 12)), "not a LightWave object"},
      {Write("form.lwo", std::string("FORM\0\0\0\4ILBM", 12)), "not a LightWave object"},
      {Write("plain.ply", "solid nothing\n"), "not a PLY file"},
      {Write("cut.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nelement face 1\n"
                        "property list uchar int vertex_indices\nend_header\n0\n1\n"), "breaks off"},
      {Write("nofaces.ac", "AC3Db\nOBJECT world\nkids 0\n"), nullptr},
      {Write("nofaces.lwo", std::string("FORM\0\0\0\4LWO2", 12)), nullptr},
      {Write("nofaces.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nend_header\n1\n"), nullptr},
  };
  for (const auto& file : files) {
    std::string failure, out;
    auto scene = CapturedImport(file.path, ImportOptions::Defaults(*ModelFormatForFile(file.path.string())), failure,
                                out);
    if (file.reason) {
      EXPECT_FALSE(scene) << file.path;
      EXPECT_NE(failure.find(file.reason), std::string::npos) << file.path << ": " << failure;
    } else {
      ASSERT_TRUE(scene) << file.path << ": " << failure;
      EXPECT_EQ(scene->meshes, nullptr) << file.path;
      EXPECT_NE(out.find("holds no faces"), std::string::npos) << file.path << out;
    }
  }
}

// An AC3D file cut off inside its second object keeps the first.
TEST_F(ImporterTest, AnAc3dFileCutOffKeepsTheObjectsBeforeTheCut) {
  const std::string object =
      "OBJECT poly\nnumvert 3\n0 0 0\n1 0 0\n0 1 0\nnumsurf 1\nSURF 0x10\nrefs 3\n0 0 0\n1 0 0\n2 0 0\nkids 0\n";
  const std::string cut = object.substr(0, object.size() - 20);  // inside the references
  const fs::path path = Write("cut.ac", "AC3Db\nOBJECT world\nkids 2\n" + object + cut);
  std::string failure, out;
  auto scene = CapturedImport(path, ImportOptions::Defaults(ModelFormat::FmtAC3D), failure, out);
  ASSERT_TRUE(scene) << failure;
  EXPECT_EQ(CountMeshes(*scene), 1);
}

TEST_F(ImporterTest, ATruncatedPlyKeepsItsWholeFaces) {
  const fs::path ant = fs::path(VERMELLE_CORPUS_DIR) / "ply/assimp-nonbsd/ant-half.ply";
  if (!fs::exists(ant)) GTEST_SKIP() << "no corpus";
  std::string failure, out;
  auto scene = CapturedImport(ant, options_, failure, out);
  ASSERT_TRUE(scene) << failure;
  EXPECT_NE(out.find("259 of 912 faces"), std::string::npos) << out;
  int64_t triangles = 0;
  for (const QXPck* mesh = scene->meshes; mesh; mesh = mesh->next) triangles += ForEachFan(*mesh, 0, [](const Fan&) {});
  EXPECT_EQ(triangles, 259);
}

// LDraw's y axis points down: the import turns the scene twice about X,
// around the centre of its box.
TEST_F(ImporterTest, LDrawModelsEndTurnedTwiceAboutX) {
  const fs::path path = Write("tilted.ldr", "3 16 0 0 0 1 0 0 0 1 2\n");
  ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtLDraw);
  options.ldrawDir = (dir_ / "nolibrary").string();
  std::string failure, out;
  auto scene = CapturedImport(path, options, failure, out);
  ASSERT_TRUE(scene && scene->roots && scene->roots->matrix) << failure;
  std::set<std::array<float, 3>> corners;
  for (Vector p : OnlyTriangle(*scene->roots->mesh)) {
    const Vector q = TransformPoint(scene->roots->matrix->values, p);
    const auto near = [](float x) { return std::round(x * 1e4f) / 1e4f; };  // the turns round a little
    corners.insert({near(q.x), near(q.y), near(q.z)});
  }
  // (x, y, z) -> (x, 1 - y, 2 - z) about the box centre (0.5, 0.5, 1).
  EXPECT_EQ(corners, (std::set<std::array<float, 3>>{{0, 1, 2}, {1, 1, 2}, {0, 0, 0}}));
}

// A mesh as the builder left it: N, S, then every position and ring.
std::vector<float> Shape(const QXPck& mesh) {
  std::vector<float> shape{float(mesh.vertexCount), float(mesh.splitIndex)};
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    const Vector p = mesh.vertices[v].position;
    shape.insert(shape.end(), {p.x, p.y, p.z});
    for (uint32_t a : mesh.Record(v).RingSpan()) shape.push_back(float(a));
  }
  return shape;
}

using Triangles = std::vector<std::array<Vector, 3>>;

// Built through the importer, which makes the builder from the options.
std::vector<float> ImportedShape(const ImportOptions& options, const Triangles& triangles) {
  QXScene scene;
  Importer importer(options, scene, {});
  for (const auto& t : triangles) importer.AddTriangle(nullptr, t[0], t[1], t[2]);
  importer.EndObject(nullptr);
  return scene.meshes ? Shape(*scene.meshes) : std::vector<float>{};
}

// Built by a quadric builder set up by hand, triangles turned as the importer
// turns them.
std::vector<float> BuiltShape(const QuadricOptions& quadric, int degreeLimit, float level, const Triangles& triangles) {
  QuadricBuilder builder(quadric);
  builder.degreeLimit = degreeLimit;
  builder.dependencyLimit = 16;
  for (const auto& t : triangles) builder.AddTriangle(t[0], t[2], t[1], 0);
  const auto meshes = builder.Build(level, 1, {});
  return meshes.empty() ? std::vector<float>{} : Shape(*meshes.front());
}

// Two grids of 4 × 4 squares side by side, 0.02 apart: with pair contraction
// on a grid, corners across the gap are near enough to merge.
Triangles TwoPatches() {
  Triangles triangles;
  for (float offset : {0.0f, 4.02f})
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        const float x = offset + i, y = float(j), z = 0.01f * float((i * 7 + j * 3) % 5);
        const Vector a{x, y, z}, b{x + 1, y, z}, c{x + 1, y + 1, z}, d{x, y + 1, z};
        triangles.push_back({a, b, c});
        triangles.push_back({a, c, d});
      }
  return triangles;
}

TEST_F(ImporterTest, AStoredGridFactorOfZeroBuildsAsATenth) {
  const Triangles patches = TwoPatches();
  QuadricOptions tenth, none;
  tenth.contractionThreshold = 0.1f;
  none.contractionThreshold = 0;
  ASSERT_NE(BuiltShape(tenth, 64, 0.5f, patches), BuiltShape(none, 64, 0.5f, patches)) << "the patches tell them apart";
  ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtPLY);
  options.metric = 2;
  options.simplificationLevel = 0.5f;
  options.gridFactor = 0;
  EXPECT_EQ(ImportedShape(options, patches), BuiltShape(tenth, 64, 0.5f, patches));
}

TEST_F(ImporterTest, SelfIncludingLDrawFilesStop) {
  const fs::path path = Write("loop.ldr", "1 1 0 0 0 1 0 0 0 1 0 0 0 1 loop.ldr\n3 1 0 0 0 1 0 0 0 1 0\n");
  for (bool single : {false, true}) {
    ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtLDraw);
    options.singleObj = single;
    options.ldrawDir = (dir_ / "nolibrary").string();
    auto scene = ImportModel(path.string(), options);
    ASSERT_TRUE(scene) << single;
    EXPECT_NE(scene->meshes, nullptr) << "the file's own triangle is imported";
  }
}

}  // namespace
}  // namespace qx
