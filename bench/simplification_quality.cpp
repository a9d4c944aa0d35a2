// vermelle_quality: how each simplification strategy and metric leaves a
// model at its coarsest level, the base mesh a viewer shows first.
//
//   vermelle_quality [--level F] MODEL...
//
// Every model is imported once per combination (strategy × metric) at
// simplification level F (default 0.9). The full mesh (level 0) of that
// build is the reference; the base mesh (level S − 1 of every mesh) is
// compared with it:
//   overlap   silhouette overlap (intersection over union of the covered
//             pixels, 256 × 256, parallel projection) from seven directions
//             (the three axes and four space diagonals); the worst one
//   distance  the largest distance between the two surfaces, both ways,
//             sampled at corners, edge midpoints and centroids, in percent
//             of the box diagonal
//   folds     edges of the base mesh between two triangles whose normals
//             differ by more than 150°
//   flipped   base-mesh area whose normal opposes the nearest reference
//             triangle's, in percent
//   non-manifold  base-mesh edges with more than two triangles
//   time      import and simplification, milliseconds
// One table row per combination, tab-separated, on standard output.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "fan/triangle_distance.h"
#include "import/importer.h"
#include "import/model_format.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

// Triangles by corner index; corners are mesh vertices, numbered apart for
// every mesh instance so that edges can be matched.
struct IndexedSurface {
  std::vector<Vector> positions;
  std::vector<std::array<uint32_t, 3>> faces;

  std::array<Vector, 3> Corners(size_t f) const {
    return {positions[faces[f][0]], positions[faces[f][1]], positions[faces[f][2]]};
  }
  Vector Normal(size_t f) const {
    const auto p = Corners(f);
    return Cross(p[1] - p[0], p[2] - p[0]);
  }
};

// Collects every mesh instance at level 0 (`base` false) or at its own
// coarsest level S − 1 (`base` true).
void Collect(const QXHier* node, const Matrix& parent, bool base, IndexedSurface& out) {
  for (; node; node = node->nextSibling) {
    const Matrix world = MatrixProduct(node->matrix ? node->matrix->values : IdentityMatrix(), parent);
    if (const QXPck* mesh = node->mesh) {
      const uint32_t offset = static_cast<uint32_t>(out.positions.size());
      for (VertexIndex v = 0; v < mesh->vertexCount; ++v)
        out.positions.push_back(TransformPoint(world, mesh->vertices[v].position));
      const Level level = base ? std::max(mesh->splitIndex - 1, 0) : 0;
      ForEachFan(*mesh, level, [&](const Fan& fan) {
        for (int i = fan.start + 1; i <= fan.end; ++i)
          out.faces.push_back({offset + static_cast<uint32_t>(fan.centre), offset + static_cast<uint32_t>(fan.Corner1(i)),
                               offset + static_cast<uint32_t>(fan.Corner2(i))});
      });
    }
    Collect(node->firstChild, world, base, out);
  }
}

Box BoundsOf(const IndexedSurface& surface) {
  Box box;
  for (const auto& face : surface.faces)
    for (uint32_t c : face) ExtendBox(box, surface.positions[c]);
  return box;
}

// --- Silhouettes ---

constexpr int kPixels = 256;

using Mask = std::vector<uint8_t>;

// Parallel projection along `direction` onto two axes perpendicular to it,
// scaled so that the reference's box fits the square.
struct Projection {
  Vector u, w;
  float scale;
  Vector origin;

  std::array<float, 2> operator()(Vector p) const {
    const Vector d = p - origin;
    return {Dot(d, u) * scale + kPixels / 2.0f, Dot(d, w) * scale + kPixels / 2.0f};
  }
};

Projection ProjectionAlong(Vector direction, const Box& box) {
  direction = Normalize(direction);
  const Vector helper = std::fabs(direction.x) < 0.9f ? Vector{1, 0, 0} : Vector{0, 1, 0};
  const Vector u = Normalize(Cross(direction, helper));
  const Vector w = Cross(direction, u);
  const float radius = std::max(Length(box.half), 1e-20f);
  return {u, w, 0.49f * kPixels / radius, box.centre};
}

float EdgeFunction(std::array<float, 2> a, std::array<float, 2> b, float x, float y) {
  return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0]);
}

Mask Silhouette(const IndexedSurface& surface, const Projection& projection) {
  Mask mask(kPixels * kPixels, 0);
  for (size_t f = 0; f < surface.faces.size(); ++f) {
    const auto p = surface.Corners(f);
    const std::array<std::array<float, 2>, 3> q = {projection(p[0]), projection(p[1]), projection(p[2])};
    const float area = EdgeFunction(q[0], q[1], q[2][0], q[2][1]);
    if (area == 0) continue;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({q[0][0], q[1][0], q[2][0]}))));
    const int x1 = std::min(kPixels - 1, static_cast<int>(std::ceil(std::max({q[0][0], q[1][0], q[2][0]}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({q[0][1], q[1][1], q[2][1]}))));
    const int y1 = std::min(kPixels - 1, static_cast<int>(std::ceil(std::max({q[0][1], q[1][1], q[2][1]}))));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const float cx = static_cast<float>(x) + 0.5f, cy = static_cast<float>(y) + 0.5f;
        const float e0 = EdgeFunction(q[1], q[2], cx, cy), e1 = EdgeFunction(q[2], q[0], cx, cy),
                    e2 = EdgeFunction(q[0], q[1], cx, cy);
        const bool inside = area > 0 ? (e0 >= 0 && e1 >= 0 && e2 >= 0) : (e0 <= 0 && e1 <= 0 && e2 <= 0);
        if (inside) mask[static_cast<size_t>(y * kPixels + x)] = 1;
      }
  }
  return mask;
}

