#include "bench/report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <zlib.h>

#include "bench/peers.h"

#ifndef VERMELLE_QXTOOL
#define VERMELLE_QXTOOL "qxtool"
#endif

namespace qx::bench {
namespace {

// Decoding must reach this many vertices per second.
constexpr double kDecodeVerticesPerSecond = 5e6;
// Building may take at most this many times the peer simplifier.
constexpr double kBuildRatio = 4.0;
constexpr double kConvertMemoryKiB = 1024.0 * 1024.0;
// The dense coders: at most 1.5 times Draco's bytes, encoding at most 1.2
// times as long as the default coders.
constexpr double kDenseSizeRatio = 1.5;
constexpr double kDenseEncodeRatio = 1.2;
// 56 kbit/s.
constexpr double kModemBytesPerSecond = 7000;

struct Row {
  std::string model, measure, ours, peer, ratio, target;
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Milliseconds(double seconds) { return Format("%.1f ms", seconds * 1000); }

class Summary {
 public:
  Summary(const CollectingReporter& results, std::vector<Row>& rows) : results_(results), rows_(rows) {}

  void AddModel(const BenchModel& model) {
    AddTimes(model);
    AddBuild(model);
    AddDecode(model);
    AddSizes(model);
    AddLevels(model);
    AddMemory(model);
  }
  bool AllHold() const { return allHold_; }

 private:
  const CollectingReporter::Result* Find(const std::string& name, const BenchModel& model) const {
    return results_.Find(name + "/" + model.name);
  }

  void Add(const BenchModel& model, std::string measure, std::string ours, std::string peer = "",
           std::string ratio = "", std::string target = "") {
    rows_.push_back({model.name, std::move(measure), std::move(ours), std::move(peer), std::move(ratio),
                     std::move(target)});
  }

  void Check(bool holds, std::string& target) {
    target.append(holds ? " holds" : " MISSED");
    allHold_ = allHold_ && holds;
  }

  // Plain timings with no peer or target.
  void AddTimes(const BenchModel& model) {
    const char* names[] = {"import-ply", "import-stl", "build-volume", "encode", "decode-progressive",
                           "walk-fans-L0", "walk-fans-Lhalf", "walk-fans-Lbase", "walk-collect16-L0",
                           "walk-collect16-Lhalf", "walk-collect16-Lbase"};
    for (const char* name : names) {
      const auto* result = Find(name, model);
      if (!result) continue;
      std::string extra;
      if (result->counters.count("tri/s")) extra = Format(", %.1f Mtri/s", result->counters.at("tri/s") / 1e6);
      if (result->counters.count("vert/s")) extra = Format(", %.2f Mvert/s", result->counters.at("vert/s") / 1e6);
      Add(model, name, Format("%.3f ms", result->seconds * 1000) + extra);
    }
  }

  void AddBuild(const BenchModel& model) {
    const auto* ours = Find("build-quadric", model);
    if (!ours) return;
    const auto* peer = Find("peer-meshopt-simplify", model);
    const std::string ourTriangles = Format(" (%.0f tri)", ours->counters.at("base-triangles"));
    if (!peer) {
      Add(model, "build-quadric", Milliseconds(ours->seconds) + ourTriangles, "meshopt: n/a");
      return;
    }
    // Processor time of every thread keeps the ratio steady when other work
    // shares the machine, and counts the part of our metrics pass that runs
    // on a second thread; the wall time rides along.
    const double ratio = ours->cpuSeconds / peer->cpuSeconds;
    std::string target = "<= 4x meshopt (cpu)";
    Check(ratio <= kBuildRatio, target);
    Add(model, "build-quadric L=0.5",
        Milliseconds(ours->cpuSeconds) + " cpu, " + Milliseconds(ours->seconds) + " wall" + ourTriangles,
        "meshopt " + Milliseconds(peer->cpuSeconds) + " cpu" + Format(" (%.0f tri)", peer->counters.at("base-triangles")),
        Format("%.1fx", ratio), target);
  }

  void AddDecode(const BenchModel& model) {
    const auto* ours = Find("decode-direct", model);
    if (!ours) return;
    const double rate = model.vertices / ours->seconds;
    std::string target = ">= 5 Mvert/s";
    Check(rate >= kDecodeVerticesPerSecond, target);
    Add(model, "decode-direct", Milliseconds(ours->seconds) + Format(", %.2f Mvert/s", rate / 1e6), "", "", target);
    AddDense(model);
    for (const char* qp : {"11", "14"}) {
      const auto* peer = Find(std::string("peer-draco-decode-qp") + qp, model);
      const auto* peerEncode = Find(std::string("peer-draco-encode-qp") + qp, model);
      if (!peer) continue;
      std::string peerTarget = "<= draco";
      Check(ours->seconds <= peer->seconds, peerTarget);
      Add(model, std::string("decode vs draco qp") + qp, Milliseconds(ours->seconds),
          "draco " + Milliseconds(peer->seconds) + Format(" (process %.0f ms)", peer->counters.at("wall-ms")),
          Format("%.2fx", ours->seconds / peer->seconds), peerTarget);
      if (peerEncode) {
        const auto* encode = Find("encode", model);
        Add(model, std::string("encode vs draco qp") + qp, encode ? Milliseconds(encode->seconds) : "",
            "draco " + Milliseconds(peerEncode->seconds), encode ? Format("%.2fx", encode->seconds / peerEncode->seconds) : "");
      }
    }
  }

