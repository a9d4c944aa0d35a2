#include "fan/metrics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "common/prefetch.h"
#include "common/threads.h"
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

// Byte `byte` of a group's mask, without bits at or past the ring's end.
unsigned MaskByte(const DependencyGroup& group, int byte, int ringSize) {
  const int remaining = ringSize - 8 * byte;  // ring positions from this byte on
  const unsigned bits = group.mask[byte];
  return remaining >= 8 ? bits : bits & ((1u << remaining) - 1);
}

// The number of ring triangles in `group`.
int TriangleCount(const RecordView& record, const DependencyGroup& group) {
  int count = 0;
  for (int byte = 0; byte < group.maskBytes; ++byte) count += std::popcount(MaskByte(group, byte, record.RingSize()));
  return count;
}

// Calls onTriangle for every ring triangle of `group`, in ring order, and
// returns their number. Only the set mask bits are visited: a group usually
// holds a few of the ring's triangles.
template <class OnTriangle>
int ForEachTriangleOfGroup(const RecordView& record, const DependencyGroup& group, VertexIndex centre,
                           OnTriangle&& onTriangle) {
  const int n = record.RingSize();
  const uint32_t* ring = record.Ring();
  int count = 0;
  for (int byte = 0; byte < group.maskBytes; ++byte)
    for (unsigned bits = MaskByte(group, byte, n); bits != 0; bits &= bits - 1) {
      const int j = 8 * byte + std::countr_zero(bits);
      const int next = j + 1 == n ? 0 : j + 1;
      onTriangle(RingTriangle{centre, static_cast<VertexIndex>(ring[j]), static_cast<VertexIndex>(ring[next])});
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
void AccumulateFaceNormal(QXPck& mesh, const RingTriangle& t, Vector face) {
  const VertexIndex corners[3] = {t.centre, t.first, t.second};
  const Vector p[3] = {Position(mesh, t.centre), Position(mesh, t.first), Position(mesh, t.second)};
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
  const Vector pc = Position(mesh, centre);
  ForEachTriangleOfGroup(record, group, centre, [&](const RingTriangle& t) {
    const float d2 = PointTriangleDistanceSquared(p, pc, Position(mesh, t.first), Position(mesh, t.second));
    largest = std::max(largest, std::min(d2, kHuge));
  });
  return largest;
}

// The refiner's error grows to cover the triangles of `group` it removes.
void RaiseRefinerError(QXPck& mesh, RecordMetrics& refinerMetrics, const RecordView& record,
                       const DependencyGroup& group, VertexIndex centre, VertexIndex refiner, float ceiling) {
  if (!(refinerMetrics.error < ceiling)) return;
  const float d2 = GroupDistanceSquared(mesh, record, group, centre, refiner);
  refinerMetrics.error = d2 > ceiling ? ceiling : std::max(refinerMetrics.error, d2);
}

// Raises the error of every refiner of v (the dependencies of v's groups
// that are present) to cover the triangles of v it removes.
void RaiseRefinerErrors(QXPck& mesh, VertexIndex v, float ceiling) {
  const RecordView record(mesh, v);
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    const VertexIndex c = group.dependency;
    if (c == 0 || !mesh.records[c]) continue;
    RaiseRefinerError(mesh, MetricsOf(mesh, c), record, group, v, c, ceiling);
  }
}

// The same raises for a whole mesh, split in two steps that need not run
// together: the farthest removed triangle of every refiner, then the errors.
// Only the largest distance counts, so the first step may visit the vertices
// in any order and beside the rest of the metrics pass, which reads no error.
void MeasureFarthestRemoved(const QXPck& mesh, std::vector<float>& farthest) {
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    const RecordView record(mesh, v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const DependencyGroup group = record.Group(g);
      const VertexIndex c = group.dependency;
      if (c == 0) continue;
      farthest[c] = std::max(farthest[c], GroupDistanceSquared(mesh, record, group, v, c));
    }
  }
}