double WorstOverlap(const IndexedSurface& reference, const IndexedSurface& base, const Box& box) {
  const Vector directions[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {-1, 1, 1}, {1, -1, 1}, {1, 1, -1}};
  double worst = 1;
  for (Vector direction : directions) {
    const Projection projection = ProjectionAlong(direction, box);
    const Mask a = Silhouette(reference, projection), b = Silhouette(base, projection);
    int64_t both = 0, either = 0;
    for (size_t i = 0; i < a.size(); ++i) both += a[i] & b[i], either += a[i] | b[i];
    if (either > 0) worst = std::min(worst, static_cast<double>(both) / static_cast<double>(either));
  }
  return worst;
}

// --- Distances, through a uniform grid of triangle boxes ---

class TriangleGrid {
 public:
  TriangleGrid(const IndexedSurface& surface, const Box& box) : surface_(surface), box_(box) {
    const double cells = std::clamp<double>(static_cast<double>(surface.faces.size()), 1, 2e6);
    const float largest = 2 * std::max({box.half.x, box.half.y, box.half.z, 1e-20f});
    cellSize_ = largest / static_cast<float>(std::max(1.0, std::cbrt(cells)));
    for (int k = 0; k < 3; ++k) size_[k] = std::max(1, static_cast<int>(std::ceil(2 * box.half[k] / cellSize_)) + 1);
    cells_.resize(static_cast<size_t>(size_[0]) * size_[1] * size_[2]);
    for (size_t f = 0; f < surface.faces.size(); ++f) {
      const auto p = surface.Corners(f);
      std::array<int, 3> lo, hi;
      for (int k = 0; k < 3; ++k) {
        lo[k] = Cell(std::min({p[0][k], p[1][k], p[2][k]}), k);
        hi[k] = Cell(std::max({p[0][k], p[1][k], p[2][k]}), k);
      }
      for (int z = lo[2]; z <= hi[2]; ++z)
        for (int y = lo[1]; y <= hi[1]; ++y)
          for (int x = lo[0]; x <= hi[0]; ++x) cells_[Index(x, y, z)].push_back(static_cast<uint32_t>(f));
    }
  }

  // The nearest triangle to p and its distance (searching rings of cells
  // outwards until no closer triangle can exist).
  std::pair<double, size_t> Nearest(Vector p) const {
    std::array<int, 3> centre;
    for (int k = 0; k < 3; ++k) centre[k] = Cell(p[k], k);
    double best = 1e300;
    size_t bestFace = 0;
    const int most = std::max({size_[0], size_[1], size_[2]});
    for (int ring = 0; ring <= most; ++ring) {
      for (int z = centre[2] - ring; z <= centre[2] + ring; ++z)
        for (int y = centre[1] - ring; y <= centre[1] + ring; ++y)
          for (int x = centre[0] - ring; x <= centre[0] + ring; ++x) {
            if (std::max({std::abs(x - centre[0]), std::abs(y - centre[1]), std::abs(z - centre[2])}) != ring) continue;
            if (x < 0 || y < 0 || z < 0 || x >= size_[0] || y >= size_[1] || z >= size_[2]) continue;
            for (uint32_t f : cells_[Index(x, y, z)]) {
              const auto c = surface_.Corners(f);
              const double d = std::sqrt(static_cast<double>(PointTriangleDistanceSquared(p, c[0], c[1], c[2])));
              if (d < best) best = d, bestFace = f;
            }
          }
      // Everything outside the searched cube lies at least `ring` cells away.
      if (best <= static_cast<double>(ring) * cellSize_) break;
    }
    return {best, bestFace};
  }

 private:
  int Cell(float value, int k) const {
    const float lo = box_.centre[k] - box_.half[k];
    return std::clamp(static_cast<int>((value - lo) / cellSize_), 0, size_[k] - 1);
  }
  size_t Index(int x, int y, int z) const {
    return (static_cast<size_t>(z) * size_[1] + static_cast<size_t>(y)) * size_[0] + static_cast<size_t>(x);
  }

  const IndexedSurface& surface_;
  Box box_;
  float cellSize_ = 1;
  std::array<int, 3> size_{1, 1, 1};
  std::vector<std::vector<uint32_t>> cells_;
};

