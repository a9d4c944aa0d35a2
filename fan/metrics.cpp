#include "fan/metrics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fan/fan_record.h"
#include "fan/pck.h"
#include "fan/triangle_distance.h"

namespace qx {
namespace {

float SquaredLength(Vector v) { return Dot(v, v); }

// The square of twice the mesh radius: the error of vertices whose region is
// unknown, capped at the program's infinity.
float ErrorCeiling(const QXPck& mesh) {
  const double doubled = 2.0 * mesh.weight;
  return doubled * doubled > kHuge ? kHuge : static_cast<float>(doubled * doubled);
}

const Vector& Position(const QXPck& mesh, VertexIndex v) { return mesh.vertices[v].position; }

RecordMetrics& MetricsOf(QXPck& mesh, VertexIndex v) { return *mesh.records[v].Metrics(); }

// How much of a face normal a corner receives: 1 - cos^2 of the corner angle,
// mirrored for obtuse corners, so that thin slivers weigh little.
float CornerWeight(Vector a, Vector b) {
  const float lengths = SquaredLength(a) * SquaredLength(b);
  if (lengths == 0) return 0;
  const float c = Dot(a, b);
  const float ratio = c * c / lengths;
  return c >= 0 ? 1 - ratio : 1 + ratio;
}

// One ring triangle of a record.
struct RingTriangle {
  VertexIndex centre, first, second;
};

template <class OnTriangle>
int ForEachTriangleOfGroup(const RecordView& record, const DependencyGroup& group, VertexIndex centre,
                           OnTriangle&& onTriangle) {
  int count = 0;
  for (int j = 0; j < record.RingSize(); ++j)
    if (group.Has(j)) {
      onTriangle(RingTriangle{centre, record.Neighbour(j), record.Neighbour(j + 1)});
      ++count;
    }
  return count;
}

// The unnormalised normal of a ring triangle.
Vector FaceNormal(const QXPck& mesh, const RingTriangle& t) {
  const Vector p0 = Position(mesh, t.centre);
  return Cross(Position(mesh, t.first) - p0, Position(mesh, t.second) - p0);
}

// Adds a final triangle's corner-weighted normal to its three corners.
void AccumulateFaceNormal(QXPck& mesh, const RingTriangle& t) {
  const VertexIndex corners[3] = {t.centre, t.first, t.second};
  const Vector p[3] = {Position(mesh, t.centre), Position(mesh, t.first), Position(mesh, t.second)};
  const Vector face = FaceNormal(mesh, t);
  for (int k = 0; k < 3; ++k) {
    const float w = CornerWeight(p[(k + 1) % 3] - p[k], p[(k + 2) % 3] - p[k]);
    Vector& normal = mesh.vertices[corners[k]].normal;
    normal = normal + face * w;
  }
}

// Raises a crease value for a face of normal `face` around a vertex of normal
// `normal`: faces turned away from the vertex normal make it crease fully.
float RaiseCrease(float crease, Vector face, Vector normal) {
  const float dot = Dot(face, normal);
  const float lengths = SquaredLength(face) * SquaredLength(normal);
  const float s = (dot >= 0 && lengths >= 1e-40f) ? 1 - dot * dot / lengths : 1.0f;
  return std::min(1.0f, std::max(crease, s));
}

float RegionRadius(const Box& region, Vector position) {
  return Length(region.centre - position) + Length(region.half);
}

// The largest squared distance from the position of `refiner` to the
// triangles of `group` (which `refiner` removes), capped at infinity.
float GroupDistanceSquared(const QXPck& mesh, const RecordView& record, const DependencyGroup& group,
                           VertexIndex centre, VertexIndex refiner) {
  float largest = 0;
  const Vector p = Position(mesh, refiner);
  ForEachTriangleOfGroup(record, group, centre, [&](const RingTriangle& t) {
    const float d2 = PointTriangleDistanceSquared(p, Position(mesh, t.centre), Position(mesh, t.first),
                                                  Position(mesh, t.second));
    largest = std::max(largest, std::min(d2, kHuge));
  });
  return largest;
}

// `refiner`'s error grows to cover the triangles of `group` it removes.
void RaiseRefinerError(QXPck& mesh, const RecordView& record, const DependencyGroup& group, VertexIndex centre,
                       VertexIndex refiner, float ceiling) {
  RecordMetrics& refinerMetrics = MetricsOf(mesh, refiner);
  if (!(refinerMetrics.error < ceiling)) return;
  const float d2 = GroupDistanceSquared(mesh, record, group, centre, refiner);
  refinerMetrics.error = d2 > ceiling ? ceiling : std::max(refinerMetrics.error, d2);
}

int RecordSizeEstimate(const RecordView& record) {
  const int n = record.RingSize(), m = record.GroupCount();
  return 48 + 4 * n + m * (MaskBytes(n) + 4);
}

// The work both passes share for one vertex's final triangles: normals,
// counters, region corners. Returns the number of final triangles.
int MeasureFinalTriangles(QXPck& mesh, const RecordView& record, VertexIndex v, Box& region) {
  int final = 0;
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    if (group.dependency != 0) continue;
    final += ForEachTriangleOfGroup(record, group, v, [&](const RingTriangle& t) {
      AccumulateFaceNormal(mesh, t);
      ExtendBox(region, Position(mesh, t.first));
    });
  }
  mesh.finalTriangles += final;
  mesh.allTriangles += final;
  return final;
}

// The crease of v against its own final triangles, once their normals are in
// v's normal. The face normals are computed again rather than kept: that is
// cheaper than a buffer per vertex.
float OwnCrease(const QXPck& mesh, const RecordView& record, VertexIndex v) {
  float crease = 0;
  const Vector normal = mesh.vertices[v].normal;
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    if (group.dependency != 0) continue;
    ForEachTriangleOfGroup(record, group, v, [&](const RingTriangle& t) {
      crease = RaiseCrease(crease, FaceNormal(mesh, t), normal);
    });
  }
  return crease;
}

