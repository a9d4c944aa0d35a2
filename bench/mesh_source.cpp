#include "bench/mesh_source.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unordered_map>

#include "import/import_sink.h"
#include "import/ply_reader.h"
#include "import/stl_reader.h"

namespace qx::bench {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMajorRadius = 1.0;
constexpr double kMinorRadius = 0.35;
constexpr double kNoise = 0.01 * kMinorRadius;

// A small, fixed hash, so the mesh does not depend on the standard library's
// random engines.
double Noise(uint32_t seed, uint32_t i) {
  uint32_t x = seed * 0x9E3779B9u ^ i * 0x85EBCA6Bu;
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x / 4294967295.0 * 2.0 - 1.0;
}

void AddTorusVertex(IndexedMesh& mesh, double u, double v, double offset) {
  const double radius = kMinorRadius + offset;
  const double ring = kMajorRadius + radius * std::cos(v);
  mesh.positions.push_back(static_cast<float>(ring * std::cos(u)));
  mesh.positions.push_back(static_cast<float>(ring * std::sin(u)));
  mesh.positions.push_back(static_cast<float>(radius * std::sin(v)));
}

// Two triangles per grid cell; the grid wraps in both directions.
void AddTorusCells(IndexedMesh& mesh, uint32_t around, uint32_t across) {
  for (uint32_t i = 0; i < around; ++i) {
    for (uint32_t j = 0; j < across; ++j) {
      const uint32_t a = i * across + j, b = ((i + 1) % around) * across + j;
      const uint32_t c = ((i + 1) % around) * across + (j + 1) % across, d = i * across + (j + 1) % across;
      mesh.indices.insert(mesh.indices.end(), {a, b, c, a, c, d});
    }
  }
}

bool WriteAll(std::FILE* file, const void* data, size_t bytes) { return std::fwrite(data, 1, bytes, file) == bytes; }

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Gives each distinct position (by its bytes) one index.
class WeldingCollector final : public TriangleCollector, public ImportSink {
 public:
  void AddTriangle(Vector p0, Vector p1, Vector p2, QXMaterial* /*group*/) override {
    mesh_.indices.insert(mesh_.indices.end(), {Index(p0), Index(p1), Index(p2)});
  }
  void Clear() override {
    mesh_ = {};
    index_.clear();
  }
  bool AddTriangle(QXMaterial* group, Vector p0, Vector p1, Vector p2) override {
    AddTriangle(p0, p1, p2, group);
    return true;
  }
  IndexedMesh Take() { return std::move(mesh_); }

 private:
  struct KeyHash {
    size_t operator()(const std::array<uint32_t, 3>& k) const {
      return (size_t{k[0]} * 73856093u) ^ (size_t{k[1]} * 19349663u) ^ (size_t{k[2]} * 83492791u);
    }
  };
  uint32_t Index(Vector p) {
    std::array<uint32_t, 3> key;
    std::memcpy(key.data(), &p, sizeof key);
    auto [it, added] = index_.try_emplace(key, static_cast<uint32_t>(mesh_.VertexCount()));
    if (added) mesh_.positions.insert(mesh_.positions.end(), {p.x, p.y, p.z});
    return it->second;
  }
  IndexedMesh mesh_;
  std::unordered_map<std::array<uint32_t, 3>, uint32_t, KeyHash> index_;
};

}  // namespace

IndexedMesh MakeNoisyTorus(int64_t targetTriangles, uint32_t seed) {
  // Cells are about square: `around` the major circle is 1/0.35 times
  // `across` the tube.
  const double cells = std::max<double>(targetTriangles / 2.0, 9.0);
  const auto across = static_cast<uint32_t>(std::max(3.0, std::round(std::sqrt(cells * kMinorRadius / kMajorRadius))));
  const auto around = static_cast<uint32_t>(std::max(3.0, std::round(cells / across)));
  IndexedMesh mesh;
  mesh.positions.reserve(size_t{3} * around * across);
  for (uint32_t i = 0; i < around; ++i)
    for (uint32_t j = 0; j < across; ++j)
      AddTorusVertex(mesh, 2 * kPi * i / around, 2 * kPi * j / across, kNoise * Noise(seed, i * across + j));
  AddTorusCells(mesh, around, across);
  return mesh;
}

bool WriteBinaryPly(const IndexedMesh& mesh, const std::string& path) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const std::string header = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                             std::to_string(mesh.VertexCount()) +
                             "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                             std::to_string(mesh.TriangleCount()) +
                             "\nproperty list uchar int vertex_indices\nend_header\n";
  bool ok = WriteAll(file.get(), header.data(), header.size()) &&
            WriteAll(file.get(), mesh.positions.data(), mesh.positions.size() * sizeof(float));
  for (size_t t = 0; ok && t < mesh.TriangleCount(); ++t) {
    unsigned char record[13] = {3};
    std::memcpy(record + 1, &mesh.indices[3 * t], 12);
    ok = WriteAll(file.get(), record, sizeof record);
  }
  return ok;
}

bool WriteBinaryStl(const IndexedMesh& mesh, const std::string& path) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  char header[80] = "binary STL written by the Vermelle benchmarks";
  const auto count = static_cast<uint32_t>(mesh.TriangleCount());
  bool ok = WriteAll(file.get(), header, sizeof header) && WriteAll(file.get(), &count, sizeof count);
  for (size_t t = 0; ok && t < mesh.TriangleCount(); ++t) {
    unsigned char record[50] = {};  // normal, three corners, attribute bytes
    for (int corner = 0; corner < 3; ++corner)
      std::memcpy(record + 12 + 12 * corner, &mesh.positions[3 * size_t{mesh.indices[3 * t + corner]}], 12);
    ok = WriteAll(file.get(), record, sizeof record);
  }
  return ok;
}

std::optional<IndexedMesh> ReadIndexedMesh(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  WeldingCollector collector;
  bool ok = false;
  if (extension == ".ply")
    ok = ReadPlyFile(path.c_str(), collector, PlyReadOptions{});
  else if (extension == ".stl")
    ok = ReadStl(path, collector);
  IndexedMesh mesh = collector.Take();
  if (!ok || mesh.indices.empty()) return std::nullopt;
  return mesh;
}

}  // namespace qx::bench
