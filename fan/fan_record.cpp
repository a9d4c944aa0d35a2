#include "fan/fan_record.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cstring>
#include <new>
#include <numeric>

#include "common/diagnostics.h"
#include "fan/pck.h"

namespace qx {
namespace {

std::atomic<int> recordsAlive{0};

}  // namespace

int FanRecordsAlive() { return recordsAlive.load(std::memory_order_relaxed); }

void FanRecord::Release::operator()(std::byte* block) const {
  delete[] block;
  recordsAlive.fetch_sub(1, std::memory_order_relaxed);
}

FanRecord FanRecord::Allocate(int ringSize, int groupCount) {
  assert(ringSize >= 0 && ringSize <= kMaxRingSize);
  assert(groupCount >= 0 && groupCount <= kMaxRingSize);
  FanRecord record;
  record.block_.reset(new std::byte[RecordBytes(ringSize, groupCount)]());
  recordsAlive.fetch_add(1, std::memory_order_relaxed);
  new (record.block_.get()) RecordMetrics{};
  record.block_[kRingSizeOffset] = static_cast<std::byte>(ringSize);
  record.block_[kGroupCountOffset] = static_cast<std::byte>(groupCount);
  return record;
}

RecordMetrics* FanRecord::Metrics() {
  return block_ ? std::launder(reinterpret_cast<RecordMetrics*>(block_.get())) : nullptr;
}

std::span<const std::byte> FanRecord::Bytes() const {
  if (!block_) return {};
  const int n = static_cast<int>(block_[kRingSizeOffset]);
  const int m = static_cast<int>(block_[kGroupCountOffset]);
  return {block_.get(), RecordBytes(n, m)};
}

// Writes the ring and the groups of a freshly allocated record.
class RecordWriter {
 public:
  explicit RecordWriter(FanRecord& record) : block_(record.block_.get()) {}

  void SetNeighbour(int position, VertexIndex vertex) {
    const uint32_t value = static_cast<uint32_t>(vertex);
    std::memcpy(block_ + kRecordHeaderBytes + 4 * position, &value, 4);
  }
  void SetDependency(int group, VertexIndex dependency) {
    const uint32_t value = static_cast<uint32_t>(dependency);
    std::memcpy(GroupAt(group), &value, 4);
  }
  void SetBit(int group, int position) {
    std::byte& maskByte = GroupAt(group)[4 + position / 8];
    maskByte |= static_cast<std::byte>(1u << (position % 8));
  }

 private:
  int RingSize() const { return static_cast<int>(block_[kRingSizeOffset]); }
  std::byte* GroupAt(int group) {
    const int n = RingSize();
    return block_ + kRecordHeaderBytes + 4 * n + group * (4 + MaskBytes(n));
  }

  std::byte* block_;
};

const RecordMetrics RecordView::kNoMetrics{};

namespace {

// The sorted distinct dependencies of the triangle links (step 3).
struct Dependencies {
  std::array<VertexIndex, kMaxRingSize> values;
  int count = 0;

