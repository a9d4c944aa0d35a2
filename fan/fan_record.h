// Fan records: per vertex of a fan mesh, its ring of neighbours and the
// triangles it contributes, grouped by dependency.
//
// One record is ONE zero-filled heap block with this byte layout:
//
//   offset  field        type                meaning
//   0       radius       float               sphere around the vertex enclosing its region
//   4       crease       float               shading value (1.0 for an empty ring)
//   8       error        float               error bound including what depends on it
//   12      ownError     float               error of the vertex's own triangles
//   16      ringSize n   uint8               ring positions; 0 for the empty record
//   17      groupCount m uint8               dependency groups
//   18      —            2 bytes             reserved, zero
//   20      ring         n × uint32          neighbour indices, cyclic, smallest first
//   20+4n   groups       m × (4 + ⌈n/8⌉)     per group: uint32 dependency, then a mask
//
// Bit j of a group's mask (byte j/8, bit j mod 8, least significant first)
// says that ring triangle j — (vertex, ring[j], ring[(j+1) mod n]) — exists
// and has that group's dependency. Groups are sorted by dependency, each
// dependency once. The empty record is 20 bytes with n = m = 0. Group
// headers are not 4-byte aligned when ⌈n/8⌉ is not a multiple of 4; the view
// reads them byte-wise.
//
// `FanRecord` owns a block; `RecordView` is the only way to read one: it
// computes every pointer from n and m, and a missing record (null) reads as
// the empty record. Masks and ring are written only by BuildRecord, so a
// view never reaches past its block and no mask bit at or above n is set.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "fan/face_link.h"

namespace qx {

class QXPck;

// The four header floats: the values the metrics pass (metrics.h) computes and
// the renderer and text dump read. BuildRecord leaves them 0.
struct RecordMetrics {
  float radius = 0;
  float crease = 0;
  float error = 0;
  float ownError = 0;
};
static_assert(sizeof(RecordMetrics) == 16);

inline constexpr int kRecordHeaderBytes = 20;
inline constexpr int kRingSizeOffset = 16;
inline constexpr int kGroupCountOffset = 17;
// A ring size is one byte: rings of 256 or more links cannot be stored.
inline constexpr int kMaxRingSize = 255;

// Number of mask bytes of a ring of n positions: ⌈n/8⌉.
constexpr int MaskBytes(int ringSize) { return (ringSize + 7) / 8; }
// Total bytes of a record: 20 + 4n + m·(4 + ⌈n/8⌉).
constexpr size_t RecordBytes(int ringSize, int groupCount) {
  return kRecordHeaderBytes + 4 * static_cast<size_t>(ringSize) +
         static_cast<size_t>(groupCount) * (4 + MaskBytes(ringSize));
}

// Records alive in the process: every allocation counts up, every release
// down (thread-safe). The editor reports it at exit ("Unused nodes: %d").
int FanRecordsAlive();

// Owner of one record block; null stands for a missing record. Move-only.
class FanRecord {
 public:
  FanRecord() = default;

  // A zero-filled block for n ring positions and m groups, with ringSize and
  // groupCount set. 0 ≤ n ≤ 255, 0 ≤ m ≤ n (m = 0 only with n = 0 in
  // practice). Counts as one record alive until released.
  static FanRecord Allocate(int ringSize, int groupCount);
  // The empty 20-byte record.
  static FanRecord Empty() { return Allocate(0, 0); }

  explicit operator bool() const { return block_ != nullptr; }
  // Releases the block (nothing for a missing record).
  void Reset() { block_.reset(); }

  // The header floats, writable; none for a missing record.
  RecordMetrics* Metrics();
  // The whole block, read-only (tests compare records byte for byte).
  std::span<const std::byte> Bytes() const;
  // The start of the block; null for a missing record.
  const std::byte* Block() const { return block_.get(); }

 private:
  friend class RecordWriter;
  struct Release {
    void operator()(std::byte* block) const;
  };
  std::unique_ptr<std::byte[], Release> block_;
};

// One dependency group as the view reads it.
struct DependencyGroup {
  VertexIndex dependency = 0;
  const uint8_t* mask = nullptr;  // ⌈n/8⌉ bytes
  int maskBytes = 0;

  // Whether ring triangle `position` (0 ≤ position < 8·maskBytes) is set.
  bool Has(int position) const { return (mask[position >> 3] >> (position & 7)) & 1; }
};

// Read access to one record; pointers are computed from n and m.
class RecordView {
 public:
  // The empty record.
  RecordView() = default;
  // A missing record reads as the empty record. The view borrows the block:
  // the record must outlive it and not be replaced meanwhile.
  explicit RecordView(const FanRecord& record) {
    if (record) Attach(record.Block());
  }
  // Vertex v's record of the mesh; a missing record, or v outside the
  // mesh's records, reads as the empty record. Defined inline in pck.h.
  RecordView(const QXPck& mesh, VertexIndex v);