void RaiseToFarthest(QXPck& mesh, const std::vector<float>& farthest, float ceiling) {
  for (VertexIndex c = 1; c < mesh.vertexCount; ++c) {
    float& error = MetricsOf(mesh, c).error;
    if (error < ceiling) error = farthest[c] > ceiling ? ceiling : std::max(error, farthest[c]);
  }
}

int RecordSizeEstimate(const RecordView& record) {
  const int n = record.RingSize(), m = record.GroupCount();
  return 48 + 4 * n + m * (MaskBytes(n) + 4);
}

// The face normals of one vertex's final triangles, kept from the normal
// accumulation for the crease, which needs the vertex's complete normal.
// A ring holds at most kMaxRingSize triangles; the storage is left
// uninitialised as only the first `count` entries are ever read.
struct FinalFaces {
  int count = 0;
  float xyz[3 * kMaxRingSize];

  void Add(Vector face) {
    xyz[3 * count] = face.x, xyz[3 * count + 1] = face.y, xyz[3 * count + 2] = face.z;
    ++count;
  }
  Vector operator[](int i) const { return {xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]}; }
};

// The work both passes share for one vertex's final triangles: normals,
// counters, region corners. Keeps their face normals in `faces`.
void MeasureFinalTriangles(QXPck& mesh, const RecordView& record, VertexIndex v, Box& region, FinalFaces& faces) {
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    if (group.dependency != 0) continue;
    ForEachTriangleOfGroup(record, group, v, [&](const RingTriangle& t) {
      const Vector face = FaceNormal(mesh, t);
      AccumulateFaceNormal(mesh, t, face);
      ExtendBox(region, Position(mesh, t.first));
      faces.Add(face);
    });
  }
  mesh.finalTriangles += faces.count;
  mesh.allTriangles += faces.count;
}

// The crease of v against its own final triangles, once their normals are in
// v's normal.
float OwnCrease(const QXPck& mesh, const FinalFaces& faces, VertexIndex v) {
  float crease = 0;
  const Vector normal = mesh.vertices[v].normal;
  for (int i = 0; i < faces.count; ++i) crease = RaiseCrease(crease, faces[i], normal);
  return crease;
}

void MeasureVertex(QXPck& mesh, VertexIndex v, float ceiling, RegionBoxes& regions) {
  FanRecord& slot = mesh.records[v];
  if (!slot) slot = FanRecord::Empty();
  const RecordView record(slot);
  mesh.recordBytes += RecordSizeEstimate(record);
  RecordMetrics& metrics = *slot.Metrics();
  if (record.RingSize() == 0) {
    // Nothing bounds such a vertex's region but the mesh itself.
    regions[v] = mesh.box;
    metrics = {RegionRadius(mesh.box, Position(mesh, v)), 1.0f, ceiling, ceiling};
    return;
  }
  metrics = {};
  Box& region = regions[v];
  region = Box{};
  ExtendBox(region, Position(mesh, v));
  FinalFaces faces;
  MeasureFinalTriangles(mesh, record, v, region, faces);
  int counted = faces.count;
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    const VertexIndex c = group.dependency;
    if (c == 0) continue;
    const int triangles = TriangleCount(record, group);
    counted += triangles;
    mesh.allTriangles += triangles;
    // While a mesh loads, the vertices that refine v arrive after it; they
    // update v when they are inserted.
    const FanRecord& refiner = mesh.records[c];
    if (!refiner) continue;
    ExtendBox(region, regions[c]);
    metrics.ownError = std::max(metrics.ownError, RecordView(refiner).Metrics().ownError);
  }
  if (counted < record.RingSize()) metrics.ownError = std::max(metrics.ownError, SquaredLength(region.half));
  metrics.crease = OwnCrease(mesh, faces, v);
  metrics.radius = RegionRadius(region, Position(mesh, v));
}

