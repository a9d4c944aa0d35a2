#include "fan/fan_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/diagnostics.h"
#include "common/prefetch.h"
#include "fan/fan_record.h"
#include "fan/metrics.h"

namespace qx {

namespace {

// The weld table starts with 2048 buckets and doubles whenever it holds more
// than two vertices per bucket, so welding stays constant time per point on
// large models.
constexpr size_t kInitialBuckets = 2048;

// Fills up to this many triangles are checked for repeats pair by pair.
constexpr size_t kPairwiseFillLimit = 16;

// While a mesh's records are built, the link lists are asked for this many
// vertices ahead.
constexpr size_t kLinkLead = 16;

// Links of a typical vertex while it is simplified: six triangles of a
// regular mesh, and a few more as neighbours are removed.
constexpr size_t kTypicalLinks = 8;

uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

bool SameBytes(Vector p, Vector q) { return std::memcmp(&p, &q, sizeof(Vector)) == 0; }

// A min-heap of vertices keyed by (cost, vertex), with each vertex's slot
// kept so that a changed cost moves the vertex in O(log n).
class CostHeap {
 public:
  explicit CostHeap(int32_t vertexCount) : slot_(static_cast<size_t>(vertexCount), -1) {}

  bool Empty() const { return entries_.empty(); }
  VertexIndex Top() const { return entries_.front().v; }
  float TopCost() const { return entries_.front().cost; }
  bool Contains(VertexIndex v) const { return slot_[v] >= 0; }

  void Push(VertexIndex v, float cost) {
    slot_[v] = static_cast<int32_t>(entries_.size());
    entries_.push_back({cost, v});
    SiftUp(entries_.size() - 1);
  }
  void Pop() { Erase(Top()); }
  // Moves v to the place its new cost gives it. v must be in the heap.
  void Update(VertexIndex v, float cost) {
    const size_t at = static_cast<size_t>(slot_[v]);
    entries_[at].cost = cost;
    SiftDown(SiftUp(at));
  }

 private:
  struct Entry {
    float cost;
    VertexIndex v;
    bool operator<(const Entry& o) const { return cost < o.cost || (cost == o.cost && v < o.v); }
  };

  void Erase(VertexIndex v) {
    const size_t at = static_cast<size_t>(slot_[v]);
    Place(at, entries_.back());
    entries_.pop_back();
    slot_[v] = -1;
    if (at < entries_.size()) SiftDown(SiftUp(at));
  }
  void Place(size_t at, Entry e) {
    entries_[at] = e;
    slot_[e.v] = static_cast<int32_t>(at);
  }
  size_t SiftUp(size_t at) {
    const Entry e = entries_[at];
    while (at > 0 && e < entries_[(at - 1) / 2]) {
      Place(at, entries_[(at - 1) / 2]);
      at = (at - 1) / 2;
    }
    Place(at, e);
    return at;
  }
  void SiftDown(size_t at) {
    const Entry e = entries_[at];
    for (;;) {
      size_t child = 2 * at + 1;
      if (child >= entries_.size()) break;
      if (child + 1 < entries_.size() && entries_[child + 1] < entries_[child]) ++child;
      if (!(entries_[child] < e)) break;
      Place(at, entries_[child]);
      at = child;
    }
    Place(at, e);
  }