void MeasureVertex(QXPck& mesh, VertexIndex v, float ceiling, RegionBoxes& regions) {
  const RecordView record = mesh.Record(v);
  mesh.recordBytes += RecordSizeEstimate(record);
  if (!mesh.records[v]) mesh.records[v] = FanRecord::Empty();
  RecordMetrics& metrics = MetricsOf(mesh, v);
  if (record.RingSize() == 0) {
    regions[v] = mesh.box;
    metrics = {0, 1.0f, ceiling, ceiling};
    return;
  }
  metrics = {};
  Box& region = regions[v];
  region = Box{};
  ExtendBox(region, Position(mesh, v));
  int counted = MeasureFinalTriangles(mesh, record, v, region);
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    const VertexIndex c = group.dependency;
    if (c == 0) continue;
    const int triangles = ForEachTriangleOfGroup(record, group, v, [](const RingTriangle&) {});
    counted += triangles;
    mesh.allTriangles += triangles;
    // While a mesh loads, the vertices that refine v arrive after it; they
    // update v when they are inserted.
    if (!mesh.records[c]) continue;
    ExtendBox(region, regions[c]);
    RaiseRefinerError(mesh, record, group, v, c, ceiling);
    metrics.ownError = std::max(metrics.ownError, MetricsOf(mesh, c).ownError);
  }
  if (counted < record.RingSize()) metrics.ownError = std::max(metrics.ownError, SquaredLength(region.half));
  metrics.crease = OwnCrease(mesh, record, v);
  metrics.radius = RegionRadius(region, Position(mesh, v));
}

}  // namespace

void ComputeMetrics(QXPck& mesh) {
  const VertexIndex n = mesh.vertexCount;
  RegionBoxes regions(std::max<VertexIndex>(n, 1));
  mesh.recordBytes = mesh.finalTriangles = mesh.allTriangles = 0;
  mesh.box = Box{};
  for (VertexIndex v = 1; v < n; ++v) {
    mesh.vertices[v].normal = {};
    ExtendBox(mesh.box, Position(mesh, v));
  }
  mesh.weight = Length(mesh.box.half);
  const float ceiling = ErrorCeiling(mesh);
  for (VertexIndex v = 1; v < n; ++v) MeasureVertex(mesh, v, ceiling, regions);
  Finalise(mesh);
}

