#include "bench/timed_work.h"

#include <time.h>

#include <chrono>

#include "fan/fan_walk.h"
#include "fan/quadric_builder.h"
#include "fan/volume_builder.h"
#include "import/import_options.h"
#include "import/import_sink.h"
#include "import/ply_reader.h"
#include "import/stl_reader.h"

namespace qx::bench {
namespace {

// Passes triangles to a builder the way the importer does: the PLY front's
// in file order, the sink's (counter-clockwise) ones turned round.
class BuilderFeed final : public TriangleCollector, public ImportSink {
 public:
  explicit BuilderFeed(FanBuilder& builder) : builder_(builder) {}
  void AddTriangle(Vector p0, Vector p1, Vector p2, QXMaterial* /*group*/) override {
    builder_.AddTriangle(p0, p1, p2, 0);
  }
  void Clear() override { builder_.Reset(); }
  bool AddTriangle(QXMaterial* /*material*/, Vector p0, Vector p1, Vector p2) override {
    builder_.AddTriangle(p0, p2, p1, 0);
    return true;
  }

 private:
  FanBuilder& builder_;
};

Vector Corner(const IndexedMesh& mesh, size_t corner) {
  const float* p = &mesh.positions[3 * size_t{mesh.indices[corner]}];
  return {p[0], p[1], p[2]};
}

}  // namespace

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<FanBuilder> MakeDefaultBuilder(int metric) {
  const ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtPLY);
  std::unique_ptr<FanBuilder> builder;
  if (metric == 1) {
    QuadricOptions quadric;
    quadric.pairContraction = false;
    quadric.contractionThreshold = 0.1f;
    quadric.meshQuality = options.meshQuality;
    quadric.preserveBoundary = options.checkBounds;
    builder = std::make_unique<QuadricBuilder>(quadric);
  } else {
    builder = std::make_unique<VolumeBuilder>();
  }
  builder->degreeLimit = BuilderDegreeLimit(options.maxDegree);
  builder->dependencyLimit = BuilderDependencyLimit(options.maxDependencies);
  return builder;
}

int64_t ImportPly(const std::string& path) {
  std::unique_ptr<FanBuilder> builder = MakeDefaultBuilder(1);
  BuilderFeed feed(*builder);
  ReadPlyFile(path.c_str(), feed, PlyReadOptions{});
  return builder->VertexCount();
}

int64_t ImportStl(const std::string& path) {
  std::unique_ptr<FanBuilder> builder = MakeDefaultBuilder(1);
  BuilderFeed feed(*builder);
  ReadStl(path, feed);
  return builder->VertexCount();
}

void FeedBuilder(const IndexedMesh& mesh, FanBuilder& builder) {
  for (size_t t = 0; t < mesh.TriangleCount(); ++t)
    builder.AddTriangle(Corner(mesh, 3 * t), Corner(mesh, 3 * t + 1), Corner(mesh, 3 * t + 2), 0);
}

int64_t BuildDefault(FanBuilder& builder) {
  const ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtPLY);
  std::vector<std::unique_ptr<QXPck>> meshes = builder.Build(options.simplificationLevel, options.model, {});
  int64_t triangles = 0;
  for (const auto& mesh : meshes)
    triangles += ForEachFan(*mesh, std::max(mesh->splitIndex - 1, 0), [](const Fan&) {});
  return triangles;
}

std::vector<const QXPck*> MeshesOf(const QXScene& scene) {
  std::vector<const QXPck*> meshes;
  for (const QXPck* mesh = scene.meshes; mesh != nullptr; mesh = mesh->next) meshes.push_back(mesh);
  return meshes;
}

int32_t LevelAt(const QXPck& mesh, double fraction) {
  return static_cast<int32_t>(fraction * std::max(mesh.splitIndex - 1, 0));
}

int64_t WalkFans(const std::vector<const QXPck*>& meshes, double fraction, uint64_t& checksum) {
  int64_t triangles = 0;
  for (const QXPck* mesh : meshes)
    triangles += ForEachFan(*mesh, LevelAt(*mesh, fraction), [&checksum](const Fan& fan) {
      for (int i = fan.start + 1; i <= fan.end; ++i) checksum += fan.centre ^ fan.Corner1(i) ^ fan.Corner2(i);
    });
  return triangles;
}

int64_t CollectAll(const std::vector<const QXPck*>& meshes, double fraction, std::vector<uint16_t>& buffer) {
  int64_t triangles = 0;
  for (const QXPck* mesh : meshes) {
    VertexIndex resume = 0;
    do triangles += CollectTriangles(*mesh, LevelAt(*mesh, fraction), resume, buffer);
    while (resume < mesh->vertexCount);
  }
  return triangles;
}

}  // namespace qx::bench
