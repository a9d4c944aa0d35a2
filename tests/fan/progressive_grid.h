// Test meshes for the coders: a bumpy (width × height) grid simplified by
// vertex removal, as the builder would, so that every record obeys the fan
// mesh rules (ring above the vertex, dependencies not above it).
//
// Removal picks vertices in a seeded random order, skipping any whose
// removal would make an edge non-manifold, and fills each hole with a fan of
// triangles whose dependency is the removed vertex. Removed vertices become
// 1 … R in removal order, the rest the base vertices R+1 … N-1.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "fan/face_link.h"
#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx::testing_coders {

class GridSimplifier {
 public:
  GridSimplifier(int width, int height, uint32_t seed) : width_(width), height_(height), random_(seed) {
    for (int y = 0; y + 1 < height; ++y)
      for (int x = 0; x + 1 < width; ++x) {
        const int p = y * width + x;
        Add({p, p + 1, p + width + 1}, 0);
        Add({p, p + width + 1, p + width}, 0);
      }
  }

  // Removes up to `count` vertices in passes over the vertices in random
  // order; returns the mesh. With `byParts`, the passes first go over the
  // left third of the grid only, as far as they can, then over the right
  // third, then over the whole, as a simplification that works through a
  // model one part after another.
  std::unique_ptr<QXPck> Build(int count, bool byParts = false) {
    std::vector<int> order(static_cast<size_t>(width_ * height_));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random_);
    if (byParts) {
      RemoveInPasses(order, count, 0, width_ / 3);
      RemoveInPasses(order, count, width_ - width_ / 3, width_);
    }
    RemoveInPasses(order, count, 0, width_);
    return MakeMesh();
  }

 private:
  // Passes over `order`'s vertices in columns first … end − 1 until none goes.
  void RemoveInPasses(const std::vector<int>& order, int count, int first, int end) {
    for (bool progress = true; progress && static_cast<int>(removed_.size()) < count;) {
      progress = false;
      for (int id : order) {
        const int column = id % width_;
        if (static_cast<int>(removed_.size()) < count && column >= first && column < end && !IsRemoved(id) &&
            TryRemove(id))
          progress = true;
      }
    }
  }

  struct Triangle {
    std::array<int, 3> corners;
    int creator;  // removal step + 1 that made it, 0 for the grid's own
    bool alive = true;
  };
  struct Removal {
    int id;
    std::vector<Triangle> triangles;  // incident at removal time
  };

  void Add(std::array<int, 3> corners, int creator) {
    triangles_.push_back({corners, creator});
    for (int i = 0; i < 3; ++i) edges_.insert(Edge(corners[i], corners[(i + 1) % 3]));
  }
  static std::pair<int, int> Edge(int x, int y) { return {std::min(x, y), std::max(x, y)}; }
  bool IsRemoved(int id) const {
    return std::any_of(removed_.begin(), removed_.end(), [id](const Removal& r) { return r.id == id; });
  }

  // The ring of `id` as one cycle or one open chain; empty when it is neither.
  std::vector<int> Polygon(const std::vector<Triangle*>& incident, int id, bool& closed) const {
    std::map<int, int> next;
    std::set<int> targets;
    for (const Triangle* t : incident) {
      const int at = static_cast<int>(std::find(t->corners.begin(), t->corners.end(), id) - t->corners.begin());
      const int a = t->corners[(at + 1) % 3], b = t->corners[(at + 2) % 3];
      if (next.count(a) || targets.count(b)) return {};
      next[a] = b;
      targets.insert(b);
    }
    int start = next.begin()->first, starts = 0;
    for (const auto& [a, b] : next)
      if (!targets.count(a)) start = a, ++starts;
    if (starts > 1) return {};
    closed = starts == 0;
    std::vector<int> polygon{start};
    for (auto it = next.find(start); it != next.end() && it->second != start; it = next.find(it->second))
      polygon.push_back(it->second);
    return polygon.size() == incident.size() + (closed ? 0 : 1) ? polygon : std::vector<int>{};
  }

  bool TryRemove(int id) {
    std::vector<Triangle*> incident;
    for (Triangle& t : triangles_)
      if (t.alive && std::count(t.corners.begin(), t.corners.end(), id)) incident.push_back(&t);
    if (incident.empty()) return false;
    bool closed = false;
    const std::vector<int> polygon = Polygon(incident, id, closed);
    if (polygon.empty()) return false;
    const int k = static_cast<int>(polygon.size());
    for (int apex = 0; apex < (k >= 3 ? k : 1); ++apex) {
      if (k >= 3 && !FanIsClean(polygon, apex, closed)) continue;
      Removal removal{id, {}};
      for (Triangle* t : incident) {
        removal.triangles.push_back(*t);
        t->alive = false;
        for (int i = 0; i < 3; ++i) edges_.erase(Edge(t->corners[i], t->corners[(i + 1) % 3]));
      }
      for (int i = 0; i + 1 < k; ++i) edges_.insert(Edge(polygon[i], polygon[i + 1]));
      if (closed) edges_.insert(Edge(polygon.back(), polygon.front()));
      removed_.push_back(std::move(removal));
      for (int i = 1; k >= 3 && i + 1 < k; ++i)
        Add({polygon[apex], polygon[(apex + i) % k], polygon[(apex + i + 1) % k]},
            static_cast<int>(removed_.size()));
      return true;
    }
    return false;
  }

  // No new edge of the fan from polygon[apex] exists already.
  bool FanIsClean(const std::vector<int>& polygon, int apex, bool closed) const {
    const int k = static_cast<int>(polygon.size());
    for (int i = 2; i + 1 < k; ++i)
      if (edges_.count(Edge(polygon[apex], polygon[(apex + i) % k]))) return false;
    // An open ring's hole is closed by a new edge from its last to its first vertex.
    return closed || !edges_.count(Edge(polygon.front(), polygon.back()));
  }

  std::unique_ptr<QXPck> MakeMesh() {
    const int points = width_ * height_;
    std::vector<int> index(static_cast<size_t>(points), 0);
    int next = 1;
    for (const Removal& removal : removed_) index[removal.id] = next++;
    std::vector<int> base;
    for (int id = 0; id < points; ++id)
      if (!index[id]) base.push_back(id);
    std::shuffle(base.begin(), base.end(), random_);
    for (int id : base) index[id] = next++;

    auto mesh = std::make_unique<QXPck>();
    mesh->Create(points + 1);
    mesh->splitIndex = static_cast<int32_t>(removed_.size()) + 1;
    mesh->baseCount = mesh->vertexCount - mesh->splitIndex;
    for (int id = 0; id < points; ++id) {
      const float x = static_cast<float>(id % width_), y = static_cast<float>(id / width_);
      const Vector p{x, y, 0.8f * std::sin(0.9f * x) * std::cos(0.7f * y)};
      mesh->vertices[index[id]].position = p;
      ExtendBox(mesh->box, p);
    }
    mesh->weight = mesh->box.Radius();
    for (const Removal& removal : removed_) SetRecord(*mesh, index, index[removal.id], removal.triangles);
    // Base vertices, ascending: each takes the triangles left around it.
    std::vector<int> byIndex(base);
    std::sort(byIndex.begin(), byIndex.end(), [&](int x, int y) { return index[x] < index[y]; });
    for (int id : byIndex) {
      std::vector<Triangle> taken;
      for (Triangle& t : triangles_)
        if (t.alive && std::count(t.corners.begin(), t.corners.end(), id)) taken.push_back(t), t.alive = false;
      SetRecord(*mesh, index, index[id], taken);
    }
    return mesh;
  }

  static void SetRecord(QXPck& mesh, const std::vector<int>& index, VertexIndex v,
                        const std::vector<Triangle>& triangles) {
    FaceList links;
    for (const Triangle& t : triangles) {
      int at = 0;
      while (index[t.corners[at]] != v) ++at;
      links.PushFront(index[t.corners[(at + 1) % 3]], index[t.corners[(at + 2) % 3]], 0, t.creator);
    }
    CloseRing(v, links);
    mesh.records[static_cast<size_t>(v)] = BuildRecord(v, links);
  }

  int width_, height_;
  std::mt19937 random_;
  std::vector<Triangle> triangles_;
  std::set<std::pair<int, int>> edges_;
  std::vector<Removal> removed_;
};

// A simplified grid with up to `removals` refinement vertices.
inline std::unique_ptr<QXPck> MakeProgressiveGrid(int width, int height, int removals, uint32_t seed = 7) {
  return GridSimplifier(width, height, seed).Build(removals);
}

}  // namespace qx::testing_coders