// The passes read other vertices' records, positions and region boxes in an
// order no hardware prefetcher guesses, but they know it a few vertices
// ahead. They fetch in three steps, each once the previous one's data has
// arrived: a vertex's record; then what the record names (ring positions,
// the refiners' positions, region boxes and record pointers); then the
// refiners' records.
constexpr VertexIndex kRecordLead = 24;
constexpr VertexIndex kNeighbourLead = 16;
constexpr VertexIndex kRefinerLead = 8;

// Meshes from this many vertices on have the distances of the metrics pass
// measured on a second thread; below it, starting one costs more than it saves.
constexpr VertexIndex kParallelDistancesFrom = 4096;

void PrefetchRecord(const QXPck& mesh, VertexIndex v) {
  const std::byte* block = mesh.records[v].Block();
  if (block != nullptr) PrefetchCacheLine(block);
}

// Calls onRefiner(c) for every dependency of v's record that is a vertex of
// the mesh.
template <class OnRefiner>
void ForEachRefiner(const QXPck& mesh, VertexIndex v, OnRefiner&& onRefiner) {
  const RecordView record(mesh, v);
  for (int g = 0; g < record.GroupCount(); ++g) {
    const VertexIndex c = record.Group(g).dependency;
    if (c > 0 && c < mesh.vertexCount) onRefiner(c);
  }
}

void PrefetchNeighbourhood(const QXPck& mesh, const RegionBoxes& regions, VertexIndex v) {
  const RecordView record(mesh, v);
  for (int j = 0; j < record.RingSize(); ++j) {
    const VertexIndex u = static_cast<VertexIndex>(record.Ring()[j]);
    if (u >= 0 && u < mesh.vertexCount) PrefetchCacheLine(&mesh.vertices[u]);
  }
  ForEachRefiner(mesh, v, [&](VertexIndex c) {
    PrefetchCacheLine(&mesh.vertices[c]);
    PrefetchCacheLine(&regions[c]);
    PrefetchCacheLine(&mesh.records[c]);
  });
}

void PrefetchRefinerRecords(const QXPck& mesh, VertexIndex v) {
  ForEachRefiner(mesh, v, [&](VertexIndex c) { PrefetchCacheLine(mesh.records[c].Block()); });
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
    // Every record exists before the distances are measured beside the
    // pass, so that neither side replaces a record the other reads.
    if (!mesh.records[v]) mesh.records[v] = FanRecord::Empty();
  }
  mesh.weight = Length(mesh.box.half);
  const float ceiling = ErrorCeiling(mesh);

  // The distances read positions and rings only; the pass below writes
  // normals, header floats and region boxes only.
  std::vector<float> farthest(static_cast<size_t>(std::max<VertexIndex>(n, 1)), 0.0f);
  std::thread measuring;
  if (n < kParallelDistancesFrom || !StartThread(measuring, [&] { MeasureFarthestRemoved(mesh, farthest); }))
    MeasureFarthestRemoved(mesh, farthest);
  for (VertexIndex v = 1; v < n; ++v) {
    if (v + kRecordLead < n) PrefetchRecord(mesh, v + kRecordLead);
    if (v + kNeighbourLead < n) PrefetchNeighbourhood(mesh, regions, v + kNeighbourLead);
    if (v + kRefinerLead < n) PrefetchRefinerRecords(mesh, v + kRefinerLead);
    MeasureVertex(mesh, v, ceiling, regions);
  }
  if (measuring.joinable()) measuring.join();
  RaiseToFarthest(mesh, farthest, ceiling);
  Finalise(mesh);
}

