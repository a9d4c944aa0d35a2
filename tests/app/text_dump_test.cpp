// The text dump beside a saved scene: a hand-made scene dumped to a file and
// compared with its expected text, and the file written in one go.
#include "app/text_dump.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/fan/fan_test_mesh.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using testing_fan::BuildFanMesh;
using testing_fan::BuildTetraMesh;
using testing_fan::Triangle;

// One triangle 1, 2, 3, all of it base mesh (N = 4, S = 1).
QXPck* NewTriangleMesh() {
  auto* mesh = new QXPck;
  const Triangle triangles[] = {{1, 2, 3, 0}};
  BuildFanMesh(*mesh, 4, triangles);
  mesh->splitIndex = 1;
  mesh->baseCount = 3;
  mesh->vertices[1].position = {1, 0, 0};
  mesh->vertices[2].position = {0, 1, 0};
  mesh->vertices[3].position = {0, 0, 1};
  return mesh;
}

// Meshes added empty, triangle, tetrahedron, so the mesh list (newest first)
// is tetrahedron, triangle, empty; the roots are added in the opposite order
// so that a dump following the hierarchy would show.
void BuildScene(QXScene& scene) {
  auto* empty = new QXPck;
  QXPck* triangle = NewTriangleMesh();
  auto* tetra = new QXPck;
  BuildTetraMesh(*tetra);
  *tetra->records[2].Metrics() = {1.5f, 0.25f, 2.0f, 0.5f};
  for (QXPck* mesh : {empty, triangle, tetra}) scene.AddMesh(mesh);
  for (QXPck* mesh : {tetra, triangle, empty}) scene.AddRoot(mesh, nullptr);
}

const std::string kZeros = "[0.000000,0.000000,0.000000,0.000000]";
const std::string kSceneDump =
    "\n\nMesh 0 {\n6,2"
    "\n[5] \t{0.000000,0.000000,0.500000}" + kZeros +
    "\n[4] \t{0.000000,1.000000,0.000000}" + kZeros +
    "\n[3] (1,{5,4})\t{1.000000,0.000000,0.000000}" + kZeros +
    "\n[2] (0,{3,4,5,3})\t{0.000000,0.000000,1.000000}[1.500000,0.250000,2.000000,0.500000]"
    "\n[1] (0,{3,5,4,3})\t{0.250000,0.250000,0.250000}" + kZeros +
    "\n}"
    "\n\nMesh 1 {\n4,1"
    "\n[3] \t{0.000000,0.000000,1.000000}" + kZeros +
    "\n[2] \t{0.000000,1.000000,0.000000}" + kZeros +
    "\n[1] (0,{2,3})\t{1.000000,0.000000,0.000000}" + kZeros +
    "\n}"
    "\n\nMesh 2 {\n0,0"
    "\n}";

class TextDump : public testing::Test {
 protected:
  ScratchFolder folder_;
  const fs::path& dir_ = folder_.Path();
};

TEST_F(TextDump, DumpsTheMeshListInOrderEachMeshWhole) {
  QXScene scene;
  BuildScene(scene);
  const fs::path path = dir_ / "a.txt";
  // A longer file already there is replaced as a whole.
  std::ofstream(path) << std::string(10000, 'x');
  ASSERT_TRUE(WriteTextDump(path.string(), scene));
  EXPECT_EQ(ReadWholeFile(path), kSceneDump);
}

TEST_F(TextDump, SceneWithoutMeshesGivesAnEmptyFile) {
  QXScene scene;
  const fs::path path = dir_ / "empty.txt";
  ASSERT_TRUE(WriteTextDump(path.string(), scene));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(TextDump, UnwritableTargetWritesNothing) {
  QXScene scene;
  BuildScene(scene);
  std::ofstream(dir_ / "plain") << "x";
  EXPECT_FALSE(WriteTextDump((dir_ / "plain" / "a.txt").string(), scene));
  fs::create_directory(dir_ / "taken.txt");
  EXPECT_FALSE(WriteTextDump((dir_ / "taken.txt").string(), scene));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken.txt"));
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 2) << "no temporary file left behind";
}

}  // namespace
}  // namespace qx