  std::vector<Entry> entries_;
  std::vector<int32_t> slot_;
};

bool Contains(const BuilderLink& link, VertexIndex v) { return link.a == v || link.b == v; }

bool Contains(const FillTriangle& t, VertexIndex v) { return t.x == v || t.a == v || t.b == v; }

// Whether two triangles, each with three distinct corners, have the same
// corners in any order.
bool SameCorners(const FillTriangle& s, const FillTriangle& t) {
  return Contains(t, s.x) && Contains(t, s.a) && Contains(t, s.b);
}

// One of 64 bits, picked by a hash of the unordered pair {a, b}: a set of
// pairs marks its bits, and a pair whose bit is not marked is certainly not
// in the set. The sum makes the hash blind to the order of a and b.
uint64_t PairBit(VertexIndex a, VertexIndex b) {
  const uint64_t sum = static_cast<uint64_t>(static_cast<uint32_t>(a)) + static_cast<uint32_t>(b);
  return uint64_t{1} << ((sum * 0x9E3779B97F4A7C15ull) >> 58);
}

// Whether the corner pairs of two triangles around the same corner are the
// same unordered pair.
bool SamePair(VertexIndex a, VertexIndex b, const FillTriangle& t) {
  return (a == t.a && b == t.b) || (a == t.b && b == t.a);
}

}  // namespace

FanBuilder::FanBuilder() { Reset(); }
FanBuilder::~FanBuilder() = default;

// --- Vertex store and welding ------------------------------------------------

void FanBuilder::Reset() {
  positions_.assign(1, Vector{kHuge, kHuge, kHuge});
  costs_.assign(1, kHuge);
  flags_.assign(1, 0);
  links_.clear();
  linkPool_.release();
  links_.emplace_back(&linkPool_);
  bucketNext_.assign(1, -1);
  bucketHeads_.assign(kInitialBuckets, -1);
  faceCount_ = 0;
  longestLinkList_ = 0;
  box_ = Box{};
}

size_t FanBuilder::WeldBucket(Vector p) const {
  // Hashes all twelve position bytes; mixing the words keeps integer-valued
  // coordinates (whose low bits are all zero) apart.
  uint64_t h = FloatBits(p.x);
  h = h * 0x9E3779B97F4A7C15ull + FloatBits(p.y);
  h = h * 0x9E3779B97F4A7C15ull + FloatBits(p.z);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<size_t>(h) & (bucketHeads_.size() - 1);
}

void FanBuilder::RehashWeldTable(size_t bucketCount) {
  bucketHeads_.assign(bucketCount, -1);
  for (VertexIndex v = 1; v < VertexCount(); ++v) {
    const size_t bucket = WeldBucket(positions_[v]);
    bucketNext_[v] = bucketHeads_[bucket];
    bucketHeads_[bucket] = v;
  }
}

VertexIndex FanBuilder::WeldVertex(Vector p) {
  const size_t bucket = WeldBucket(p);
  // The newest vertex at a position comes first in its bucket. A vertex that
  // already holds kMaxGrownLinks triangles gets a twin at the same position:
  // a fan record holds fewer than 256 ring positions, so a larger fan is cut
  // into pieces along an invisible seam.
  for (VertexIndex v = bucketHeads_[bucket]; v >= 0; v = bucketNext_[v]) {
    if (!SameBytes(positions_[v], p)) continue;
    if (static_cast<int>(links_[v].size()) < kMaxGrownLinks) return v;
    break;
  }
  const VertexIndex v = VertexCount();
  positions_.push_back(p);
  costs_.push_back(0);
  flags_.push_back(0);
  links_.emplace_back(&linkPool_);
  bucketNext_.push_back(bucketHeads_[bucket]);
  bucketHeads_[bucket] = v;
  ExtendBox(box_, p);
  if (static_cast<size_t>(v) > 2 * bucketHeads_.size()) RehashWeldTable(2 * bucketHeads_.size());
  return v;
}

void FanBuilder::AddTriangle(Vector p0, Vector p1, Vector p2, int32_t group) {
  const VertexIndex i0 = WeldVertex(p0);
  const VertexIndex i1 = WeldVertex(p1);
  const VertexIndex i2 = WeldVertex(p2);
  AddFace(i0, i1, i2, group, 0);
}

// --- Triangles -----------------------------------------------------------------

bool FanBuilder::StoreLink(VertexIndex corner, const BuilderLink& link) {
  LinkList& list = links_[corner];
  for (const BuilderLink& held : list)
    if (held.a == link.a && held.b == link.b) return false;
  // Room for a typical vertex at once: the lists of vertices welded one
  // after another then lie one after another, where growing one link at a
  // time moves each list three times, to wherever the allocator has room.
  if (list.capacity() == 0) list.reserve(kTypicalLinks);
  list.push_back(link);
  longestLinkList_ = std::max(longestLinkList_, list.size());
  return true;
}

bool FanBuilder::AddFace(VertexIndex x, VertexIndex a, VertexIndex b, int32_t group, VertexIndex dependency) {
  if (dependency == -1) {
    ++x, ++a, ++b;
    dependency = 0;
  }
  const VertexIndex count = VertexCount();
  auto real = [count](VertexIndex v) { return v >= 1 && v < count; };
  if (!real(x) || !real(a) || !real(b) || x == a || a == b || b == x) return false;
  for (const BuilderLink& held : links_[x])
    if (held.a == b && held.b == a) return false;
  ++faceCount_;
  StoreLink(x, {a, b, group, dependency});
  StoreLink(a, {b, x, group, dependency});
  StoreLink(b, {x, a, group, dependency});
  return true;
}

void FanBuilder::DropLinksWith(VertexIndex corner, VertexIndex v) {
  std::erase_if(links_[corner], [v](const BuilderLink& link) { return Contains(link, v); });
}

int32_t FanBuilder::Detach(VertexIndex v) {
  // The neighbours' lists are far apart in memory: ask for all of them
  // before editing any, so that their loads overlap.
  for (const BuilderLink& link : links_[v]) PrefetchCacheLine(links_[link.a].data());
  for (const BuilderLink& link : links_[v]) {
    if (link.dependency == v) continue;
    DropLinksWith(link.a, v);
    DropLinksWith(link.b, v);
    InvalidateCost(link.a);
    InvalidateCost(link.b);
  }
  const int32_t triangles = static_cast<int32_t>(links_[v].size());
  faceCount_ -= triangles;
  return triangles;
}

int32_t FanBuilder::Commit(VertexIndex v, std::span<const FillTriangle> fill) {
  const int32_t before = faceCount_;
  Detach(v);
  for (const FillTriangle& t : fill) {
    if (!AddFace(t.x, t.a, t.b, t.group, v)) FatalError("\nError en compress: %d", v);
    InvalidateCost(t.x);
    InvalidateCost(t.a);
    InvalidateCost(t.b);
  }
  MarkRemoved(v);
  InvalidateCost(v);
  return before - faceCount_;
}

// Vetting runs for every candidate removal: it allocates nothing (the
// scratch buffers keep their capacity) and each check tries a cheap exact
// test before the thorough one.
bool FanBuilder::FillIsAcceptable(VertexIndex v, std::span<const FillTriangle> fill) {
  bool aroundOneCorner = true;  // every triangle shares the first one's x
  for (const FillTriangle& t : fill) {
    if (t.x == t.a || t.a == t.b || t.b == t.x || t.x == v || t.a == v || t.b == v) return false;
    aroundOneCorner &= t.x == fill.front().x;
  }
  // A collapse fill, every triangle around one corner, has a quicker test.
  const bool repeats = aroundOneCorner && !fill.empty() && fill.size() <= kPairwiseFillLimit
                           ? RepeatsAroundCorner(fill)
                           : RepeatsFillTriangle(fill) || RepeatsStoredTriangle(fill);
  return !repeats && !GrowsTooMuch(v, fill);
}

bool FanBuilder::RepeatsAroundCorner(std::span<const FillTriangle> fill) const {
  // Every triangle is (x, a, b) with one x, not among its a and b. Two of
  // them have the same corners exactly when their pairs {a, b} are equal,
  // and one repeats a stored triangle, (x, a, b) or (x, b, a), exactly when
  // a link of x has its pair. The answer is almost always "no": a pair whose
  // bit is not yet marked is new, so hardly any pair needs comparing.
  uint64_t marks = 0;
  const auto seen = [&](VertexIndex a, VertexIndex b, size_t count) {
    if (!(marks & PairBit(a, b))) return false;
    return std::any_of(fill.begin(), fill.begin() + count, [&](const FillTriangle& t) { return SamePair(a, b, t); });
  };
  for (size_t i = 0; i < fill.size(); ++i) {
    if (seen(fill[i].a, fill[i].b, i)) return true;
    marks |= PairBit(fill[i].a, fill[i].b);
  }
  for (const BuilderLink& held : links_[fill.front().x])
    if (seen(held.a, held.b, fill.size())) return true;
  return false;
}

bool FanBuilder::RepeatsFillTriangle(std::span<const FillTriangle> fill) {
  // Comparing pairs is quickest for the usual handful of triangles; sorting
  // keeps the fill of a vertex with a large ring cheap to vet.
  if (fill.size() <= kPairwiseFillLimit) {
    for (size_t i = 0; i < fill.size(); ++i)
      for (size_t j = i + 1; j < fill.size(); ++j)
        if (SameCorners(fill[i], fill[j])) return true;
    return false;
  }
  std::vector<std::array<VertexIndex, 3>>& shapes = vetting_.shapes;  // sorted corners of each triangle
  shapes.clear();
  for (const FillTriangle& t : fill) {
    std::array<VertexIndex, 3> shape{t.x, t.a, t.b};
    std::sort(shape.begin(), shape.end());
    shapes.push_back(shape);
  }
  std::sort(shapes.begin(), shapes.end());
  return std::adjacent_find(shapes.begin(), shapes.end()) != shapes.end();
}

bool FanBuilder::RepeatsStoredTriangle(std::span<const FillTriangle> fill) const {
  // A stored triangle (x, a, b) or (x, b, a) appears in x's list as (a, b) or
  // (b, a). A corner holds at most about kMaxGrownLinks links, so scanning
  // them beats sorting them for the few triangles of a fill; the scan is
  // branch-free as its outcome is almost always "no".
  for (const FillTriangle& t : fill) {
    bool stored = false;
    for (const BuilderLink& held : links_[t.x])
      stored |= ((held.a == t.a) & (held.b == t.b)) | ((held.a == t.b) & (held.b == t.a));
    if (stored) return true;
  }
  return false;
}

bool FanBuilder::GrowsTooMuch(VertexIndex v, std::span<const FillTriangle> fill) {
  // No corner gains more triangles than the fill holds: when every corner
  // stays within the limit even with the whole fill added, none grows too
  // much and the exact count below is not needed. The longest list bounds
  // every corner without reading any of them.
  const size_t limit = static_cast<size_t>(kMaxGrownLinks);
  const size_t gainBound = fill.size();
  if (longestLinkList_ + gainBound <= limit) return false;
  const auto fitsAnyway = [&](VertexIndex corner) { return links_[corner].size() + gainBound <= limit; };
  const bool allFit = std::all_of(fill.begin(), fill.end(), [&](const FillTriangle& t) {
    return fitsAnyway(t.x) && fitsAnyway(t.a) && fitsAnyway(t.b);
  });
  if (allFit) return false;

  // Each corner loses its triangles with v and gains its fill triangles.
  std::vector<VertexIndex>& corners = vetting_.corners;
  corners.clear();
  for (const FillTriangle& t : fill) corners.insert(corners.end(), {t.x, t.a, t.b});
  std::sort(corners.begin(), corners.end());
  for (size_t run = 0; run < corners.size();) {
    const VertexIndex corner = corners[run];
    size_t next = run;
    while (next < corners.size() && corners[next] == corner) ++next;
    const int gained = static_cast<int>(next - run);
    int lost = 0;
    for (const BuilderLink& held : links_[corner]) lost += Contains(held, v);
    if (gained > lost && static_cast<int>(links_[corner].size()) - lost + gained > kMaxGrownLinks) return true;
    run = next;
  }
  return false;
}

// --- Costs ---------------------------------------------------------------------

int FanBuilder::CountDistinctDependencies(VertexIndex v, int limit) {
  std::vector<VertexIndex>& seen = vetting_.dependencies;
  seen.clear();
  for (const BuilderLink& link : links_[v]) {
    if (std::find(seen.begin(), seen.end(), link.dependency) != seen.end()) continue;
    seen.push_back(link.dependency);
    if (static_cast<int>(seen.size()) > limit) break;
  }
  return static_cast<int>(seen.size());
}

bool FanBuilder::HasTooManyDependencies(VertexIndex v) {
  // There are never more distinct dependencies than links: only a vertex
  // with more links than the limit needs counting.
  if (static_cast<int64_t>(links_[v].size()) <= dependencyLimit) return false;
  return CountDistinctDependencies(v, dependencyLimit) > dependencyLimit;
}

float FanBuilder::VertexCost(VertexIndex v) {
  float cost = kHuge;
  const LinkList& links = links_[v];
  if (!links.empty() && static_cast<int32_t>(links.size()) <= degreeLimit && !HasTooManyDependencies(v)) {
    cost = Cost(v);
    if (std::isnan(cost)) cost = kHuge;
  }
  costs_[v] = cost;
  flags_[v] |= kCostValid;
  return cost;
}

// --- Build -----------------------------------------------------------------------

std::vector<std::unique_ptr<QXPck>> FanBuilder::Build(float level, int32_t strategy, BuildProgress progress) {
  progress_ = std::move(progress);
  const int64_t target = static_cast<int64_t>(std::floor(static_cast<double>(faceCount_) * level));
  // Welding is over: later vertices come only from Reset and new triangles.
  bucketHeads_.assign(kInitialBuckets, -1);
  bucketNext_.assign(positions_.size(), -1);
  if (VertexCount() <= 1) return {};

  std::vector<VertexIndex> order{0};
  order.reserve(positions_.size());
  int32_t fixed = 1;
  const bool simplify = (!progress_ || progress_(0.5f)) && target > 0;
  if (!simplify) {
    ClearMarks();
  } else {
    PrepareSimplification();
    for (VertexIndex v = 1; v < VertexCount(); ++v)
      if (!links_[v].empty()) order.push_back(v);
    if (ReportProgress(1.0f)) fixed = RunStrategy(strategy, order, target);
  }

  // Whatever is still alive forms the base mesh. Detaching in ascending order
  // leaves each remaining triangle with the first of its corners.
  order.resize(static_cast<size_t>(fixed));
  for (VertexIndex v = 1; v < VertexCount(); ++v) {
    if (IsRemoved(v)) continue;
    order.push_back(v);
    Commit(v, {});
  }
  progress_ = nullptr;
  return BuildFanMeshes(order, fixed);
}

void FanBuilder::ClearMarks() {
  std::fill(flags_.begin(), flags_.end(), 0);
  for (VertexIndex v = 0; v < VertexCount(); ++v)
    if (links_[v].empty()) MarkRemoved(v);
}

void FanBuilder::PrepareSimplification() {
  ClearMarks();
  Init();
}

int32_t FanBuilder::RunStrategy(int32_t strategy, std::vector<VertexIndex>& order, int64_t target) {
  switch (strategy) {
    case kStrategyStandard: return RunStandard(order, target);
    case kStrategySculptor: return RunSculptor(order, target);
    case kStrategyBatch: return RunBatch(order, target);
    default: return 1;
  }
}

// "Standard": always the globally cheapest vertex; after a removal only the
// neighbours whose costs changed move in the heap.
int32_t FanBuilder::RunStandard(std::vector<VertexIndex>& order, int64_t target) {
  const int32_t end = static_cast<int32_t>(order.size());
  for (int32_t i = 1; i < end; ++i) VertexCost(order[i]);
  PrintError("\nSorting");
  CostHeap heap(VertexCount());
  for (int32_t i = 1; i < end; ++i) heap.Push(order[i], costs_[order[i]]);

  int32_t fixed = 1;
  int64_t removed = 0;
  VertexIndex lastFailure = -1;
  std::vector<VertexIndex> touched;
  while (!heap.Empty() && removed < target) {
    const VertexIndex v = heap.Top();
    if (heap.TopCost() < 0) FatalError("Error < 0");
    if (heap.TopCost() >= kHuge) break;
    std::optional<Fill> fill = Remove(v);
    if (!fill) {
      // A second failure right after a fresh cost means the metric cannot
      // remove v at all now: park it until a neighbour changes.
      if (lastFailure == v) costs_[v] = kHuge;
      heap.Update(v, lastFailure == v ? kHuge : VertexCost(v));
      lastFailure = v;
      continue;
    }
    lastFailure = -1;
    heap.Pop();
    touched.clear();
    for (const BuilderLink& link : links_[v]) touched.insert(touched.end(), {link.a, link.b});
    for (const FillTriangle& t : *fill) touched.insert(touched.end(), {t.x, t.a, t.b});
    removed += Commit(v, *fill);
    order[fixed++] = v;
    for (VertexIndex c : touched) {
      if (IsCostValid(c) || IsRemoved(c)) continue;
      if (!heap.Contains(c)) FatalError("Error en reSortVertex");
      heap.Update(c, VertexCost(c));
    }
    if (!ReportProgress(static_cast<float>(fixed - 1) / static_cast<float>(end))) break;
  }
  return fixed;
}

void FanBuilder::PrefetchLinksIfStale(VertexIndex c) const {
  if (!IsCostValid(c)) PrefetchCacheLine(links_[c].data());
}

VertexIndex FanBuilder::CheapestCorner(VertexIndex u, float below) {
  // The corners whose costs are stale read their link lists, which lie far
  // apart: ask for all of them before the first cost needs one.
  for (const BuilderLink& link : links_[u]) PrefetchLinksIfStale(link.a), PrefetchLinksIfStale(link.b);
  VertexIndex best = -1;
  for (const BuilderLink& link : links_[u]) {
    for (VertexIndex c : {link.a, link.b}) {
      const float cost = ValidCost(c);
      if (cost < below) below = cost, best = c;
    }
  }
  return best;
}

VertexIndex FanBuilder::CheapestFillCorner(std::span<const FillTriangle> fill) {
  for (const FillTriangle& t : fill) PrefetchLinksIfStale(t.x), PrefetchLinksIfStale(t.a), PrefetchLinksIfStale(t.b);
  VertexIndex best = -1;
  float bestCost = kHuge;
  for (const FillTriangle& t : fill) {
    for (VertexIndex c : {t.x, t.a, t.b}) {
      const float cost = ValidCost(c);
      if (cost < bestCost) bestCost = cost, best = c;
    }
  }
  return best;
}

// "Sculptor": from each vertex in index order, walk downhill over the
// neighbours to a local cost minimum, remove it, and go on from the cheapest
// corner of its fill.
int32_t FanBuilder::RunSculptor(std::vector<VertexIndex>& order, int64_t target) {
  const int32_t end = static_cast<int32_t>(order.size());
  int32_t fixed = 1;
  int64_t removed = 0;
  for (VertexIndex u0 = 1; u0 < VertexCount() && removed < target && fixed < end; ++u0) {
    if (IsRemoved(u0)) continue;
    VertexIndex u = u0;
    float c = ValidCost(u);
    VertexIndex lastFailure = -1;
    while (removed < target) {
      for (VertexIndex w; (w = CheapestCorner(u, c)) >= 0;) u = w, c = costs_[w];
      if (c >= kHuge) break;
      std::optional<Fill> fill = Remove(u);
      if (!fill) {
        if (lastFailure == u) break;
        lastFailure = u;
        c = VertexCost(u);
        continue;
      }
      lastFailure = -1;
      removed += Commit(u, *fill);
      order[fixed++] = u;
      const VertexIndex next = CheapestFillCorner(*fill);
      if (!ReportProgress(static_cast<float>(fixed) / static_cast<float>(end))) return fixed;
      if (next < 0 || costs_[next] >= kHuge) break;
      u = next;
      c = costs_[next];
    }
  }
  return fixed;
}

// "Batch": sort the remaining vertices by cost, remove along the sorted list
// skipping every vertex whose cost a removal of this pass made stale, and
// repeat until a pass removes nothing.
int32_t FanBuilder::RunBatch(std::vector<VertexIndex>& order, int64_t target) {
  const int32_t end = static_cast<int32_t>(order.size());
  int32_t fixed = 1;
  int64_t removed = 0;
  while (fixed < end && removed < target) {
    PrintError("\nCompute");
    for (int32_t i = fixed; i < end; ++i)
      if (!IsCostValid(order[i])) VertexCost(order[i]);
    PrintError("\nSorting");
    std::sort(order.begin() + fixed, order.end(), [this](VertexIndex x, VertexIndex y) {
      return costs_[x] < costs_[y] || (costs_[x] == costs_[y] && x < y);
    });
    int32_t removedThisPass = 0;
    for (int32_t i = fixed; i < end && removed < target; ++i) {
      const VertexIndex v = order[i];
      if (!IsCostValid(v)) continue;
      if (costs_[v] >= kHuge) break;
      std::optional<Fill> fill = Remove(v);
      if (!fill) {
        InvalidateCost(v);
        continue;
      }
      removed += Commit(v, *fill);
      std::swap(order[i], order[fixed++]);
      ++removedThisPass;
      if (!ReportProgress(static_cast<float>(fixed) / static_cast<float>(VertexCount()))) return fixed;
    }
    if (removedThisPass == 0) break;
  }
  return fixed;
}

// --- Fan meshes ------------------------------------------------------------------

std::vector<std::unique_ptr<QXPck>> FanBuilder::BuildFanMeshes(const std::vector<VertexIndex>& order,
                                                               int32_t fixed) {
  std::vector<std::unique_ptr<QXPck>> meshes;
  for (;;) {
    // The first link left anywhere chooses the next group.
    std::optional<int32_t> group;
    for (VertexIndex v : order) {
      if (!links_[v].empty()) {
        group = links_[v].front().group;
        break;
      }
    }
    if (!group) break;
    meshes.push_back(BuildGroupMesh(order, fixed, *group));
  }
  // Each mesh went in front of the list: the last group built comes first.
  std::reverse(meshes.begin(), meshes.end());
  return meshes;
}

std::unique_ptr<QXPck> FanBuilder::BuildGroupMesh(const std::vector<VertexIndex>& order, int32_t fixed,
                                                  int32_t group) {
  // Every vertex with links is in `order`, so the vertices are visited in
  // index order, which reads the link lists far more cache-friendly than the
  // removal order does.
  std::vector<uint8_t> used(positions_.size(), 0);
  used[0] = 1;
  for (VertexIndex v = 1; v < VertexCount(); ++v)
    for (const BuilderLink& link : links_[v])
      if (link.group == group) used[v] = used[link.a] = used[link.b] = 1;

  // New numbering: dummy, removed vertices in removal order, base vertices.
  std::vector<VertexIndex> newIndex(positions_.size(), -1);
  int32_t count = 0;
  int32_t split = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    if (!used[order[i]]) continue;
    newIndex[order[i]] = count++;
    if (static_cast<int32_t>(i) < fixed) split = count;
  }

