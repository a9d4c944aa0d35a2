// Inputs the fuzzers found faults with, each kept under tests/data/<area>/
// and named after what it exercised, and read back here with the result the
// fixed code gives.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fan/pck.h"
#include "fan/volume_builder.h"
#include "import/import_options.h"
#include "import/importer.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"

namespace qx {
namespace {

std::string DataFile(const std::string& area, const std::string& name) {
  return std::string(VERMELLE_REGRESSION_DATA_DIR) + "/" + area + "/" + name;
}

class Registered : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
};

// The largest ring any record of the meshes holds.
int LargestRing(const std::vector<const QXPck*>& meshes) {
  int largest = 0;
  for (const QXPck* mesh : meshes)
    for (VertexIndex v = 0; v < mesh->vertexCount; ++v)
      largest = std::max(largest, static_cast<int>(mesh->Record(v).RingSpan().size()));
  return largest;
}

std::vector<const QXPck*> MeshesOf(const QXScene& scene) {
  std::vector<const QXPck*> meshes;
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) meshes.push_back(mesh);
  return meshes;
}

// Triangles that share only one point need a gap link after each of them in
// that point's ring: a few hundred of them overflowed the 255 positions of a
// fan record, and the builder ended the program.
TEST(BuilderRegression, TrianglesSharingOnlyAPointFitTheirRecords) {
  VolumeBuilder builder;
  for (int i = 0; i < 300; ++i) {
    const float angle = 0.02f * static_cast<float>(i);
    const Vector outer{std::cos(angle), std::sin(angle), 0};
    const Vector further{1.5f * std::cos(angle + 0.01f), 1.5f * std::sin(angle + 0.01f), 0.1f};
    builder.AddTriangle({0, 0, 0}, outer, further, 0);
  }
  const auto built = builder.Build(0.1f, kStrategyStandard, nullptr);
  std::vector<const QXPck*> meshes;
  for (const auto& mesh : built) meshes.push_back(mesh.get());
  ASSERT_FALSE(meshes.empty());
  EXPECT_LT(LargestRing(meshes), 256);
}

TEST_F(Registered, LwoWhoseRingsHaveManyGapsImportsAndSaves) {
  ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtLWO);
  options.simplificationLevel = 0.1f;
  std::unique_ptr<QXScene> scene = ImportModel(DataFile("import", "lwo_ring_with_gaps_overflowing_a_record.lwo"), options);
  ASSERT_NE(scene, nullptr);
  const std::vector<const QXPck*> meshes = MeshesOf(*scene);
  ASSERT_FALSE(meshes.empty());
  EXPECT_LT(LargestRing(meshes), 256);
  // The records the builder cut up must also survive the coders.
  std::unique_ptr<QXScene> decoded = DecodeScene(EncodeScene(*scene));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(MeshesOf(*decoded).size(), meshes.size());
}

}  // namespace
}  // namespace qx
