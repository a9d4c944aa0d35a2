// Small hand-made fan meshes and helpers shared by the fan tests.
#pragma once

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>
#include <vector>

#include "fan/face_link.h"
#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"

namespace qx::testing_fan {

struct Link {
  VertexIndex a, b, dependency;
};

// A list holding `links` in the given order.
inline FaceList MakeList(std::initializer_list<Link> links) {
  FaceList list;
  for (auto it = std::rbegin(links); it != std::rend(links); ++it) list.PushFront(it->a, it->b, 0, it->dependency);
  return list;
}
inline FaceList MakeList(const std::vector<Link>& links) {
  FaceList list;
  for (auto it = links.rbegin(); it != links.rend(); ++it) list.PushFront(it->a, it->b, 0, it->dependency);
  return list;
}

inline std::vector<Link> ListLinks(const FaceList& list) {
  std::vector<Link> links;
  for (const FaceLink& link : list) links.push_back({link.a, link.b, link.dependency});
  return links;
}

inline bool operator==(const Link& x, const Link& y) {
  return x.a == y.a && x.b == y.b && x.dependency == y.dependency;
}

// A closed ring of `n` links around neighbours first … first+n−1, all with
// dependency `dependency`.
inline std::vector<Link> ClosedRing(int n, VertexIndex first, VertexIndex dependency) {
  std::vector<Link> links;
  for (int k = 0; k < n; ++k) links.push_back({first + k, first + (k + 1) % n, dependency});
  return links;
}

struct Triangle {
  VertexIndex x, y, z;
  VertexIndex dependency;
};

// Stores each triangle in the record of its smallest corner (as the builder
// does), closes every ring and builds every record.
inline void BuildFanMesh(QXPck& mesh, int32_t vertexCount, std::span<const Triangle> triangles) {
  mesh.Create(vertexCount);
  std::vector<FaceList> lists(static_cast<size_t>(vertexCount));
  for (const Triangle& t : triangles) {
    std::array<VertexIndex, 3> c{t.x, t.y, t.z};
    std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
    lists[c[0]].PushFront(c[1], c[2], 0, t.dependency);
  }
  for (VertexIndex v = 0; v < vertexCount; ++v) {
    CloseRing(v, lists[v]);
    mesh.records[v] = BuildRecord(v, lists[v]);
  }
}

using Tri = std::array<VertexIndex, 3>;

// The triangle rotated to start at its smallest corner (orientation kept).
inline Tri Canonical(Tri t) {
  std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
  return t;
}

// The triangles ForEachFan reports, in walk order.
inline std::vector<Tri> WalkTriangles(const QXPck& mesh, Level level) {
  std::vector<Tri> out;
  ForEachFan(mesh, level, [&](const Fan& fan) {
    for (int i = fan.start + 1; i <= fan.end; ++i) out.push_back({fan.centre, fan.Corner1(i), fan.Corner2(i)});
  });
  return out;
}

// The triangles as a sorted set of canonical triples.
inline std::vector<Tri> TriangleSet(std::vector<Tri> triangles) {
  for (Tri& t : triangles) t = Canonical(t);
  std::sort(triangles.begin(), triangles.end());
  return triangles;
}

// The tetrahedron 2,3,4,5 whose face (3,5,4) is split by refinement vertex 1
// into (1,3,5), (1,5,4), (1,4,3): N = 6, S = 2. Vertex 0 is the dummy.
inline constexpr Triangle kTetraTriangles[] = {
    {2, 3, 4, 0}, {2, 4, 5, 0}, {2, 5, 3, 0},  // base faces that stay
    {3, 5, 4, 1},                              // base face removed by inserting 1
    {1, 3, 5, 0}, {1, 5, 4, 0}, {1, 4, 3, 0},  // vertex 1's fan
};

inline void BuildTetraMesh(QXPck& mesh) {
  BuildFanMesh(mesh, 6, kTetraTriangles);
  mesh.splitIndex = 2;
  mesh.baseCount = 4;
  const Vector positions[6] = {{0, 0, 0}, {0.25f, 0.25f, 0.25f}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0.5f}};
  for (int v = 0; v < 6; ++v) mesh.vertices[v].position = positions[v];
}

// A triangulated grid of side × side vertices (indices 1 …, vertex 0 the
// dummy) whose triangles carry assorted dependencies below their storing
// vertex, so that records have one or two groups and open rings.
inline void BuildGridMesh(QXPck& mesh, int side) {
  std::vector<Triangle> triangles;
  auto at = [side](int row, int column) { return 1 + row * side + column; };
  for (int r = 0; r + 1 < side; ++r)
    for (int c = 0; c + 1 < side; ++c) {
      const VertexIndex p00 = at(r, c), p10 = at(r + 1, c), p11 = at(r + 1, c + 1), p01 = at(r, c + 1);
      triangles.push_back({p00, p10, p11, p00 % 3 == 0 ? 0 : (p00 * 7 + 3) % p00});
      triangles.push_back({p00, p11, p01, p00 % 4 == 0 ? 0 : (p00 * 5 + 1) % p00});
    }
  BuildFanMesh(mesh, 1 + side * side, triangles);
}

}  // namespace qx::testing_fan
