#include "fan/coding_order.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"

namespace qx {
namespace {

constexpr int32_t kNeverNamed = std::numeric_limits<int32_t>::max();

// The constraints between refinement vertices, both ways, as one array per
// vertex laid end to end (first[v] … first[v + 1]): the vertices each one
// must precede and those it must follow; and how many of the latter are not
// inserted yet.
struct Precedence {
  std::vector<int32_t> firstFollower, firstLeader;
  std::vector<VertexIndex> followers, leaders;
  std::vector<int32_t> waiting;

  std::span<const VertexIndex> Followers(VertexIndex v) const { return Slice(followers, firstFollower, v); }
  std::span<const VertexIndex> Leaders(VertexIndex v) const { return Slice(leaders, firstLeader, v); }

 private:
  static std::span<const VertexIndex> Slice(const std::vector<VertexIndex>& all, const std::vector<int32_t>& first,
                                            VertexIndex v) {
    const auto begin = static_cast<size_t>(first[static_cast<size_t>(v)]);
    return {all.data() + begin, static_cast<size_t>(first[static_cast<size_t>(v) + 1]) - begin};
  }
};

// Calls onEdge(before, after) for every constraint between two refinement
// vertices: a ring vertex before its centre, a vertex before the
// dependencies of its triangles.
template <class OnEdge>
void ForEachConstraint(const QXPck& mesh, OnEdge&& onEdge) {
  const VertexIndex split = mesh.splitIndex;
  for (VertexIndex v = 1; v < split; ++v) {
    const RecordView record = mesh.Record(v);
    for (int j = 0; j < record.RingSize(); ++j)
      if (record.Neighbour(j) < split) onEdge(record.Neighbour(j), v);
    for (int g = 0; g < record.GroupCount(); ++g) {
      const VertexIndex c = record.Group(g).dependency;
      if (c > 0 && c < v) onEdge(v, c);
    }
  }
}

// Lays out one array per vertex: counts, then running sums, then fills.
template <class Key>
void Gather(const QXPck& mesh, Key&& key, std::vector<int32_t>& first, std::vector<VertexIndex>& all) {
  const size_t split = static_cast<size_t>(mesh.splitIndex);
  first.assign(split + 1, 0);
  ForEachConstraint(
      mesh, [&](VertexIndex before, VertexIndex after) { ++first[static_cast<size_t>(key(before, after).first) + 1]; });
  for (size_t v = 1; v <= split; ++v) first[v] += first[v - 1];
  all.resize(static_cast<size_t>(first[split]));
  std::vector<int32_t> filled(first.begin(), first.end() - 1);
  ForEachConstraint(mesh, [&](VertexIndex before, VertexIndex after) {
    const auto [owner, member] = key(before, after);
    all[static_cast<size_t>(filled[static_cast<size_t>(owner)]++)] = member;
  });
}

Precedence FindPrecedence(const QXPck& mesh) {
  Precedence order;
  Gather(
      mesh,
      [](VertexIndex before, VertexIndex after) {
        return std::pair{before, after};
      },
      order.firstFollower, order.followers);
  Gather(
      mesh,
      [](VertexIndex before, VertexIndex after) {
        return std::pair{after, before};
      },
      order.firstLeader, order.leaders);
  order.waiting.resize(static_cast<size_t>(mesh.splitIndex));
  for (VertexIndex v = 0; v < mesh.splitIndex; ++v)
    order.waiting[static_cast<size_t>(v)] = static_cast<int32_t>(order.Leaders(v).size());
  return order;
}

// Decodes the mesh on paper in a chosen order, keeping when each dependency
// is named for the first time.
class OrderSimulation {
 public:
  OrderSimulation(const QXPck& mesh, VertexIndex reach)
      : mesh_(mesh),
        split_(mesh.splitIndex),
        reach_(reach),
        precedence_(FindPrecedence(mesh)),
        newIndex_(static_cast<size_t>(mesh.vertexCount)),
        named_(static_cast<size_t>(std::max(split_, 0)), kNeverNamed),
        inserted_(static_cast<size_t>(std::max(split_, 0)), 0) {
    for (VertexIndex v = 0; v < mesh.vertexCount; ++v) newIndex_[static_cast<size_t>(v)] = v;
  }

  std::vector<VertexIndex> Run() {
    for (VertexIndex v = mesh_.vertexCount - 1; v >= std::max(split_, 1); --v) NameDependencies(v);
    const VertexIndex steps = split_ - 1;
    for (VertexIndex step = 0; step < steps; ++step) Insert(Choose(step), split_ - 1 - step);
    return std::move(newIndex_);
  }

 private:
  // Step s of the simplification's order inserts vertex S − 1 − s.
  VertexIndex VertexAtStep(VertexIndex step) const { return split_ - 1 - step; }
  VertexIndex StepOf(VertexIndex v) const { return split_ - 1 - v; }

  VertexIndex Choose(VertexIndex step) {
    while (oldest_ < split_ - 1 && inserted_[static_cast<size_t>(VertexAtStep(oldest_))]) ++oldest_;
    if (static_cast<int64_t>(oldest_) + reach_ <= step) return VertexAtStep(oldest_);
    const int64_t horizon = std::min<int64_t>(int64_t{step} + reach_, split_ - 2);
    while (admitted_ < horizon) {
      const VertexIndex v = VertexAtStep(++admitted_);
      if (precedence_.waiting[static_cast<size_t>(v)] == 0) MakeReady(v);
    }
    const VertexIndex pulled = Pull();
    if (pulled >= 0 && StepOf(pulled) <= admitted_) return pulled;
    // The oldest waiting vertex is always ready, so the queue holds it.
    while (!ready_.empty()) {
      const VertexIndex v = VertexAtStep(ready_.top().second);
      ready_.pop();
      if (!inserted_[static_cast<size_t>(v)]) return v;
    }
    assert(false);
    return VertexAtStep(oldest_);
  }