void Finalise(QXPck& mesh) {
  if (mesh.finalised) return;
  const VertexIndex n = mesh.vertexCount;
  for (VertexIndex v = 1; v < n; ++v) {
    Vector& normal = mesh.vertices[v].normal;
    const float q = SquaredLength(normal);
    if (q >= 1e-20f) normal = normal * (1.0f / std::max(std::sqrt(q), 1e-10f));
  }
  for (VertexIndex v = n - 1; v >= 1; --v) {
    if (!mesh.records[v]) continue;
    RecordMetrics& metrics = MetricsOf(mesh, v);
    const RecordView record = mesh.Record(v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const VertexIndex c = record.Group(g).dependency;
      if (c == 0) continue;
      const float alignment = Dot(mesh.vertices[c].normal, mesh.vertices[v].normal);
      const float cError = mesh.records[c] ? MetricsOf(mesh, c).error : 0.0f;
      metrics.error = std::max(metrics.error, std::fabs(alignment * cError + metrics.error));
      metrics.error = std::max(metrics.error, metrics.ownError);
    }
  }
  mesh.finalised = 1;
}

namespace {

// Vertices whose triangles `v` removes: the ring neighbours holding a group of
// dependency v (every such triangle lies in v's hole, so its stored corner is
// on v's ring). Calls onDependent(u, record of u, that group).
template <class OnDependent>
void ForEachDependent(const QXPck& mesh, VertexIndex v, OnDependent&& onDependent) {
  const RecordView record = mesh.Record(v);
  for (int j = 0; j < record.RingSize(); ++j) {
    const VertexIndex u = record.Neighbour(j);
    if (u <= v || u >= mesh.vertexCount) continue;
    const RecordView dependent = mesh.Record(u);
    for (int g = 0; g < dependent.GroupCount(); ++g)
      if (dependent.Group(g).dependency == v) onDependent(u, dependent, dependent.Group(g));
  }
}

// Grows the region of every vertex refined (directly or further up) by `v`,
// recomputing radii as boxes change and stopping where nothing changes.
void SpreadRegion(QXPck& mesh, VertexIndex v, VertexIndex limit, RegionBoxes& regions) {
  // A first-in first-out queue over a vector: nearly every vertex changes
  // only a handful of others, and the vector keeps its room per thread.
  thread_local std::vector<VertexIndex> changed;
  changed.assign(1, v);
  for (size_t next = 0; next < changed.size(); ++next) {
    const VertexIndex from = changed[next];
    ForEachDependent(mesh, from, [&](VertexIndex u, const RecordView&, const DependencyGroup&) {
      if (u > limit || !ExtendBox(regions[u], regions[from])) return;
      MetricsOf(mesh, u).radius = RegionRadius(regions[u], Position(mesh, u));
      changed.push_back(u);
    });
  }
}

// Creases of the ring neighbours that share v's new final triangles.
void RaiseNeighbourCreases(QXPck& mesh, const RecordView& record, VertexIndex v, VertexIndex limit) {
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    if (group.dependency != 0) continue;
    ForEachTriangleOfGroup(record, group, v, [&](const RingTriangle& t) {
      const Vector face = FaceNormal(mesh, t);
      for (VertexIndex u : {t.first, t.second}) {
        if (u > limit || !mesh.records[u]) continue;
        float& crease = MetricsOf(mesh, u).crease;
        crease = RaiseCrease(crease, face, mesh.vertices[u].normal);
      }
    });
  }
}

}  // namespace

void InsertVertex(QXPck& mesh, VertexIndex v, VertexIndex limit, RegionBoxes& regions) {
  if (v < 1 || v >= mesh.vertexCount || v >= static_cast<VertexIndex>(regions.size())) return;
  ExtendBox(mesh.box, Position(mesh, v));
  const float ceiling = ErrorCeiling(mesh);
  MeasureVertex(mesh, v, ceiling, regions);
  const RecordView record = mesh.Record(v);
  RaiseNeighbourCreases(mesh, record, v, limit);
  // The vertices whose triangles v removes were measured before v existed.
  ForEachDependent(mesh, v, [&](VertexIndex u, const RecordView& dependent, const DependencyGroup& group) {
    if (u > limit) return;
    RaiseRefinerError(mesh, dependent, group, u, v, ceiling);
    RecordMetrics& metrics = MetricsOf(mesh, u);
    metrics.ownError = std::max(metrics.ownError, MetricsOf(mesh, v).ownError);
  });
  SpreadRegion(mesh, v, limit, regions);
}

Level LevelFromTolerance(const QXPck& mesh, float tolerance) {
  return static_cast<Level>(std::floor(static_cast<double>(mesh.vertexCount) * tolerance));
}

}  // namespace qx