  // The dense coders beside the default ones (both at 15 bits, level 0.5),
  // from the paired runs: decoding no slower, encoding at most 1.2 times as
  // long.
  void AddDense(const BenchModel& model) {
    const auto* decode = Find("decode-pair", model);
    const auto* encode = Find("encode-pair", model);
    if (decode) {
      const double classic = decode->counters.at("classic-ms"), dense = decode->counters.at("dense-ms");
      std::string target = ">= classic (cpu)";
      Check(dense <= classic, target);
      const double denseWall = decode->counters.at("dense-wall-ms"), classicWall = decode->counters.at("classic-wall-ms");
      Add(model, "decode-direct dense",
          Format("%.1f ms cpu", dense) + Format(", %.2f Mvert/s", model.vertices / dense / 1e3) +
              Format("; wall %.1f ms", denseWall),
          Format("classic %.1f ms cpu", classic) + Format("; wall %.1f ms", classicWall),
          Format("%.2fx", dense / classic) + Format(" (wall %.2fx)", denseWall / classicWall), target);
    }
    if (encode) {
      const double classic = encode->counters.at("classic-ms"), dense = encode->counters.at("dense-ms");
      std::string target = "<= 1.2x classic";
      Check(dense <= kDenseEncodeRatio * classic, target);
      Add(model, "encode dense", Format("%.1f ms", dense), Format("classic %.1f ms", classic),
          Format("%.2fx", dense / classic), target);
    }
  }

  std::string PerVertex(int64_t bytes, const BenchModel& model) const {
    return Format("%.2f bpv", 8.0 * bytes / model.vertices) + Format(" / %.2f bpt", 8.0 * bytes / model.fullTriangles);
  }

  // Every geometry coder at 10, 12 and 15 bits, each error bound 2^-n of the
  // largest side beside Draco at qp n − 1 (its error is half a step of
  // 2^-qp of the range, the same bound).
  // The dense coders at level 1 (the coarsest base) and 0.5 are held to
  // 1.5 times Draco's size.
  void AddSizes(const BenchModel& model) {
    const char* coders[] = {"raw", "rect", "polar", "adaptive"};
    for (int bits : {10, 12, 15}) {
      std::string peer;
      int64_t peerBytes = 0;
      if (HaveDraco()) {
        const std::string drc = model.ply + ".size.drc";
        if (DracoEncode(model.ply, drc, bits - 1).ok) {
          peerBytes = FileBytes(drc);
          peer = Format("draco qp%.0f ", bits - 1) + PerVertex(peerBytes, model);
        }
      }
      for (int geo = 1; geo <= 3; ++geo) {
        int64_t stats[4];
        const int64_t bytes = SaveWithCoder(model, geo, bits, model.qxz + ".size.qxz", stats);
        Add(model, Format("size %.0f bits ", bits) + coders[geo], PerVertex(bytes, model) + BitSplit(stats, model),
            peer);
      }
      for (bool level1 : {false, true}) {
        const std::string label = Format("size %.0f bits ", bits) + (level1 ? "L1 " : "");
        int64_t stats[4];
        if (level1) {
          const int64_t classic = SaveWithCoders(model, Coders{}, bits, true, model.qxz + ".size.qxz", stats);
          Add(model, label + "adaptive", PerVertex(classic, model) + BitSplit(stats, model), peer,
              peerBytes ? Format("%.2fx", double(classic) / peerBytes) : "");
        }
        const int64_t dense = SaveWithCoders(model, kDenseCoders, bits, level1, model.qxz + ".size.qxz", stats);
        std::string target;
        if (peerBytes) {
          target = "<= 1.5x draco";
          Check(dense <= kDenseSizeRatio * peerBytes, target);
        }
        Add(model, label + "dense", PerVertex(dense, model) + BitSplit(stats, model), peer,
            peerBytes ? Format("%.2fx", double(dense) / peerBytes) : "", target);
      }
    }
  }

  // The bytes of a gzip-packed file once unpacked.
  static int64_t UnpackedBytes(const std::string& path) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) return 0;
    char buffer[65536];
    int64_t total = 0;
    for (int got; (got = gzread(in, buffer, sizeof buffer)) > 0;) total += got;
    gzclose(in);
    return total;
  }