namespace {

// Starts loading what the error propagation reads for vertex v: its
// refiners' normals and record pointers (the records follow in a later step).
void PrefetchRefiners(const QXPck& mesh, VertexIndex v) {
  ForEachRefiner(mesh, v, [&](VertexIndex c) {
    PrefetchCacheLine(&mesh.vertices[c]);
    PrefetchCacheLine(&mesh.records[c]);
  });
}

void NormaliseNormals(QXPck& mesh) {
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    Vector& normal = mesh.vertices[v].normal;
    const float q = SquaredLength(normal);
    if (q >= 1e-20f) normal = normal * (1.0f / std::max(std::sqrt(q), 1e-10f));
  }
}

// Every refiner c < v raises v's error. Going down from the top, each vertex
// reads its refiners' errors before they are raised in turn.
void PropagateErrors(QXPck& mesh) {
  const VertexIndex n = mesh.vertexCount;
  for (VertexIndex v = n - 1; v >= 1; --v) {
    if (v > kRecordLead) PrefetchRecord(mesh, v - kRecordLead);
    if (v > kNeighbourLead) PrefetchRefiners(mesh, v - kNeighbourLead);
    if (v > kRefinerLead) PrefetchRefinerRecords(mesh, v - kRefinerLead);
    FanRecord& slot = mesh.records[v];
    if (!slot) continue;
    RecordMetrics& metrics = *slot.Metrics();
    const RecordView record(slot);
    const Vector normal = mesh.vertices[v].normal;
    for (int g = 0; g < record.GroupCount(); ++g) {
      const VertexIndex c = record.Group(g).dependency;
      if (c == 0) continue;
      const float alignment = Dot(mesh.vertices[c].normal, normal);
      const float cError = mesh.records[c] ? MetricsOf(mesh, c).error : 0.0f;
      metrics.error = std::max(metrics.error, std::fabs(alignment * cError + metrics.error));
      metrics.error = std::max(metrics.error, metrics.ownError);
    }
    // Also for a vertex whose groups are all final: its own error (a gap in
    // its ring) bounds what it stands for even when nothing refines it.
    metrics.error = std::max(metrics.error, metrics.ownError);
  }
}

// A ringless vertex's region is the whole mesh box, which a loading mesh
// knows only once its last vertex has arrived.
void EncloseRinglessInTheBox(QXPck& mesh) {
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    FanRecord& slot = mesh.records[v];
    if (slot && RecordView(slot).RingSize() == 0) slot.Metrics()->radius = RegionRadius(mesh.box, Position(mesh, v));
  }
}

}  // namespace

void Finalise(QXPck& mesh) {
  if (mesh.finalised) return;
  NormaliseNormals(mesh);
  PropagateErrors(mesh);
  EncloseRinglessInTheBox(mesh);
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
  RaiseRefinerErrors(mesh, v, ceiling);
  const RecordView record = mesh.Record(v);
  RaiseNeighbourCreases(mesh, record, v, limit);
  // The vertices whose triangles v removes were measured before v existed.
  RecordMetrics& metrics = MetricsOf(mesh, v);
  ForEachDependent(mesh, v, [&](VertexIndex u, const RecordView& dependent, const DependencyGroup& group) {
    if (u > limit) return;
    RaiseRefinerError(mesh, metrics, dependent, group, u, v, ceiling);
    RecordMetrics& dependentMetrics = MetricsOf(mesh, u);
    dependentMetrics.ownError = std::max(dependentMetrics.ownError, metrics.ownError);
  });
  SpreadRegion(mesh, v, limit, regions);
}

Level LevelFromTolerance(const QXPck& mesh, float tolerance) {
  const double exact = static_cast<double>(mesh.vertexCount) * tolerance;
  // A tolerance meant as k/N arrives rounded to a float, which may put N ×
  // tolerance a hair below k (56/115 gives 55.9999…): within that rounding
  // (half a float step, relative) it stands for k itself.
  const double nearest = std::round(exact);
  const double rounding = std::fabs(exact) * std::numeric_limits<float>::epsilon();
  return static_cast<Level>(std::fabs(exact - nearest) <= rounding ? nearest : std::floor(exact));
}

}  // namespace qx
