// QXPck: one fan mesh, the progressive representation of one mesh.
//
// Vertex numbering, for N vertices and split index S:
//   0          the dummy vertex: no position, empty record, never coded;
//              a triangle with dependency 0 is never removed;
//   1 … S−1    refinement vertices, in the order the simplification removed
//              them (decoding inserts S−1 first, 1 last);
//   S … N−1    base vertices, the coarsest mesh, coded first (N−1 down to S).
// Vertex v's record refers only to larger indices in its ring and to indices
// not larger than v as dependencies.
//
// Level of detail (the contract of every walker, fan_walk.h): at level L the
// vertices above L are present, and a triangle in vertex v's group with
// dependency c is shown exactly when v > L and c ≤ L. Level 0 is the full
// mesh, level N−1 shows nothing. A walk uses the effective level
// max(L, pendingCount), so nothing not yet decoded is used.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "common/geometry.h"
#include "fan/fan_record.h"
#include "fan/vertex_bits.h"
#include "stream/persistent.h"

namespace qx {

// The vertex record: normal then position, handed to OpenGL as the
// interleaved GL_N3F_V3F array.
struct FanVertex {
  Vector normal;
  Vector position;
};
static_assert(sizeof(FanVertex) == 24, "FanVertex is the 24-byte GL_N3F_V3F record");

class QXPck final : public PersistentObject {
 public:
  static const ClassDescriptor kClass;  // "QXPck"; the record body is empty
  QXPck() = default;
  QXPck(const QXPck&) = delete;
  QXPck& operator=(const QXPck&) = delete;
  const ClassDescriptor* GetClass() const override { return &kClass; }

  // Makes the mesh one of `count` vertices (count ≥ 0, already checked
  // against the input when it comes from a file): ⌈count/32⌉ cleared bit-set
  // words, `count` zeroed vertices, `count` missing records (earlier records
  // are released); vertex count = count; pending count, split index, base
  // count, statistics, counters, group and finalised flag 0; box empty,
  // weight 0.
  void Create(int32_t count);

  // Vertex v's record (a missing one, or v outside the mesh, reads empty).
  RecordView Record(VertexIndex v) const { return RecordView(*this, v); }
  // The effective level of a walk: max(level, pendingCount).
  Level EffectiveLevel(Level level) const { return level > pendingCount ? level : pendingCount; }

  // The mesh lock, a binary semaphore: the decoder holds it while it inserts
  // a vertex, the renderer while it draws the mesh. Every holder takes and
  // releases it on one thread, so a mutex serves; unlike the standard binary
  // semaphore it costs no system call when nobody waits, which matters at
  // one lock per decoded vertex.
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }

  // Bit statistics, split at the split index: geometry below it, geometry at
  // or above it, connectivity below it, connectivity at or above it.
  enum BitStat { kGeometryBelow, kGeometryAbove, kConnectivityBelow, kConnectivityAbove };
  int32_t bitStats[4] = {0, 0, 0, 0};

  QXPck* next = nullptr;       // link of the scene's mesh list
  int32_t vertexCount = 0;     // N, vertices of the complete mesh
  int32_t pendingCount = 0;    // lowest vertex decoded so far: N before any, 0 when complete
  int32_t splitIndex = 0;      // S, 0 <= S <= N - 1
  int32_t baseCount = 0;       // N - S
  Box box;                     // bounding box of all vertex positions
  float weight = 0;            // bounding radius; the container's priority weight

  // Fan data.
  VertexBits bits;             // scratch marks, one bit per vertex
  uint8_t finalised = 0;       // 1 once normals are normalised and errors propagated (metrics.h)
  int32_t group = 0;           // face group of all triangles, set by the builder
  int32_t recordBytes = 0;     // size estimate of all records (metrics pass)
  int32_t finalTriangles = 0;  // triangles with dependency 0 (metrics pass)
  int32_t allTriangles = 0;    // all triangles (metrics pass)
  // The classes of the coders the mesh was last written or read with (none
  // for a mesh that never met a file); for reports.
  const ClassDescriptor* connectivityClass = nullptr;
  const ClassDescriptor* geometryClass = nullptr;
  std::vector<FanVertex> vertices;  // N vertex records
  std::vector<FanRecord> records;   // N fan records; a missing one reads as empty

 private:
  std::mutex lock_;
};

inline RecordView::RecordView(const QXPck& mesh, VertexIndex v) {
  if (v < 0 || static_cast<size_t>(v) >= mesh.records.size()) return;
  const FanRecord& record = mesh.records[static_cast<size_t>(v)];
  if (record) Attach(record.Block());
}

}  // namespace qx