  // Simplification level 0.5 against 1 for streaming: file size, import
  // with build, and the first picture (headers and base mesh) at 56 kbit/s,
  // its bytes estimated as the packed file's share of the unpacked stream
  // that precedes the first refinement step.
  void AddLevels(const BenchModel& model) {
    for (int level = 0; level < 2; ++level) {
      for (Coders coders : {Coders{}, kDenseCoders}) {
        int64_t stats[4];
        const std::string path = model.qxz + ".level.qxz";
        const int64_t bytes = SaveWithCoders(model, coders, 15, level == 1, path, stats);
        const double unpacked = static_cast<double>(UnpackedBytes(path));
        if (!bytes || unpacked <= 0) continue;
        const double refinement = (stats[0] + stats[2]) / 8.0;
        const double firstBytes = bytes * std::max(0.0, (unpacked - refinement) / unpacked);
        Add(model, std::string(level ? "level 1" : "level 0.5") + (coders.geoMode == kDenseCoders.geoMode ? " dense" : " classic") + " 15 bits",
            Format("%.0f KiB", bytes / 1024.0) + Format(", import %.0f ms", model.importSeconds[level] * 1000) +
                Format(", first picture %.1f s at 56 kbit/s", firstBytes / kModemBytesPerSecond));
      }
    }
  }

  // Where the bits go, per coded vertex: geometry of the refinement
  // vertices, of the base, connectivity of the refinement vertices, of the base.
  std::string BitSplit(const int64_t stats[4], const BenchModel& model) const {
    const double v = static_cast<double>(model.vertices);
    return Format(" [geo ref %.1f", stats[0] / v) + Format(" base %.1f", stats[1] / v) +
           Format(" | conn ref %.1f", stats[2] / v) + Format(" base %.1f]", stats[3] / v);
  }

  void AddMemory(const BenchModel& model) {
    const std::string tool = VERMELLE_QXTOOL;
    const auto convert = PeakResidentKiB(tool + " convert '" + model.ply + "' -o '" + model.qxz + ".mem.qxz'");
    const auto decode = PeakResidentKiB(tool + " decode '" + model.qxz + "' -o '" + model.qxz + ".mem.ply'");
    // What qxtool holds before it does anything (mostly the mapped pages of
    // the offscreen OpenGL libraries it links), to tell the work's own share.
    const auto idle = PeakResidentKiB(tool, /*mustSucceed=*/false);
    if (convert) {
      std::string target = "< 1 GiB";
      Check(*convert < kConvertMemoryKiB, target);
      Add(model, "peak RSS qxtool convert", Memory(*convert, idle), "", "", target);
    }
    if (decode) Add(model, "peak RSS qxtool decode", Memory(*decode, idle));
  }

  static std::string Memory(int64_t kib, std::optional<int64_t> idleKib) {
    std::string text = Format("%.1f MiB", kib / 1024.0);
    if (idleKib) text += Format(" (idle program %.1f MiB)", *idleKib / 1024.0);
    return text;
  }

  const CollectingReporter& results_;
  std::vector<Row>& rows_;
  bool allHold_ = true;
};

std::string RenderTable(const std::vector<Row>& rows) {
  size_t widths[6] = {5, 7, 4, 4, 5, 6};
  auto fields = [](const Row& row) { return std::array<const std::string*, 6>{&row.model, &row.measure, &row.ours, &row.peer, &row.ratio, &row.target}; };
  for (const Row& row : rows) {
    const auto f = fields(row);
    for (int i = 0; i < 6; ++i) widths[i] = std::max(widths[i], f[i]->size());
  }
  std::ostringstream out;
  const Row header{"model", "measure", "ours", "peer", "ratio", "target"};
  for (const Row* row : {&header}) {
    const auto f = fields(*row);
    for (int i = 0; i < 6; ++i) out << f[i]->c_str() << std::string(widths[i] - f[i]->size() + 2, ' ');
    out << "\n";
  }
  for (const Row& row : rows) {
    const auto f = fields(row);
    for (int i = 0; i < 6; ++i) out << *f[i] << std::string(widths[i] - f[i]->size() + 2, ' ');
    out << "\n";
  }
  return out.str();
}

}  // namespace

void CollectingReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    if (run.error_occurred || run.iterations == 0 || run.run_type != Run::RT_Iteration) continue;
    Result& result = results_[run.run_name.function_name];
    result.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
    result.cpuSeconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
    for (const auto& [name, counter] : run.counters) result.counters[name] = counter.value;
  }
  ConsoleReporter::ReportRuns(runs);
}

const CollectingReporter::Result* CollectingReporter::Find(const std::string& name) const {
  const auto it = results_.find(name);
  return it == results_.end() ? nullptr : &it->second;
}

bool PrintSummary(const std::vector<std::unique_ptr<BenchModel>>& models, const CollectingReporter& results,
                  const std::string& tablePath) {
  std::vector<Row> rows;
  Summary summary(results, rows);
  for (const auto& model : models) summary.AddModel(*model);
  const std::string table = RenderTable(rows) + (summary.AllHold() ? "all targets hold\n" : "some targets MISSED\n");
  std::fputs(table.c_str(), stdout);
  if (tablePath.empty()) return true;
  std::ofstream out(tablePath);
  out << table;
  return static_cast<bool>(out);
}

}  // namespace qx::bench
