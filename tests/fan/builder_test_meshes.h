// Generated input meshes and fan-mesh checks shared by the builder tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "fan/fan_builder.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"

namespace qx::builder_test {

// An indexed triangle mesh, fed to a builder by positions.
struct InputMesh {
  std::vector<Vector> points;
  std::vector<std::array<int, 3>> triangles;
  std::vector<int32_t> groups;  // per triangle; empty means group 0

  void Append(const InputMesh& other) {
    const int base = static_cast<int>(points.size());
    groups.resize(triangles.size(), 0);
    points.insert(points.end(), other.points.begin(), other.points.end());
    for (size_t t = 0; t < other.triangles.size(); ++t) {
      const auto& tri = other.triangles[t];
      triangles.push_back({tri[0] + base, tri[1] + base, tri[2] + base});
      groups.push_back(other.groups.empty() ? 0 : other.groups[t]);
    }
  }
};

inline void Feed(FanBuilder& builder, const InputMesh& mesh) {
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    const auto& tri = mesh.triangles[t];
    builder.AddTriangle(mesh.points[tri[0]], mesh.points[tri[1]], mesh.points[tri[2]],
                        mesh.groups.empty() ? 0 : mesh.groups[t]);
  }
}

// A unit-spaced n × n vertex grid in the plane z = 0, counter-clockwise seen
// from +z, each square split along its rising diagonal. `noise` moves the
// interior vertices up to that far in x and y and twice that in z.
inline InputMesh Grid(int n, float noise, uint32_t seed = 7) {
  InputMesh mesh;
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> jitter(-noise, noise);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const bool interior = i > 0 && j > 0 && i < n - 1 && j < n - 1;
      Vector p{float(i), float(j), 0};
      if (interior && noise > 0) p = p + Vector{jitter(random), jitter(random), 2 * jitter(random)};
      mesh.points.push_back(p);
    }
  for (int j = 0; j + 1 < n; ++j)
    for (int i = 0; i + 1 < n; ++i) {
      const int v = j * n + i;
      mesh.triangles.push_back({v, v + 1, v + n + 1});
      mesh.triangles.push_back({v, v + n + 1, v + n});
    }
  return mesh;
}

// A closed UV sphere of `rings` latitude bands and `segments` longitudes,
// outward facing, centred at `centre`.
inline InputMesh Sphere(int rings, int segments, Vector centre = {}, float radius = 1) {
  InputMesh mesh;
  const float pi = 3.14159265f;
  mesh.points.push_back(centre + Vector{0, 0, radius});
  for (int r = 1; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      const float theta = pi * float(r) / float(rings), phi = 2 * pi * float(s) / float(segments);
      mesh.points.push_back(centre + Vector{radius * std::sin(theta) * std::cos(phi),
                                            radius * std::sin(theta) * std::sin(phi), radius * std::cos(theta)});
    }
  const int south = static_cast<int>(mesh.points.size());
  mesh.points.push_back(centre + Vector{0, 0, -radius});
  auto at = [segments](int r, int s) { return 1 + (r - 1) * segments + (s % segments); };
  for (int s = 0; s < segments; ++s) {
    mesh.triangles.push_back({0, at(1, s), at(1, s + 1)});
    mesh.triangles.push_back({south, at(rings - 1, s + 1), at(rings - 1, s)});
    for (int r = 1; r + 1 < rings; ++r) {
      mesh.triangles.push_back({at(r, s), at(r + 1, s), at(r + 1, s + 1)});
      mesh.triangles.push_back({at(r, s), at(r + 1, s + 1), at(r, s + 1)});
    }
  }
  return mesh;
}

// What the walks of one fan mesh showed.
struct LevelCounts {
  int64_t full = 0;  // triangles at level 0
  int64_t base = 0;  // triangles at level S − 1
};

// Checks that every level of `mesh` is a valid mesh: at levels 0, S − 1, N − 1
// and a few in between every shown triangle has three distinct corners that
// are present at that level (index above the level, below N). Also checks the
// numbering rules: rings only name larger indices, dependencies are removed
// vertices (below S) not above their vertex.
inline LevelCounts CheckFanMesh(const QXPck& mesh) {
  const int32_t n = mesh.vertexCount, split = mesh.splitIndex;
  EXPECT_GE(split, 1);
  EXPECT_LT(split, n);
  EXPECT_EQ(mesh.baseCount, n - split);
  EXPECT_TRUE(mesh.Record(0).IsEmpty());
  for (VertexIndex v = 1; v < n; ++v) {
    const RecordView record = mesh.Record(v);
    for (uint32_t neighbour : record.RingSpan()) EXPECT_GT(static_cast<VertexIndex>(neighbour), v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const VertexIndex dependency = record.Group(g).dependency;
      EXPECT_LT(dependency, v);
      EXPECT_LT(dependency, split);
    }
  }
  LevelCounts counts;
  std::set<Level> levels{0, split - 1, n - 1, split / 2, split / 3, (2 * split) / 3};
  for (Level level : levels) {
    const int64_t shown = ForEachFan(mesh, level, [&](const Fan& fan) {
      for (int i = fan.start + 1; i <= fan.end; ++i) {
        const std::array<VertexIndex, 3> t{fan.centre, fan.Corner1(i), fan.Corner2(i)};
        for (VertexIndex c : t) {
          EXPECT_GT(c, level) << "corner not present at level " << level;
          EXPECT_LT(c, n);
        }
        EXPECT_TRUE(t[0] != t[1] && t[1] != t[2] && t[2] != t[0]);
      }
    });
    if (level == 0) counts.full = shown;
    if (level == split - 1) counts.base = shown;
    if (level == n - 1) {
      EXPECT_EQ(shown, 0);
    }
  }
  return counts;
}

// Sums the counts over all meshes of one build.
inline LevelCounts CheckFanMeshes(const std::vector<std::unique_ptr<QXPck>>& meshes) {
  LevelCounts total;
  for (const auto& mesh : meshes) {
    const LevelCounts counts = CheckFanMesh(*mesh);
    total.full += counts.full;
    total.base += counts.base;
  }
  return total;
}

// The z component of the normal of every triangle shown at `level`.
inline std::vector<float> NormalZ(const QXPck& mesh, Level level) {
  std::vector<float> z;
  ForEachFan(mesh, level, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i) {
      const Vector p0 = mesh.vertices[fan.centre].position, p1 = mesh.vertices[fan.Corner1(i)].position,
                   p2 = mesh.vertices[fan.Corner2(i)].position;
      z.push_back(Cross(p1 - p0, p2 - p0).z);
    }
  });
  return z;
}

}  // namespace qx::builder_test
