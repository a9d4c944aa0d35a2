// The benchmark program: times import, build, encode, decode and the walks
// on every model beside the peers, then prints one table with the sizes, the
// peak memory of the command-line tool and the targets.
//
//   vermelle_bench --work=DIR [--corpus=DIR] [--table=FILE] [benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/model_set.h"
#include "bench/peers.h"
#include "bench/report.h"
#include "bench/timed_work.h"
#include "fan/mesh_packer.h"
#include "scene/scene_file.h"
#include "stream/registry.h"

namespace qx::bench {
namespace {

// Heavy work runs once per measurement on the million-triangle mesh and more
// often on the smaller ones, up to about two million triangles' worth, so
// that their times are not one or two slices of a noisy machine.
int64_t HeavyIterations(const BenchModel& model) {
  return std::max<int64_t>(1, std::min<int64_t>(20, 2'000'000 / std::max<int64_t>(model.fullTriangles, 1)));
}

void SetTriangles(benchmark::State& state, int64_t triangles) {
  state.counters["triangles"] = static_cast<double>(triangles);
  state.counters["tri/s"] = benchmark::Counter(static_cast<double>(triangles), benchmark::Counter::kIsIterationInvariantRate);
}

void RegisterImport(const BenchModel& model) {
  const auto name = model.name;
  benchmark::RegisterBenchmark(("import-ply/" + name).c_str(), [&model](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ImportPly(model.ply));
    SetTriangles(state, static_cast<int64_t>(model.mesh.TriangleCount()));
  })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("import-stl/" + name).c_str(), [&model](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ImportStl(model.stl));
    SetTriangles(state, static_cast<int64_t>(model.mesh.TriangleCount()));
  })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond);
}

// Our build and, right after it, the peer on the same triangle budget.
void RegisterBuild(const BenchModel& model) {
  for (int metric : {1, 0}) {
    const std::string label = metric == 1 ? "build-quadric/" : "build-volume/";
    benchmark::RegisterBenchmark((label + model.name).c_str(), [&model, metric](benchmark::State& state) {
      int64_t base = 0;
      for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<FanBuilder> builder = MakeDefaultBuilder(metric);
        FeedBuilder(model.mesh, *builder);
        state.ResumeTiming();
        base = BuildDefault(*builder);
      }
      state.counters["base-triangles"] = static_cast<double>(base);
    })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();  // helper threads count
  }
  if (!HaveMeshopt()) return;
  benchmark::RegisterBenchmark(("peer-meshopt-simplify/" + model.name).c_str(), [&model](benchmark::State& state) {
    std::vector<uint32_t> result;
    size_t reached = 0;
    for (auto _ : state) reached = MeshoptSimplify(model.mesh, static_cast<size_t>(model.baseTriangles), result);
    state.counters["base-triangles"] = static_cast<double>(reached);
  })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
}

void SetVertexRate(benchmark::State& state, const BenchModel& model) {
  state.counters["vert/s"] =
      benchmark::Counter(static_cast<double>(model.vertices), benchmark::Counter::kIsIterationInvariantRate);
}

// The slower of two runs in a row is often the one a neighbour on this
// shared machine disturbed, so the dense coders are compared with the
// default ones in pairs, one of each per iteration, each side's fastest run
// against the other's. Reported as counters in milliseconds.
constexpr int kPairedRuns = 7;

template <class Work>
double Timed(double (*clock)(), Work&& work) {
  const double start = clock();
  work();
  return clock() - start;
}

void RegisterDensePairs(const BenchModel& model) {
  const std::string dense = model.qxz + ".dense.qxz";
  int64_t stats[4];
  SaveWithCoders(model, kDenseCoders, 15, false, dense, stats);
  benchmark::RegisterBenchmark(("decode-pair/" + model.name).c_str(), [&model, dense](benchmark::State& state) {
    // The decoding thread's processor time, and the wall time, which also
    // waits for the file's inflation on a second thread.
    double classic = 1e9, ours = 1e9, classicWall = 1e9, oursWall = 1e9;
    const auto load = [](const std::string& path, double& cpu, double& wall) {
      const double wallStart = WallSeconds();
      cpu = std::min(cpu, Timed(ThreadCpuSeconds, [&] { benchmark::DoNotOptimize(LoadScene(path)); }));
      wall = std::min(wall, WallSeconds() - wallStart);
    };
    for (auto _ : state) {
      load(model.qxz, classic, classicWall);
      load(dense, ours, oursWall);
    }
    state.counters["classic-ms"] = classic * 1000;
    state.counters["dense-ms"] = ours * 1000;
    state.counters["classic-wall-ms"] = classicWall * 1000;
    state.counters["dense-wall-ms"] = oursWall * 1000;
  })->Iterations(kPairedRuns)->Unit(benchmark::kMillisecond);
  const std::string scratch = model.qxz + ".pair.qxz";
  benchmark::RegisterBenchmark(("encode-pair/" + model.name).c_str(), [&model, scratch](benchmark::State& state) {
    double classic = 1e9, ours = 1e9;
    int64_t bits[4];
    for (auto _ : state) {
      classic = std::min(classic, Timed(WallSeconds, [&] { SaveWithCoder(model, 3, 15, scratch, bits); }));
      ours = std::min(ours, Timed(WallSeconds, [&] { SaveWithCoders(model, kDenseCoders, 15, false, scratch, bits); }));
    }
    state.counters["classic-ms"] = classic * 1000;
    state.counters["dense-ms"] = ours * 1000;
  })->Iterations(kPairedRuns)->Unit(benchmark::kMillisecond);
}

