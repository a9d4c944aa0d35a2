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

// The status of a job that could not start: 2 for its command line, 1 for
// its input; 0 while it can go on.
std::optional<ToolJob> OpenJob(Arguments& args, const char* command, int& status) {
  status = kExitUsage;
  if (!args.Error().empty()) return UsageError(command, args.Error()), std::nullopt;
  if (args.Positional().size() != 1 || !args.Has("output"))
    return UsageError(command, std::string(command) + " needs a scene file IN and -o OUT"), std::nullopt;
  ToolJob job;
  long long bits = job.save.bitsError;
  if (!args.Integer("bits", bits)) return UsageError(command, args.Error()), std::nullopt;
  if (bits < 0 || bits > 32) return UsageError(command, "--bits takes 0 to 32"), std::nullopt;
  status = kExitFailure;
  job.save.bitsError = static_cast<int>(bits);
  job.save.useZLib = std::filesystem::path(*args.Value("output")).extension() != ".qx4";
  job.output = *args.Value("output");
  const std::string& input = args.Positional()[0];
  job.scene = LoadScene(input);
  if (!job.scene) return Fail(input + ": cannot be opened or holds no scene"), std::nullopt;
  status = 0;
  return job;
}

int SaveJob(ToolJob& job) {
  ApplySaveSettings(job.save, *job.scene);
  std::string failure;
  if (!SaveScene(*job.scene, job.output, job.save.useZLib, &failure)) return Fail(job.output + ": " + failure);
  return 0;
}

bool ReadOcclusionOptions(Arguments& args, OcclusionOptions& options, long long& size) {
  long long iterations = options.iterations, colours = options.colours;
  if (!args.Integer("iterations", iterations) || !args.Integer("colors", colours) || !args.Integer("size", size))
    return UsageError("occlusion", args.Error()), false;
  if (iterations < 1 || iterations > 1 << 20 || colours < 1 || colours > 1 << 24 || size < 1 || size > kMaxSize)
    return UsageError("occlusion", "--iterations takes 1 to 2^20, --colors 1 to 2^24, --size 1 to 8192"), false;
  static const std::map<std::string, OcclusionMode> kModes = {{"objects", OcclusionMode::kObjects},
                                                              {"orientation", OcclusionMode::kOrientation},
                                                              {"faces", OcclusionMode::kFaces}};
  if (const auto word = args.Value("mode")) {
    const auto it = kModes.find(*word);
    if (it == kModes.end()) return UsageError("occlusion", "--mode takes objects, orientation or faces"), false;
    options.mode = it->second;
  }
  options.iterations = static_cast<int>(iterations);
  options.colours = static_cast<int>(colours);
  options.regular = args.Has("regular");
  return true;
}

constexpr OptionSpec kCompactOptions[] = {
    {"output", "OUT", "the scene file to write (.qx4: plain, else packed)"},
    {"bits", "N", "quantisation bits of the positions written, 0 (none) to 32",
     [] { return std::to_string(SaveDialogSettings{}.bitsError); }},
};

constexpr OptionSpec kOcclusionOptions[] = {
    {"output", "OUT", "the scene file to write (.qx4: plain, else packed)"},
    {"bits", "N", "quantisation bits of the positions written, 0 (none) to 32",
     [] { return std::to_string(SaveDialogSettings{}.bitsError); }},
    {"mode", "objects|orientation|faces", "remove hidden objects, objects seen only from behind, or hidden faces",
     [] { return std::string("objects"); }},
    {"iterations", "N", "directions: the largest square k² not above N", [] { return std::to_string(OcclusionOptions{}.iterations); }},
    {"colors", "N", "colours per batch", [] { return std::to_string(OcclusionOptions{}.colours); }},
    {"regular", nullptr, "regular directions instead of random ones (seeded, so runs repeat)"},
    {"size", "N", "side of the analysis picture in pixels", [] { return std::to_string(kDefaultSize); }},
};

}  // namespace

const CommandSpec kCompactCommand = {
    "compact",
    "IN -o OUT [options]",
    "Compacts a scene file as the editor's Compact Scene does: drops inherited materials and empty nodes,\n"
    "frees what no node uses, turns the hierarchy into a tree and merges equal siblings.\n",
    kCompactOptions,
    "qxtool compact car.qxz -o car-compact.qxz",
    RunCompactCommand,
};

const CommandSpec kOcclusionCommand = {
    "occlusion",
    "IN -o OUT [options]",
    "Finds what cannot be seen from outside by drawing the scene offscreen from many directions, then\n"
    "removes the hidden objects (and compacts) or rebuilds the meshes from their visible faces.\n",
    kOcclusionOptions,
    "qxtool occlusion house.qxz -o house-shell.qxz --mode faces --iterations 400",
    RunOcclusionCommand,
};

int RunCompactCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, kCompactOptions);
  int status = 0;
  std::optional<ToolJob> job = OpenJob(args, "compact", status);
  if (!job) return status;
  const SceneSize before = MeasureScene(*job->scene);
  const auto start = std::chrono::steady_clock::now();
  Compact(*job->scene);
  PrintRemoved(before, MeasureScene(*job->scene), std::chrono::steady_clock::now() - start);
  return SaveJob(*job);
}

int RunOcclusionCommand(int argc, const char* const* argv) {
  Arguments args(argc, argv, kOcclusionOptions);
  OcclusionOptions options;
  long long size = kDefaultSize;
  int status = 0;
  std::optional<ToolJob> job = OpenJob(args, "occlusion", status);
  if (!job) return status;
  if (!ReadOcclusionOptions(args, options, size)) return kExitUsage;
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
