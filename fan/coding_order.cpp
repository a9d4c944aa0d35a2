#include "fan/coding_order.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <limits>

#include "fan/dependency_naming.h"
#include "fan/fan_record.h"
#include "fan/metrics.h"
#include "fan/pck.h"

namespace qx {
namespace {

constexpr int32_t kNeverNamed = std::numeric_limits<int32_t>::max();

// The level of every refinement vertex (index 1 … S−1; entry 0 unused):
// the earliest the constraints allow, but not below floor(v, deepest level
// so far). The simplification's order visits every vertex after all it
// must follow.
template <class Floor>
std::vector<int32_t> LevelsAbove(const QXPck& mesh, Floor&& floor) {
  const VertexIndex split = mesh.splitIndex;
  std::vector<int32_t> level(static_cast<size_t>(split), 1);  // the least each may take so far
  int32_t deepest = 0;
  for (VertexIndex v = split - 1; v >= 1; --v) {
    const RecordView record = mesh.Record(v);
    int32_t& own = level[static_cast<size_t>(v)];
    own = std::max(own, floor(v, deepest));
    for (int j = 0; j < record.RingSize(); ++j)
      if (record.Neighbour(j) < split) own = std::max(own, level[static_cast<size_t>(record.Neighbour(j))] + 1);
    deepest = std::max(deepest, own);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const VertexIndex c = record.Group(g).dependency;
      if (c > 0 && c < v) level[static_cast<size_t>(c)] = std::max(level[static_cast<size_t>(c)], own + 1);
    }
  }
  return level;
}

int32_t Deepest(const std::vector<int32_t>& levels) {
  return levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
}

// Levels that trail the deepest level so far by at most `lag`; when that
// makes half as many levels again as the constraints alone (a strategy that
// simplifies one part of the model after another goes deep in each part
// first), levels that trail a share of the depth in proportion to the
// simplification's step instead.
std::vector<int32_t> Levels(const QXPck& mesh, int lag) {
  const int32_t depth = Deepest(LevelsAbove(mesh, [](VertexIndex, int32_t) { return 0; }));
  std::vector<int32_t> trailing = LevelsAbove(mesh, [lag](VertexIndex, int32_t deepest) { return deepest - lag; });
  if (Deepest(trailing) <= depth + depth / 2) return trailing;
  const int64_t steps = std::max(mesh.splitIndex - 2, 1);
  return LevelsAbove(mesh, [&](VertexIndex v, int32_t) {
    return static_cast<int32_t>(int64_t{depth} * (mesh.splitIndex - 1 - v) / steps) - lag;
  });
}

// Decodes the mesh on paper level by level, each level in naming order,
// and hands out the new indices from S−1 down.
class LevelledOrder {
 public:
  LevelledOrder(const QXPck& mesh, int lag)
      : mesh_(mesh),
        newIndex_(static_cast<size_t>(mesh.vertexCount)),
        namedAt_(static_cast<size_t>(mesh.vertexCount), kNeverNamed),
        named_(static_cast<size_t>(mesh.vertexCount), 0) {
    for (VertexIndex v = 0; v < mesh.vertexCount; ++v) newIndex_[static_cast<size_t>(v)] = v;
    const std::vector<int32_t> level = Levels(mesh, lag);
    for (VertexIndex v = 1; v < mesh.splitIndex; ++v) {
      const auto l = static_cast<size_t>(level[static_cast<size_t>(v)]);
      if (byLevel_.size() <= l) byLevel_.resize(l + 1);
      byLevel_[l].push_back(v);
    }
  }

  std::vector<VertexIndex> Run() {
    for (VertexIndex v = mesh_.vertexCount - 1; v >= std::max(mesh_.splitIndex, 1); --v) Name(v);
    VertexIndex next = mesh_.splitIndex - 1;
    for (std::vector<VertexIndex>& members : byLevel_) {
      // Every member was named on an earlier level; the unnamed keep their
      // relative order at the end.
      std::stable_sort(members.begin(), members.end(), [&](VertexIndex a, VertexIndex b) {
        return namedAt_[static_cast<size_t>(a)] < namedAt_[static_cast<size_t>(b)];
      });
      for (VertexIndex v : members) {
        newIndex_[static_cast<size_t>(v)] = next--;
        Name(v);
      }
    }
    return std::move(newIndex_);
  }

 private:
  // Names v's new dependencies in the order the coder meets them: the ring
  // as stored once renamed, from its smallest new index on.
  void Name(VertexIndex v) {
    const RecordView record = mesh_.Record(v);
    int start = 0;
    for (int j = 1; j < record.RingSize(); ++j)
      if (NewIndex(record.Neighbour(j)) < NewIndex(record.Neighbour(start))) start = j;
    NameRingDependencies(record, v, start, named_,
                         [&](VertexIndex c) { namedAt_[static_cast<size_t>(c)] = clock_++; });
  }
  VertexIndex NewIndex(VertexIndex v) const { return newIndex_[static_cast<size_t>(v)]; }

  const QXPck& mesh_;
  std::vector<VertexIndex> newIndex_;
  std::vector<int32_t> namedAt_;
  std::vector<uint8_t> named_;
  std::vector<std::vector<VertexIndex>> byLevel_;
  int32_t clock_ = 0;
};

}  // namespace

std::vector<VertexIndex> CodingOrder(const QXPck& mesh, int lag) { return LevelledOrder(mesh, std::max(lag, 0)).Run(); }

void Renumber(QXPck& mesh, std::span<const VertexIndex> newIndex) {
  const VertexIndex n = mesh.vertexCount;
  assert(newIndex.size() == static_cast<size_t>(n));
  std::vector<FanVertex> vertices(static_cast<size_t>(n));
  std::vector<FanRecord> records(static_cast<size_t>(n));
  for (VertexIndex v = 0; v < n; ++v) {
    const VertexIndex to = newIndex[static_cast<size_t>(v)];
    vertices[static_cast<size_t>(to)] = mesh.vertices[static_cast<size_t>(v)];
    records[static_cast<size_t>(to)] = RenamedRecord(mesh.Record(v), newIndex);
  }
  mesh.vertices.swap(vertices);
  mesh.records.swap(records);
  mesh.finalised = 0;
  ComputeMetrics(mesh);
}

void RenumberForDenseCoding(QXPck& mesh) {
  if (mesh.pendingCount != 0 || mesh.splitIndex < 3) return;
  mesh.Lock();
  Renumber(mesh, CodingOrder(mesh, kDenseCodingLag));
  mesh.Unlock();
}

}  // namespace qx