void RegisterCoding(const BenchModel& model) {
  const std::string scratch = model.qxz + ".encode.qxz";
  benchmark::RegisterBenchmark(("encode/" + model.name).c_str(), [&model, scratch](benchmark::State& state) {
    int64_t stats[4];
    for (auto _ : state) benchmark::DoNotOptimize(SaveWithCoder(model, 3, 15, scratch, stats));
  })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("decode-direct/" + model.name).c_str(), [&model](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(LoadScene(model.qxz));
    SetVertexRate(state, model);
  })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond)->UseRealTime();  // inflates on a second thread
  RegisterDensePairs(model);
  benchmark::RegisterBenchmark(("decode-progressive/" + model.name).c_str(), [&model](benchmark::State& state) {
    SetProgressiveLoading(true);
    for (auto _ : state) benchmark::DoNotOptimize(LoadScene(model.qxz));
    SetProgressiveLoading(false);
    SetVertexRate(state, model);
  })->Iterations(HeavyIterations(model))->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Draco's own report of its coding time is what is compared (manual time);
// the wall time of the process, file writing included, rides along.
void RegisterDraco(const BenchModel& model) {
  if (!HaveDraco()) return;
  for (int quantisation : {11, 14}) {
    const std::string suffix = "-qp" + std::to_string(quantisation) + "/" + model.name;
    const std::string drc = model.ply + ".qp" + std::to_string(quantisation) + ".drc";
    benchmark::RegisterBenchmark(("peer-draco-encode" + suffix).c_str(), [&model, drc, quantisation](benchmark::State& state) {
      for (auto _ : state) {
        const ToolRun run = DracoEncode(model.ply, drc, quantisation);
        if (!run.ok) state.SkipWithError("draco_encoder failed");
        state.SetIterationTime(run.reportedSeconds >= 0 ? run.reportedSeconds : run.wallSeconds);
        state.counters["wall-ms"] = run.wallSeconds * 1000;
      }
    })->Iterations(HeavyIterations(model))->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("peer-draco-decode" + suffix).c_str(), [&model, drc](benchmark::State& state) {
      for (auto _ : state) {
        const ToolRun run = DracoDecode(drc, drc + ".ply");
        if (!run.ok) state.SkipWithError("draco_decoder failed");
        state.SetIterationTime(run.reportedSeconds >= 0 ? run.reportedSeconds : run.wallSeconds);
        state.counters["wall-ms"] = run.wallSeconds * 1000;
      }
      SetVertexRate(state, model);
    })->Iterations(HeavyIterations(model))->UseManualTime()->Unit(benchmark::kMillisecond);
  }
}

void RegisterWalks(const BenchModel& model) {
  const std::pair<const char*, double> levels[] = {{"L0", 0.0}, {"Lhalf", 0.5}, {"Lbase", 1.0}};
  for (const auto& [label, fraction] : levels) {
    benchmark::RegisterBenchmark((std::string("walk-fans-") + label + "/" + model.name).c_str(),
                                 [&model, f = fraction](benchmark::State& state) {
      const std::vector<const QXPck*> meshes = MeshesOf(*model.decoded);
      uint64_t checksum = 0;
      int64_t triangles = 0;
      for (auto _ : state) triangles = WalkFans(meshes, f, checksum);
      benchmark::DoNotOptimize(checksum);
      SetTriangles(state, triangles);
    })->Unit(benchmark::kMicrosecond)->MinTime(0.2);
    if (!model.fitsSixteenBits) continue;
    benchmark::RegisterBenchmark((std::string("walk-collect16-") + label + "/" + model.name).c_str(),
                                 [&model, f = fraction](benchmark::State& state) {
      const std::vector<const QXPck*> meshes = MeshesOf(*model.decoded);
      std::vector<uint16_t> buffer(3 * 65536);
      int64_t triangles = 0;
      for (auto _ : state) triangles = CollectAll(meshes, f, buffer);
      benchmark::DoNotOptimize(buffer.data());
      SetTriangles(state, triangles);
    })->Unit(benchmark::kMicrosecond)->MinTime(0.2);
  }
}

// Takes our own flags out of argv, leaving the benchmark library's.
std::string TakeFlag(int& argc, char** argv, const char* name) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) != 0) continue;
    std::string value = argv[i] + prefix.size();
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    return value;
  }
  return {};
}

}  // namespace
}  // namespace qx::bench

int main(int argc, char** argv) {
  using namespace qx::bench;
  std::string work = TakeFlag(argc, argv, "work");
  const std::string corpus = TakeFlag(argc, argv, "corpus");
  const std::string table = TakeFlag(argc, argv, "table");
  if (work.empty()) work = (std::filesystem::temp_directory_path() / "vermelle_bench").string();
  std::filesystem::create_directories(work);
  benchmark::Initialize(&argc, argv);
  qx::RegisterStandardClasses();

  const auto models = PrepareModels(work, corpus);
  for (const auto& model : models) {
    RegisterImport(*model);
    RegisterBuild(*model);
    RegisterCoding(*model);
    RegisterDraco(*model);
    RegisterWalks(*model);
  }
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return PrintSummary(models, reporter, table) ? 0 : 1;
}
