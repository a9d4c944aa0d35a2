// Walking a fan mesh: the fan enumeration every consumer shares, the
// level-of-detail walk, the 16-bit index collector of the vertex-array path,
// the text dump and face inversion.
//
// A *fan* is a maximal run of set bits s … e−1 inside one byte of a group's
// mask; it stands for the triangles (centre, ring[i−1], ring[i mod n]) for
// i = s+1 … e. Runs never continue across a byte border: bits 6 … 9 of a
// 2-byte mask are the two fans (6, 8) and (8, 10). The runs of a byte come
// from two 256-entry tables, so hidden triangles are skipped a byte at a time.
//
// Level rule (see pck.h): at level L a triangle of vertex v with dependency c
// is shown exactly when v > L' and c ≤ L', with L' = max(L, pending count).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "fan/face_link.h"
#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx {

namespace fan_tables {

constexpr std::array<uint8_t, 256> MakeTrailingZeros() {
  std::array<uint8_t, 256> table{};
  for (int x = 1; x < 256; ++x) {
    int zeros = 0;
    while (!((x >> zeros) & 1)) ++zeros;
    table[x] = static_cast<uint8_t>(zeros);
  }
  return table;
}

constexpr std::array<uint8_t, 256> MakeRunEnd() {
  std::array<uint8_t, 256> table{};
  for (int x = 1; x < 256; ++x) {
    int end = 0;
    while (!((x >> end) & 1)) ++end;
    while (end < 8 && ((x >> end) & 1)) ++end;
    table[x] = static_cast<uint8_t>(end);
  }
  return table;
}

}  // namespace fan_tables

// For a mask byte x: the number of trailing zero bits (0 for x = 0) …
inline constexpr std::array<uint8_t, 256> kMaskRunStart = fan_tables::MakeTrailingZeros();
// … and the bit position just past its lowest run of ones (0 for x = 0).
inline constexpr std::array<uint8_t, 256> kMaskRunEnd = fan_tables::MakeRunEnd();

// One fan as the walks report it.
struct Fan {
  const uint32_t* ring;  // the centre's ring, ringSize entries
  int ringSize;          // n
  VertexIndex centre;
  int start;             // s: first set bit
  int end;               // e: one past the last set bit; e ≤ n

  int Triangles() const { return end - start; }
  // Corners of triangle i, start < i ≤ end: (centre, ring[i−1], ring[i mod n]).
  VertexIndex Corner1(int i) const { return static_cast<VertexIndex>(ring[i - 1]); }
  VertexIndex Corner2(int i) const { return static_cast<VertexIndex>(ring[i % ringSize]); }
};

// Calls onRun(s, e) for each fan of the group's mask, in ascending bit order.
template <class OnRun>
void ForEachRun(const DependencyGroup& group, OnRun&& onRun) {
  for (int byte = 0; byte < group.maskBytes; ++byte) {
    unsigned bits = group.mask[byte];
    int base = 8 * byte;
    while (bits) {
      const int end = kMaskRunEnd[bits];
      onRun(base + kMaskRunStart[bits], base + end);
      // The bit at `end` is zero: shift it out with the run.
      bits >>= end + 1;
      base += end + 1;
    }
  }
}

// Calls onFan(const Fan&) for every fan of the groups of `record` (centre
// vertex `centre`) for which keepGroup(dependency) holds, groups in stored
// order. Returns the number of triangles reported. This is the loop that
// ForEachFan and the selective walk (frustum.h) share.
template <class KeepGroup, class OnFan>
int64_t ForEachFanOfRecord(const RecordView& record, VertexIndex centre, KeepGroup&& keepGroup,
                           OnFan&& onFan) {
  int64_t triangles = 0;
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    if (!keepGroup(group.dependency)) continue;
    ForEachRun(group, [&](int start, int end) {
      triangles += end - start;
      onFan(Fan{record.Ring(), record.RingSize(), centre, start, end});
    });
  }
  return triangles;
}