  void Insert(VertexIndex dependency) {
    VertexIndex* end = values.data() + count;
    VertexIndex* at = std::lower_bound(values.data(), end, dependency);
    if (at != end && *at == dependency) return;
    std::copy_backward(at, end, end + 1);
    *at = dependency;
    ++count;
  }
  // The group holding `dependency`, or -1.
  int Find(VertexIndex dependency) const {
    const VertexIndex* end = values.data() + count;
    const VertexIndex* at = std::lower_bound(values.data(), end, dependency);
    return at != end && *at == dependency ? static_cast<int>(at - values.data()) : -1;
  }
};

int LinkCount(const FaceList& links) { return links.Count(); }
int LinkCount(std::span<const PlainLink> links) { return static_cast<int>(links.size()); }

// File data only: corners inside the mesh, triangle links with a dependency
// below the centre and two distinct corners.
template <class Links>
RingStatus CheckLinks(VertexIndex v, const Links& links, VertexIndex vertexCount) {
  for (const auto& link : links) {
    for (VertexIndex corner : {link.a, link.b})
      if (corner < 0 || corner >= vertexCount) return {RingFault::kBadIndex, corner};
    if (link.IsGap(v)) continue;
    if (link.dependency < 0 || link.dependency > v) return {RingFault::kBadIndex, link.dependency};
    if (link.a == link.b) return {RingFault::kDegenerateLink, link.dependency};
  }
  return {};
}

// BuildRecord's steps, for a list or an array of links; with `vertexCount`
// the links are checked as file data.
template <class Links>
RingStatus Build(VertexIndex v, const Links& links, std::optional<VertexIndex> vertexCount, FanRecord& out) {
  const int n = LinkCount(links);
  if (n == 0) {
    out = FanRecord::Empty();
    return {};
  }
  if (n > kMaxRingSize) return {RingFault::kTooManyLinks, n};
  if (vertexCount) {
    const RingStatus status = CheckLinks(v, links, *vertexCount);
    if (!status.Ok()) return status;
  }

  Dependencies dependencies;
  for (const auto& link : links) {
    assert(link.dependency >= 0 && link.a >= 0 && link.b >= 0);
    if (!link.IsGap(v)) dependencies.Insert(link.dependency);
  }
  if (dependencies.count == 0) {
    out = FanRecord::Empty();
    return {};
  }

  // The ring starts at the first position holding the smallest neighbour;
  // in a closed ring position k holds link k's a.
  std::array<VertexIndex, kMaxRingSize> firstCorner;
  int k = 0;
  for (const auto& link : links) firstCorner[k++] = link.a;
  const int start = static_cast<int>(std::min_element(firstCorner.begin(), firstCorner.begin() + n) -
                                     firstCorner.begin());

  out = FanRecord::Allocate(n, dependencies.count);
  RecordWriter writer(out);
  for (int g = 0; g < dependencies.count; ++g) writer.SetDependency(g, dependencies.values[g]);
  // Positions wrap around the ring without a division per link.
  for (int j = 0; j < n; ++j) writer.SetNeighbour(j, firstCorner[start + j < n ? start + j : start + j - n]);
  k = 0;
  for (const auto& link : links) {
    const int position = k >= start ? k - start : k - start + n;
    ++k;
    if (link.a == link.b && link.a == link.dependency) continue;  // all corners equal
    const int group = dependencies.Find(link.dependency);           // gap links find none
    if (group >= 0) writer.SetBit(group, position);
  }
  return {};
}

template <class Links>
FanRecord BuildChecked(VertexIndex v, const Links& links) {
  FanRecord record;
  const RingStatus status = Build(v, links, std::nullopt, record);
  if (!status.Ok()) FatalError("\nWarning!!, maxCaras=%d", status.value);
  return record;
}

template <class Links>
std::optional<FanRecord> TryBuild(VertexIndex v, const Links& links, VertexIndex vertexCount, RingStatus* status) {
  FanRecord record;
  const RingStatus result = Build(v, links, vertexCount, record);
  if (status) *status = result;
  if (!result.Ok()) return std::nullopt;
  return record;
}

}  // namespace

FanRecord BuildRecord(VertexIndex v, const FaceList& links) { return BuildChecked(v, links); }

FanRecord BuildRecord(VertexIndex v, std::span<const PlainLink> links) { return BuildChecked(v, links); }

std::optional<FanRecord> TryBuildRecord(VertexIndex v, const FaceList& links, VertexIndex vertexCount,
                                        RingStatus* status) {
  return TryBuild(v, links, vertexCount, status);
}

std::optional<FanRecord> TryBuildRecord(VertexIndex v, std::span<const PlainLink> links, VertexIndex vertexCount,
                                        RingStatus* status) {
  return TryBuild(v, links, vertexCount, status);
}

FanRecord RenamedRecord(const RecordView& record, std::span<const VertexIndex> newIndex) {
  const int n = record.RingSize();
  const int m = record.GroupCount();
  if (m == 0) return FanRecord::Empty();
  const auto renamed = [&](VertexIndex x) { return newIndex[static_cast<size_t>(x)]; };
  int start = 0;
  for (int j = 1; j < n; ++j)
    if (renamed(record.Neighbour(j)) < renamed(record.Neighbour(start))) start = j;
  // The old group of each new group: a one-to-one renaming keeps the
  // dependencies distinct, so only their order changes.
  std::array<int, kMaxRingSize> order;
  std::iota(order.begin(), order.begin() + m, 0);
  std::sort(order.begin(), order.begin() + m,
            [&](int g, int h) { return renamed(record.Group(g).dependency) < renamed(record.Group(h).dependency); });

  FanRecord out = FanRecord::Allocate(n, m);
  RecordWriter writer(out);
  for (int j = 0; j < n; ++j) writer.SetNeighbour(j, renamed(record.Neighbour(start + j)));
  for (int g = 0; g < m; ++g) {
    const DependencyGroup group = record.Group(order[static_cast<size_t>(g)]);
    writer.SetDependency(g, renamed(group.dependency));
    for (int j = 0; j < n; ++j)
      if (group.Has(j)) writer.SetBit(g, j >= start ? j - start : j - start + n);
  }
  return out;
}

}  // namespace qx
