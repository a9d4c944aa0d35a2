// The models one benchmark run works on: the generated torus meshes and the
// large corpus models that are present, each written once as binary PLY and
// STL into a work directory, imported with the default options and saved
// with the default save options.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/mesh_source.h"
#include "scene/scene_model.h"

namespace qx::bench {

struct BenchModel {
  std::string name;
  IndexedMesh mesh;    // as read (welded), the peers' input
  std::string ply;     // binary copies in the work directory
  std::string stl;
  std::string qxz;     // saved with the default save options
  // The scene decoded from `qxz` (what the walks and the viewer see), and
  // the unquantised scene stream, from which every size probe starts afresh
  // (saving quantises positions in place).
  std::unique_ptr<QXScene> decoded;
  std::vector<uint8_t> rawStream;
  // The same at simplification level 1 (the coarsest base), and the time of
  // each import with its build (level 0.5, level 1).
  std::vector<uint8_t> rawStreamLevel1;
  double importSeconds[2] = {0, 0};
  int64_t vertices = 0;       // coded vertices: the sum of N − 1 over the meshes
  int64_t fullTriangles = 0;  // shown at level 0
  int64_t baseTriangles = 0;  // shown at the coarsest level (S − 1)
  bool fitsSixteenBits = false;  // every mesh has at most 65536 vertices
};

// Makes the models: "torus-1M" and "torus-100k" always, then the corpus
// models found under `corpusDir` (skipped when absent). Files go into
// `workDir`, which must exist. Models that fail to read or import are left
// out with a message on standard error.
std::vector<std::unique_ptr<BenchModel>> PrepareModels(const std::string& workDir, const std::string& corpusDir);

// A coder set as the save options choose it.
struct Coders {
  int geoMode = 3;
  int connectMode = 1;
  int predMode = 0;
};
// The dense coders with the predictor they are measured with.
inline constexpr Coders kDenseCoders{4, 2, 0};

// A fresh scene from `model.rawStream` (`rawStreamLevel1` with `level1`)
// saved with `coders` at `bits` bits (other save options at their defaults)
// to `path`; returns the file size in bytes (0 on failure) and leaves the bit
// statistics of every mesh summed in `bitStats`.
int64_t SaveWithCoder(const BenchModel& model, int geoMode, int bits, const std::string& path,
                      int64_t bitStats[4]);
int64_t SaveWithCoders(const BenchModel& model, Coders coders, int bits, bool level1, const std::string& path,
                       int64_t bitStats[4]);

}  // namespace qx::bench