  auto mesh = std::make_unique<QXPck>();
  mesh->Create(count);
  std::vector<PlainLink> ring;
  for (size_t k = 0; k < order.size(); ++k) {
    // The removal order jumps about the link lists: ask for them ahead.
    if (k + kLinkLead < order.size()) PrefetchCacheLine(&links_[order[k + kLinkLead]]);
    if (k + kLinkLead / 2 < order.size()) PrefetchCacheLine(links_[order[k + kLinkLead / 2]].data());
    const VertexIndex v = order[k];
    const VertexIndex i = newIndex[v];
    if (i < 0) continue;
    TakeGroupLinks(v, group, newIndex, count, ring);
    CloseRing(i, ring);
    mesh->records[i] = BuildRecord(i, ring);
    if (v != 0) mesh->vertices[i].position = positions_[v];
  }
  mesh->group = group;
  mesh->splitIndex = split;
  mesh->baseCount = count - split;
  ComputeMetrics(*mesh);
  return mesh;
}

void FanBuilder::TakeGroupLinks(VertexIndex v, int32_t group, const std::vector<VertexIndex>& newIndex,
                                int32_t meshVertices, std::vector<PlainLink>& ring) {
  auto remap = [&](VertexIndex old) {
    const VertexIndex fresh = newIndex[old];
    if (fresh < 0 || fresh >= meshVertices) FatalError("Error in contruction");
    return fresh;
  };
  ring.clear();
  LinkList& links = links_[v];
  // Later links come first, as if each link had been put in front of a list
  // when it was stored.
  for (auto link = links.rbegin(); link != links.rend(); ++link)
    if (link->group == group) ring.push_back({remap(link->b), remap(link->a), 0, remap(link->dependency)});
  std::erase_if(links, [group](const BuilderLink& link) { return link.group == group; });
}

}  // namespace qx