  // The earliest named vertex not inserted yet, when ready; else the
  // earliest named of its leaders not inserted yet, and so on up (leaders
  // lie above, so the walk ends at a ready vertex). None when every named
  // vertex is in.
  VertexIndex Pull() {
    while (!byNaming_.empty() && inserted_[static_cast<size_t>(byNaming_.top().second)]) byNaming_.pop();
    if (byNaming_.empty()) return -1;
    VertexIndex v = byNaming_.top().second;
    while (precedence_.waiting[static_cast<size_t>(v)] > 0) {
      VertexIndex earliest = -1;
      for (VertexIndex leader : precedence_.Leaders(v))
        if (!inserted_[static_cast<size_t>(leader)] &&
            (earliest < 0 || named_[static_cast<size_t>(leader)] < named_[static_cast<size_t>(earliest)]))
          earliest = leader;
      v = earliest;
    }
    return v;
  }

  void MakeReady(VertexIndex v) { ready_.push({named_[static_cast<size_t>(v)], StepOf(v)}); }

  void Insert(VertexIndex v, VertexIndex newIndex) {
    assert(precedence_.waiting[static_cast<size_t>(v)] == 0);
    inserted_[static_cast<size_t>(v)] = 1;
    newIndex_[static_cast<size_t>(v)] = newIndex;
    NameDependencies(v);
    for (VertexIndex follower : precedence_.Followers(v))
      if (--precedence_.waiting[static_cast<size_t>(follower)] == 0 && StepOf(follower) <= admitted_)
        MakeReady(follower);
  }

  // Names the new dependencies of v's ring in the order the coder meets
  // them: the ring as stored once renamed, from its smallest new index on.
  void NameDependencies(VertexIndex v) {
    const RecordView record = mesh_.Record(v);
    const int n = record.RingSize();
    if (n == 0) return;
    int start = 0;
    for (int j = 1; j < n; ++j)
      if (newIndex_[static_cast<size_t>(record.Neighbour(j))] < newIndex_[static_cast<size_t>(record.Neighbour(start))])
        start = j;
    for (int k = 0; k < n; ++k) {
      const int j = start + k < n ? start + k : start + k - n;
      for (int g = 0; g < record.GroupCount(); ++g) {
        const DependencyGroup group = record.Group(g);
        if (!group.Has(j) || group.dependency <= 0 || group.dependency >= std::min(v, split_)) continue;
        int32_t& named = named_[static_cast<size_t>(group.dependency)];
        if (named != kNeverNamed) continue;
        named = clock_++;
        byNaming_.push({named, group.dependency});
      }
    }
  }

  const QXPck& mesh_;
  const VertexIndex split_;
  const VertexIndex reach_;
  Precedence precedence_;
  std::vector<VertexIndex> newIndex_;
  std::vector<int32_t> named_;  // when each vertex was first named
  std::vector<uint8_t> inserted_;
  int32_t clock_ = 0;
  VertexIndex oldest_ = 0;     // the first step of the original order not yet inserted
  VertexIndex admitted_ = -1;  // the last step of the original order that may go
  using Entry = std::pair<int32_t, int32_t>;
  using EarliestFirst = std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>>;
  EarliestFirst ready_;     // (first naming, original step) of the ready vertices
  EarliestFirst byNaming_;  // (first naming, vertex) of the named vertices
};

}  // namespace

std::vector<VertexIndex> CodingOrder(const QXPck& mesh, VertexIndex reach) {
  return OrderSimulation(mesh, std::max<VertexIndex>(reach, 0)).Run();
}

void Renumber(QXPck& mesh, std::span<const VertexIndex> newIndex) {
  const VertexIndex n = mesh.vertexCount;
  assert(newIndex.size() == static_cast<size_t>(n));
  std::vector<FanVertex> vertices(static_cast<size_t>(n));
  std::vector<FanRecord> records(static_cast<size_t>(n));
  for (VertexIndex v = 0; v < n; ++v) {
    const VertexIndex to = newIndex[static_cast<size_t>(v)];
    vertices[static_cast<size_t>(to)] = mesh.vertices[static_cast<size_t>(v)];
    FaceList ring = StoredRing(mesh.Record(v), v);
    for (FaceLink& link : ring) {
      link.a = newIndex[static_cast<size_t>(link.a)];
      link.b = newIndex[static_cast<size_t>(link.b)];
      link.dependency = link.IsGap(v) ? to : newIndex[static_cast<size_t>(link.dependency)];
    }
    records[static_cast<size_t>(to)] = BuildRecord(to, ring);
  }
  mesh.vertices.swap(vertices);
  mesh.records.swap(records);
  mesh.finalised = 0;
  ComputeMetrics(mesh);
}

void RenumberForDenseCoding(QXPck& mesh) {
  if (mesh.pendingCount != 0 || mesh.splitIndex < 3) return;
  mesh.Lock();
  Renumber(mesh, CodingOrder(mesh, kDenseCodingReach));
  mesh.Unlock();
}

}  // namespace qx