// The fan walk at level L: for v = L'+1 … N−1 ascending, for each group of v
// with dependency ≤ L' in stored order, each fan of its mask in ascending
// bit order goes to onFan(const Fan&) (L' = max(L, pending count)). Returns
// the number of triangles shown. Whatever onFan captures is its context. Take the mesh lock around it while a decoder may run.
template <class OnFan>
int64_t ForEachFan(const QXPck& mesh, Level level, OnFan&& onFan) {
  const Level effective = mesh.EffectiveLevel(level);
  if (effective >= mesh.vertexCount - 1) return 0;
  int64_t triangles = 0;
  for (VertexIndex v = effective + 1; v < mesh.vertexCount; ++v)
    triangles += ForEachFanOfRecord(
        mesh.Record(v), v, [effective](VertexIndex dependency) { return dependency <= effective; },
        onFan);
  return triangles;
}

// Index capacity that holds the largest ring (3 × 255 indices) with room to
// spare; any capacity above 3 × the mesh's largest ring size works.
inline constexpr int kMinTriangleIndexCapacity = 768;

// Writes the triangles shown at level L as 16-bit index triples (centre,
// ring[i−1], ring[i mod n]) into `indices`, walking like ForEachFan from
// vertex max(resume, L'+1). Before each vertex it stops when the indices
// written plus 3n would reach the capacity. Returns the triangles written and
// leaves in `resume` the vertex to continue with — N when the walk is done —
// so a caller fills buffer after buffer:
//   VertexIndex resume = 0;
//   do draw(CollectTriangles(mesh, level, resume, buffer)); while (resume < mesh.vertexCount);
// Preconditions: N ≤ 65536 (indices are 16 bits); indices.size() above 3 × the
// largest ring size (kMinTriangleIndexCapacity always is), so that every call
// makes progress.
int CollectTriangles(const QXPck& mesh, Level level, VertexIndex& resume, std::span<uint16_t> indices);

// Text dump (the ".txt" written beside a saved scene), for v from `last` down to `first`+1; a
// negative first counts as 0, a negative last or one above N−1 as N−1;
// nothing when last ≤ first. Per vertex:
//   "\n[v] " then its groups, separated by ",", each fan of a group as
//   "(dependency,{ring[s],…,ring[e−1],ring[e mod n]})", then
//   "\t{x,y,z}[radius,crease,error,ownError]" (all floats as %f).
void DumpText(const QXPck& mesh, std::FILE* file, VertexIndex first, VertexIndex last);

// The links of a record: for each group (stored order) with dependency c and
// each set bit j (ascending), a link (ring[j], ring[j+1 mod n], group 0, c)
// — corners swapped when `reversed` — put in front of the list. A link whose
// corners are equal is the fatal error "\nError en compress: %d" (c). The
// list is not yet a ring: CloseRing it.
FaceList RecordLinks(const RecordView& record, bool reversed);

// The closed ring that `record` stores around `centre`, in ring order from
// its first position: position j is the triangle (ring[j], ring[j+1 mod n])
// with its group's dependency, or a gap link (dependency `centre`) where no
// group has it. This is the ring the record was built from, so coding it
// needs no new closing (which a non-manifold vertex could make ambiguous).
FaceList StoredRing(const RecordView& record, VertexIndex centre);

// The dependency of ring triangle j as StoredRing gives it: that of the
// last group holding the triangle, or `centre` for a gap.
inline VertexIndex TriangleDependency(const RecordView& record, VertexIndex centre, int j) {
  VertexIndex dependency = centre;
  for (int g = 0; g < record.GroupCount(); ++g)
    if (record.Group(g).Has(j)) dependency = record.Group(g).dependency;
  return dependency;
}

// Reverses every triangle of the mesh: each vertex's record becomes
// BuildRecord(v, CloseRing(v, reversed links)). Positions and normals stay;
// the new records' header floats are 0 until the metrics are recomputed;
// missing records become empty records. Fatal errors as RecordLinks,
// CloseRing and BuildRecord. For a complete mesh (not while decoding).
void InvertFaces(QXPck& mesh);

}  // namespace qx