// Corners, edge midpoints and centroids of every triangle.
template <class OnSample>
void ForEachSample(const IndexedSurface& surface, OnSample&& onSample) {
  for (size_t f = 0; f < surface.faces.size(); ++f) {
    const auto p = surface.Corners(f);
    for (int k = 0; k < 3; ++k) onSample(p[k], f), onSample((p[k] + p[(k + 1) % 3]) * 0.5f, f);
    onSample((p[0] + p[1] + p[2]) * (1.0f / 3), f);
  }
}

double LargestDistance(const IndexedSurface& from, const TriangleGrid& to) {
  double largest = 0;
  ForEachSample(from, [&](Vector p, size_t) { largest = std::max(largest, to.Nearest(p).first); });
  return largest;
}

double Area(const IndexedSurface& surface, size_t f) { return 0.5 * Length(surface.Normal(f)); }

double FlippedAreaPercent(const IndexedSurface& base, const IndexedSurface& reference, const TriangleGrid& grid) {
  double flipped = 0, total = 0;
  for (size_t f = 0; f < base.faces.size(); ++f) {
    const auto p = base.Corners(f);
    const size_t nearest = grid.Nearest((p[0] + p[1] + p[2]) * (1.0f / 3)).second;
    const double area = Area(base, f);
    total += area;
    if (Dot(base.Normal(f), reference.Normal(nearest)) < 0) flipped += area;
  }
  return total > 0 ? 100 * flipped / total : 0;
}

struct EdgeCounts {
  int folds = 0;
  int nonManifold = 0;
};

EdgeCounts CountEdges(const IndexedSurface& surface) {
  std::map<std::pair<uint32_t, uint32_t>, std::vector<size_t>> edges;
  for (size_t f = 0; f < surface.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) {
      const uint32_t a = surface.faces[f][k], b = surface.faces[f][(k + 1) % 3];
      edges[std::minmax(a, b)].push_back(f);
    }
  const float cos150 = -0.8660254f;
  EdgeCounts counts;
  for (const auto& [edge, faces] : edges) {
    if (faces.size() > 2) ++counts.nonManifold;
    if (faces.size() != 2) continue;
    const Vector n0 = surface.Normal(faces[0]), n1 = surface.Normal(faces[1]);
    const float lengths = Length(n0) * Length(n1);
    if (lengths > 0 && Dot(n0, n1) < cos150 * lengths) ++counts.folds;
  }
  return counts;
}

struct Combination {
  const char* name;
  int metric;
  int model;
  bool meshQuality;
};

void MeasureModel(const std::string& path, float level) {
  const std::optional<ModelFormat> format = ModelFormatForFile(path);
  if (!format) return void(std::fprintf(stderr, "%s: not a model\n", path.c_str()));
  const Combination combinations[] = {
      {"standard volume", 0, 0, false},  {"sculptor volume", 0, 1, false},   {"batch volume", 0, 2, false},
      {"standard quadric", 1, 0, false}, {"sculptor quadric", 1, 1, false},  {"batch quadric", 1, 2, false},
      {"standard quadric+quality", 1, 0, true}, {"sculptor quadric+quality", 1, 1, true},
      {"batch quadric+quality", 1, 2, true},    {"standard pair", 2, 0, false},
      {"sculptor pair", 2, 1, false},    {"batch pair", 2, 2, false},
  };
  const std::string name = path.substr(path.find_last_of('/') + 1);
  for (const Combination& combination : combinations) {
    ImportOptions options = ImportOptions::Defaults(*format);
    options.simplificationLevel = level;
    options.metric = combination.metric;
    options.model = combination.model;
    options.meshQuality = combination.meshQuality;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<QXScene> scene = ImportModel(path, options);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!scene) return void(std::fprintf(stderr, "%s: import failed\n", path.c_str()));
    IndexedSurface reference, base;
    Collect(scene->roots, IdentityMatrix(), false, reference);
    Collect(scene->roots, IdentityMatrix(), true, base);
    const Box box = BoundsOf(reference);
    const double diagonal = 2 * Length(box.half);
    const TriangleGrid referenceGrid(reference, box), baseGrid(base, box);
    const double distance = std::max(LargestDistance(base, referenceGrid), LargestDistance(reference, baseGrid));
    const EdgeCounts edges = CountEdges(base);
    std::printf("%s\t%s\t%zu\t%zu\t%.3f\t%.2f\t%d\t%.2f\t%d\t%.0f\n", name.c_str(), combination.name,
                reference.faces.size(), base.faces.size(), WorstOverlap(reference, base, box),
                100 * distance / diagonal, edges.folds, FlippedAreaPercent(base, reference, referenceGrid),
                edges.nonManifold, ms);
    std::fflush(stdout);
  }
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  float level = 0.9f;
  std::vector<std::string> models;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--level" && i + 1 < argc)
      level = std::strtof(argv[++i], nullptr);
    else
      models.push_back(word);
  }
  if (models.empty()) {
    std::fputs("usage: vermelle_quality [--level F] MODEL...\n", stderr);
    return 1;
  }
  std::printf("model\tcombination\tfull triangles\tbase triangles\tworst overlap\tlargest distance %%\tfolds\t"
              "flipped area %%\tnon-manifold edges\ttime ms\n");
  for (const std::string& model : models) qx::MeasureModel(model, level);
  return 0;
}
