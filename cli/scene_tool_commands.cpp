// qxtool compact IN -o OUT [--bits N]
// qxtool occlusion IN -o OUT [--mode objects|orientation|faces] [--iterations N]
//                  [--colors N] [--regular] [--size N] [--bits N]
//
// Both load a scene file, run the editor's scene tool on it and save the
// result, printing what was removed (nodes, meshes, faces) and the time the
// tool took. occlusion draws offscreen (OSMesa) into a square of --size
// pixels (default 512): objects/orientation remove the objects that stay
// selected ("Remove selected"), faces rebuilds the meshes from the faces
// seen and compacts the scene. The output is packed unless it ends in .qx4;
// positions are stored with --bits N of precision (default 15; 0 keeps the
// exact positions).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "common/settings.h"
#include "fan/fan_walk.h"
#include "platform/osmesa_surface.h"
#include "scene/scene_commands.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "tools/occlusion.h"
#include "tools/scene_tools.h"

namespace qx {
namespace {

constexpr long long kDefaultSize = 512;
constexpr long long kMaxSize = 8192;

// The size of a scene as the tools report it: node instances (the nodes of
// the hierarchy unfolded into a tree), meshes and their triangles.
struct SceneSize {
  int64_t nodes = 0;
  int64_t meshes = 0;
  int64_t faces = 0;
};

int64_t CountInstances(const QXHier* first, int depth, int64_t budget) {
  int64_t count = 0;
  for (const QXHier* node = first; node && count < budget && depth < 1000; node = node->nextSibling)
    count += 1 + CountInstances(node->firstChild, depth + 1, budget - count - 1);
  return count;
}

SceneSize MeasureScene(const QXScene& scene) {
  SceneSize size;
  size.nodes = CountInstances(scene.roots, 0, kMaxUnitizedNodes);
  for (const QXPck* mesh = scene.meshes; mesh; mesh = mesh->next) {
    ++size.meshes;
    size.faces += ForEachFan(*mesh, 0, [](const Fan&) {});
  }
  return size;
}

void PrintRemoved(const SceneSize& before, const SceneSize& after, std::chrono::steady_clock::duration time) {
  std::printf("removed %lld nodes, %lld meshes, %lld faces (nodes %lld -> %lld, meshes %lld -> %lld, "
              "faces %lld -> %lld)\ntime: %.3f s\n",
              static_cast<long long>(before.nodes - after.nodes), static_cast<long long>(before.meshes - after.meshes),
              static_cast<long long>(before.faces - after.faces), static_cast<long long>(before.nodes),
              static_cast<long long>(after.nodes), static_cast<long long>(before.meshes),
              static_cast<long long>(after.meshes), static_cast<long long>(before.faces),
              static_cast<long long>(after.faces), std::chrono::duration<double>(time).count());
  std::fflush(stdout);
}

// The input scene and output path of either command; none after a message.
struct ToolJob {
  std::unique_ptr<QXScene> scene;
  std::string output;
  SaveDialogSettings save;
};

std::optional<ToolJob> OpenJob(Arguments& args, const char* command) {
  if (!args.Error().empty()) return Fail(args.Error()), std::nullopt;
  if (args.Positional().size() != 1 || !args.Has("output"))
    return Fail(std::string(command) + " needs a scene file IN and -o OUT"), std::nullopt;
  ToolJob job;
  long long bits = job.save.bitsError;
  if (!args.Integer("bits", bits)) return Fail(args.Error()), std::nullopt;
  if (bits < 0 || bits > 32) return Fail("--bits takes 0 to 32"), std::nullopt;
  job.save.bitsError = static_cast<int>(bits);
  job.save.useZLib = std::filesystem::path(*args.Value("output")).extension() != ".qx4";
  job.output = *args.Value("output");
  const std::string& input = args.Positional()[0];
  job.scene = LoadScene(input);
  if (!job.scene) return Fail(input + ": cannot be opened or holds no scene"), std::nullopt;
  return job;
}

int SaveJob(ToolJob& job) {
  ApplySaveSettings(job.save, *job.scene);
  if (!SaveScene(*job.scene, job.output, job.save.useZLib))
    return Fail(job.output + ": the scene could not be written");
  return 0;
}

bool ReadOcclusionOptions(Arguments& args, OcclusionOptions& options, long long& size) {
  long long iterations = options.iterations, colours = options.colours;
  if (!args.Integer("iterations", iterations) || !args.Integer("colors", colours) || !args.Integer("size", size))
    return Fail(args.Error()), false;
  if (iterations < 1 || iterations > 1 << 20 || colours < 1 || colours > 1 << 24 || size < 1 || size > kMaxSize)
    return Fail("--iterations takes 1 to 2^20, --colors 1 to 2^24, --size 1 to 8192"), false;
  static const std::map<std::string, OcclusionMode> kModes = {{"objects", OcclusionMode::kObjects},
                                                              {"orientation", OcclusionMode::kOrientation},
                                                              {"faces", OcclusionMode::kFaces}};
  if (const auto word = args.Value("mode")) {
    const auto it = kModes.find(*word);
    if (it == kModes.end()) return Fail("--mode takes objects, orientation or faces"), false;
    options.mode = it->second;
  }
  options.iterations = static_cast<int>(iterations);
  options.colours = static_cast<int>(colours);
  options.regular = args.Has("regular");
  return true;
}

}  // namespace

int RunCompactCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, {"output", "bits"}, {});
  std::optional<ToolJob> job = OpenJob(args, "compact");
  if (!job) return 1;
  const SceneSize before = MeasureScene(*job->scene);
  const auto start = std::chrono::steady_clock::now();
  Compact(*job->scene);
  PrintRemoved(before, MeasureScene(*job->scene), std::chrono::steady_clock::now() - start);
  return SaveJob(*job);
}

int RunOcclusionCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, {"output", "bits", "mode", "iterations", "colors", "size"}, {"regular"});
  OcclusionOptions options;
  long long size = kDefaultSize;
  std::optional<ToolJob> job = OpenJob(args, "occlusion");
  if (!job || !ReadOcclusionOptions(args, options, size)) return 1;
  OsMesaSurface surface(static_cast<int>(size), static_cast<int>(size));
  if (!surface.CreateContext()) return Fail("no OpenGL context for the analysis");
  QXScene& scene = *job->scene;
  const SceneSize before = MeasureScene(scene);
  const auto start = std::chrono::steady_clock::now();
  const OcclusionResult result = FindOccluded(scene, options, surface);
  if (result.tooLarge) return Fail("the scene is too large for the analysis");
  if (!result.ran) return Fail("the analysis could not run (no colours could be drawn)");
  if (options.mode == OcclusionMode::kFaces)
    Compact(scene);
  else
    RemoveSelected(scene);
  const auto time = std::chrono::steady_clock::now() - start;
  std::printf("\n%d directions, %d colours, %d batches, %lld triangles in the scene's instances\n",
              result.directions, result.tableSize, result.batches, static_cast<long long>(result.trianglesDrawn));
  PrintRemoved(before, MeasureScene(scene), time);
  return SaveJob(*job);
}

}  // namespace qx