  int RingSize() const { return ringSize_; }                // n
  int MaskBytes() const { return qx::MaskBytes(ringSize_); }  // ⌈n/8⌉
  int GroupCount() const { return groupCount_; }            // m
  bool IsEmpty() const { return ringSize_ == 0 && groupCount_ == 0; }

  // The ring, n neighbour indices in cyclic order starting at the smallest.
  const uint32_t* Ring() const { return ring_; }
  std::span<const uint32_t> RingSpan() const { return {ring_, static_cast<size_t>(ringSize_)}; }
  // ring[position mod n]; position ≥ 0, n must not be 0. Callers mostly
  // ask for j or j + 1 with j < n, which need no division.
  VertexIndex Neighbour(int position) const {
    if (position >= ringSize_) position -= ringSize_;
    if (position >= ringSize_) position %= ringSize_;
    return static_cast<VertexIndex>(ring_[position]);
  }

  // Group g, 0 ≤ g < m, in stored (ascending dependency) order.
  DependencyGroup Group(int g) const {
    assert(g >= 0 && g < groupCount_);
    const std::byte* at = groups_ + g * GroupStride();
    uint32_t dependency;
    std::memcpy(&dependency, at, 4);
    return {static_cast<VertexIndex>(dependency), reinterpret_cast<const uint8_t*>(at + 4), MaskBytes()};
  }
  // The raw group area: first group and end of groups (4 + ⌈n/8⌉ bytes per group).
  const std::byte* GroupsBegin() const { return groups_; }
  const std::byte* GroupsEnd() const { return groups_ + GroupStride() * groupCount_; }
  int GroupStride() const { return 4 + MaskBytes(); }

  // Header floats (all 0 for a missing record).
  const RecordMetrics& Metrics() const { return *metrics_; }

 private:
  void Attach(const std::byte* block) {
    metrics_ = std::launder(reinterpret_cast<const RecordMetrics*>(block));
    ringSize_ = static_cast<int>(block[kRingSizeOffset]);
    groupCount_ = static_cast<int>(block[kGroupCountOffset]);
    ring_ = std::launder(reinterpret_cast<const uint32_t*>(block + kRecordHeaderBytes));
    groups_ = block + kRecordHeaderBytes + 4 * ringSize_;
  }

  static const RecordMetrics kNoMetrics;
  const RecordMetrics* metrics_ = &kNoMetrics;
  const uint32_t* ring_ = nullptr;
  const std::byte* groups_ = nullptr;
  int ringSize_ = 0;
  int groupCount_ = 0;
};

// Builds vertex v's record from its closed ring of links (as CloseRing leaves
// it, or as a connectivity decoder delivers it: link k's b is link k+1's a),
// leaving the list alone:
//  - no links, or only gap links: the empty record;
//  - 256 or more links: the fatal error "\nWarning!!, maxCaras=%d" (n);
//  - otherwise n = link count, the groups are the distinct non-gap
//    dependencies in ascending order, the ring is the links' a values rotated
//    to start at the smallest one (the first, when it occurs twice), and each
//    triangle link sets its position's bit in its dependency's group.
// Header floats are 0. For the program's own data (builder, InvertFaces).
FanRecord BuildRecord(VertexIndex v, const FaceList& links);
// The same from links held by value, in ring order.
FanRecord BuildRecord(VertexIndex v, std::span<const PlainLink> links);

// The record BuildRecord would build from `record`'s stored ring with every
// vertex index x (neighbours and dependencies) replaced by newIndex[x], for a
// mesh being renumbered: the ring turned to start at its smallest new index,
// the masks turned with it and the groups sorted by their new dependencies.
// `newIndex` must be one-to-one and cover every index the record names.
FanRecord RenamedRecord(const RecordView& record, std::span<const VertexIndex> newIndex);

// The checked BuildRecord for rings read from a file, with N = vertexCount:
// none (and the fault in `status` when given) for 256 or more links, a
// corner outside 0 … N−1, a triangle link with a dependency outside 0 … v−1,
// or a triangle link whose a equals its b (the encoder could not write it
// back). Otherwise the same record as BuildRecord.
std::optional<FanRecord> TryBuildRecord(VertexIndex v, const FaceList& links,
                                        VertexIndex vertexCount, RingStatus* status = nullptr);
std::optional<FanRecord> TryBuildRecord(VertexIndex v, std::span<const PlainLink> links,
                                        VertexIndex vertexCount, RingStatus* status = nullptr);

}  // namespace qx
