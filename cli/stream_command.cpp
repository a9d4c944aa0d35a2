#include "cli/stream_command.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "scene/progressive_loader.h"
#include "scene/rate_table.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long long kDefaultEveryMs = 500;
// How often the first shown triangle is looked for between report lines.
constexpr auto kSamplePeriod = std::chrono::milliseconds(5);

struct StreamOptions {
  std::string path;
  int32_t rate = kLineRates.back().bytesPerSecond;
  long long everyMs = kDefaultEveryMs;
};

constexpr OptionSpec kOptions[] = {
    {"rate", "BYTES_PER_S", "the emulated line speed in bytes per second",
     [] { return std::to_string(StreamOptions{}.rate) + ", the fastest entry's"; }},
    {"entry", "K", "the line speed as entry K of the open dialog's table (0 is the slowest)",
     [] { return std::to_string(kLineRates.size() - 1) + ", the fastest"; }},
    {"every", "MS", "milliseconds between report lines", [] { return std::to_string(kDefaultEveryMs); }},
};

// Fills `options`; returns an error message, empty on success.
std::string ParseOptions(int argc, const char* const* argv, StreamOptions& options) {
  Arguments args(argc, argv, kOptions);
  long long rate = 0, entry = -1;
  if (!args.Integer("rate", rate) || !args.Integer("entry", entry) || !args.Integer("every", options.everyMs) ||
      !args.Error().empty())
    return args.Error();
  if (args.Positional().size() != 1) return "stream needs exactly one scene FILE";
  if (args.Has("rate") && args.Has("entry")) return "give --rate or --entry, not both";
  options.path = args.Positional()[0];
  if (args.Has("rate")) {
    if (rate < 1 || rate > INT32_MAX) return "--rate must be at least 1 byte per second";
    options.rate = static_cast<int32_t>(rate);
  }
  if (args.Has("entry")) {
    if (entry < 0 || entry >= static_cast<long long>(kLineRates.size()))
      return "--entry must be 0 to " + std::to_string(kLineRates.size() - 1);
    options.rate = kLineRates[static_cast<size_t>(entry)].bytesPerSecond;
  }
  if (options.everyMs < 1) return "--every must be at least 1 ms";
  return "";
}

struct MeshSample {
  int32_t decoded;
  int32_t total;
  int64_t triangles;
};

// What a frame would draw now: each mesh walked at level 0 under its lock.
std::vector<MeshSample> SampleMeshes(const QXScene* scene) {
  std::vector<MeshSample> samples;
  if (!scene || !scene->structureReady) return samples;
  for (QXPck* mesh = scene->meshes; mesh; mesh = mesh->next) {
    mesh->Lock();
    samples.push_back({mesh->vertexCount - mesh->pendingCount, mesh->vertexCount,
                       ForEachFan(*mesh, 0, [](const Fan&) {})});
    mesh->Unlock();
  }
  return samples;
}

bool AnyTriangle(const std::vector<MeshSample>& samples) {
  for (const MeshSample& sample : samples)
    if (sample.triangles > 0) return true;
  return false;
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void PrintLine(long long elapsedMs, const ProgressiveLoader& loader, const std::vector<MeshSample>& samples) {
  const QXScene* scene = loader.Scene();
  const float percent = scene ? 100.0f * scene->progress : 0.0f;
  std::printf("%8lld ms %10llu bytes %6.1f%%", elapsedMs, static_cast<unsigned long long>(loader.BytesFed()),
              static_cast<double>(percent));
  for (size_t i = 0; i < samples.size(); ++i)
    std::printf(" | mesh %zu: %d/%d vertices, %lld triangles", i, samples[i].decoded, samples[i].total,
                static_cast<long long>(samples[i].triangles));
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

const CommandSpec kStreamCommand = {
    "stream",
    "FILE [--rate BYTES_PER_S | --entry K] [--every MS]",
    "Loads a scene file progressively as the editor's Open does at an emulated line speed and\n"
    "reports at each interval what a window would show; then the time to the first triangle and\n"
    "the total time.\n",
    kOptions,
    "qxtool stream bunny.qxz --entry 3 --every 250",
    RunStreamCommand,
};

int RunStreamCommand(int argc, const char* const* argv) {
  StreamOptions options;
  if (const std::string error = ParseOptions(argc, argv, options); !error.empty())
    return UsageError("stream", error);

  ProgressiveLoader loader;
  const Clock::time_point start = Clock::now();
  if (!loader.LoadFile(options.path, options.rate)) return Fail(options.path + ": cannot be read");
  std::printf("\n");
  const std::chrono::milliseconds every(options.everyMs);
  Clock::time_point nextLine = start + every;
  std::optional<long long> firstTriangleMs;
  while (loader.Feeding()) {
    std::this_thread::sleep_until(std::min(nextLine, Clock::now() + kSamplePeriod));
    const std::vector<MeshSample> samples = SampleMeshes(loader.Scene());
    if (!firstTriangleMs && AnyTriangle(samples)) firstTriangleMs = MillisecondsSince(start);
    if (Clock::now() >= nextLine) {
      PrintLine(MillisecondsSince(start), loader, samples);
      nextLine += every;
    }
  }
  loader.WaitForLoad();
  const long long totalMs = MillisecondsSince(start);
  const std::vector<MeshSample> samples = SampleMeshes(loader.Scene());
  if (!firstTriangleMs && AnyTriangle(samples)) firstTriangleMs = totalMs;
  PrintLine(totalMs, loader, samples);
  if (!loader.Scene()) return Fail(options.path + ": not a scene file");
  if (firstTriangleMs)
    std::printf("first triangle: %lld ms\n", *firstTriangleMs);
  else
    std::printf("first triangle: none\n");
  std::printf("total: %lld ms\n", totalMs);
  return 0;
}

}  // namespace qx
