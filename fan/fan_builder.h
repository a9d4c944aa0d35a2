// FanBuilder: collects triangles with welded vertices, simplifies the mesh by
// removing vertices one at a time, and writes one fan mesh per face group.
//
// Every removal re-triangulates the hole around the removed vertex v and tags
// each new triangle with v as its dependency; the order of removal becomes the
// order of refinement (the first vertex removed is the last one a viewer
// inserts). The removal loop, for every strategy:
//
//   cost(v) for the candidates              (VertexCost → the metric's Cost)
//   while triangles removed < target:
//     v = the cheapest candidate            (stop when its cost is 1e35)
//     fill = Remove(v)                       (the metric's re-triangulation)
//     if fill failed: recompute cost(v) and continue
//     Commit(v, fill)                        (v keeps its triangles as its
//                                             final ones; the fill enters the
//                                             live mesh with dependency v)
//     recompute the costs made invalid      (v's neighbours)
//   every vertex still alive becomes a base vertex (Commit with no fill)
//   number the vertices: dummy 0, removed ones in removal order, base ones
//
// Metrics derive from FanBuilder and provide Init, Cost and Remove
// (VolumeBuilder, QuadricBuilder).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "common/geometry.h"
#include "fan/face_link.h"
#include "fan/pck.h"

namespace qx {

// One triangle (centre, a, b) as the centre vertex stores it, a link held by
// value: `group` is the triangle's face group (material), `dependency` the
// vertex whose removal created it (0 for input triangles). Each triangle
// (x, a, b) is stored once in each corner, rotated: x holds (a, b), a holds
// (b, x), b holds (x, a), all with the same group and dependency.
using BuilderLink = PlainLink;

// The triangles around one vertex. The lists of a builder come from one
// memory pool of its own (FanBuilder::linkPool_), so that the lists of
// vertices welded one after another lie together, however scattered the
// heap is that the program left behind (a batch of models converted in one
// process, a window that loaded others before).
using LinkList = std::pmr::vector<BuilderLink>;

// A triangle that fills the hole of a removed vertex: (x, a, b).
struct FillTriangle {
  VertexIndex x = 0;
  VertexIndex a = 0;
  VertexIndex b = 0;
  int32_t group = 0;
};
using Fill = std::vector<FillTriangle>;

// Called during Build with a fraction 0 … 1; false asks the build to stop
// (what was simplified so far is kept and the mesh stays valid).
using BuildProgress = std::function<bool(float fraction)>;

// Removal order strategies (the import option "Model").
enum BuildStrategy : int32_t {
  kStrategyStandard = 0,  // global order by cost, neighbours re-sorted after each removal
  kStrategySculptor = 1,  // greedy descent to a local cost minimum, vertex by vertex
  kStrategyBatch = 2,     // passes over the sorted vertices, recomputing costs between passes
};

// Removals never let a vertex grow past this many triangles, and welding
// starts a twin vertex beyond it: a fan record holds fewer than 256 ring
// positions, and a vertex whose triangles touch only at it (a fan of loose
// triangles) needs a gap link after every triangle link, two positions each.
inline constexpr int kMaxGrownLinks = 127;

class FanBuilder {
 public:
  FanBuilder();
  virtual ~FanBuilder();
  FanBuilder(const FanBuilder&) = delete;
  FanBuilder& operator=(const FanBuilder&) = delete;

  // Most triangles around a removable vertex; the import sets min(MaxDegree, 256).
  int32_t degreeLimit = 255;
  // Most distinct dependencies around a removable vertex; the import sets
  // min(MaxDependencies, 256).
  int32_t dependencyLimit = 255;

  // Frees every triangle and vertex, empties the weld table and the box, then
  // creates the dummy vertex 0 at (1e35, 1e35, 1e35) with cost 1e35, so that
  // real vertices are numbered from 1.
  void Reset();

  // Welds the three points (a vertex is reused when its 12 position bytes are
  // identical; -0.0 and 0.0 differ) and adds the triangle (p0, p1, p2) with
  // face group `group`. Degenerate triangles (two welded corners equal) are
  // dropped; the box grows by every new vertex. A vertex already holding
  // kMaxGrownLinks triangles is not reused: the point gets a new vertex at the
  // same position, so that no ring outgrows a fan record.
  void AddTriangle(Vector p0, Vector p1, Vector p2, int32_t group);

  // Adds the triangle (x, a, b) by vertex indices. A dependency of -1 means
  // 0-based indices from outside (they are shifted past the dummy and the
  // dependency becomes 0). Returns false, adding nothing, when a corner is not
  // a real vertex (outside 1 … count−1), two corners are equal, or the reverse
  // triangle (x, b, a) is already stored (a folded pair cannot form a ring).
  // A corner that already holds the same (a, b) gets no second link, but the
  // face count still grows.
  bool AddFace(VertexIndex x, VertexIndex a, VertexIndex b, int32_t group, VertexIndex dependency);

  // Simplifies and writes the fan meshes: removes ⌊face count × level⌋
  // triangles (level 0 … 1) in the order of `strategy` (another value removes
  // nothing), then writes one fan mesh per face group, in the order the
  // import adds them to the scene (the group built last comes first). The
  // caller owns the meshes. Empty when the builder holds no real vertex. The
  // triangles are consumed: Reset before collecting again.
  std::vector<std::unique_ptr<QXPck>> Build(float level, int32_t strategy, BuildProgress progress);

  // --- The removal engine (public so that its steps can be checked alone). ---

  // Starts a simplification: clears the cost-valid and removed marks, marks
  // every vertex without triangles removed and prepares the metric (Init).
  void PrepareSimplification();

  // Takes vertex v out of the live mesh: v keeps its links as its final
  // triangles; its neighbours lose every link that contains v and their
  // costs become invalid. Returns the number of v's triangles (the face count
  // drops by it).
  int32_t Detach(VertexIndex v);

  // Removes v: Detach(v), then adds every fill triangle with dependency v and
  // invalidates the costs of its corners; v is marked removed. Returns the
  // net number of triangles that left the live mesh. A fill triangle that
  // AddFace refuses is a broken invariant of the metric: the fatal error
  // "\nError en compress: %d" (v).
  int32_t Commit(VertexIndex v, std::span<const FillTriangle> fill);

  // Computes, stores and returns v's cost, marking it valid: 1e35 for a vertex
  // without triangles, with more triangles than degreeLimit or with more
  // distinct dependencies than dependencyLimit; otherwise the metric's Cost.
  float VertexCost(VertexIndex v);

  int32_t VertexCount() const { return static_cast<int32_t>(positions_.size()); }
  int32_t FaceCount() const { return faceCount_; }
  const Box& Bounds() const { return box_; }
  Vector Position(VertexIndex v) const { return positions_[v]; }
  const LinkList& Links(VertexIndex v) const { return links_[v]; }
  float StoredCost(VertexIndex v) const { return costs_[v]; }
  bool IsRemoved(VertexIndex v) const { return flags_[v] & kRemoved; }
  bool IsCostValid(VertexIndex v) const { return flags_[v] & kCostValid; }

 protected:
  // Prepares the metric; called once when simplification starts, after the
  // vertices without triangles are marked removed.
  virtual void Init() {}
  // v's removal cost (≥ 0; 1e35 when v must stay). v has triangles.
  virtual float Cost(VertexIndex v) = 0;
  // The triangles that fill v's hole, or none (the failure marker) when v
  // cannot be removed now; the strategy then recomputes v's cost. Called only
  // right before Commit(v, fill).
  virtual std::optional<Fill> Remove(VertexIndex v) = 0;

  // Whether `fill` may replace v's triangles: no triangle is degenerate or
  // touches v, none repeats or folds over (reverses) a triangle that stays or
  // another fill triangle, and no corner grows past kMaxGrownLinks triangles.
  bool FillIsAcceptable(VertexIndex v, std::span<const FillTriangle> fill);

  void InvalidateCost(VertexIndex v) { flags_[v] &= static_cast<uint8_t>(~kCostValid); }

 private:
  static constexpr uint8_t kCostValid = 1;
  static constexpr uint8_t kRemoved = 2;

  VertexIndex WeldVertex(Vector p);
  void RehashWeldTable(size_t bucketCount);
  size_t WeldBucket(Vector p) const;
  bool StoreLink(VertexIndex corner, const BuilderLink& link);
  void DropLinksWith(VertexIndex corner, VertexIndex v);
  int CountDistinctDependencies(VertexIndex v, int limit);
  bool HasTooManyDependencies(VertexIndex v);
  bool RepeatsAroundCorner(std::span<const FillTriangle> fill) const;
  bool RepeatsFillTriangle(std::span<const FillTriangle> fill);
  bool RepeatsStoredTriangle(std::span<const FillTriangle> fill) const;
  bool GrowsTooMuch(VertexIndex v, std::span<const FillTriangle> fill);
  void MarkRemoved(VertexIndex v) { flags_[v] |= kRemoved; }
  // Clears every cost-valid and removed mark, then marks the vertices without
  // triangles removed.
  void ClearMarks();

  // Strategies: each fills order[1 … k−1] with the removed vertices in removal
  // order and returns k. `order` holds the dummy and every vertex with
  // triangles on entry.
  int32_t RunStrategy(int32_t strategy, std::vector<VertexIndex>& order, int64_t target);
  int32_t RunStandard(std::vector<VertexIndex>& order, int64_t target);
  int32_t RunSculptor(std::vector<VertexIndex>& order, int64_t target);
  int32_t RunBatch(std::vector<VertexIndex>& order, int64_t target);
  bool ReportProgress(float fraction) const { return !progress_ || progress_(fraction); }
  float ValidCost(VertexIndex v) { return IsCostValid(v) ? costs_[v] : VertexCost(v); }
  // Starts loading c's link list when c's cost must be computed again.
  void PrefetchLinksIfStale(VertexIndex c) const;
  VertexIndex CheapestCorner(VertexIndex u, float below);
  VertexIndex CheapestFillCorner(std::span<const FillTriangle> fill);

  // One fan mesh per face group from the final links; `fixed` is the number
  // of leading order entries that are the dummy and the removed vertices.
  std::vector<std::unique_ptr<QXPck>> BuildFanMeshes(const std::vector<VertexIndex>& order, int32_t fixed);
  std::unique_ptr<QXPck> BuildGroupMesh(const std::vector<VertexIndex>& order, int32_t fixed, int32_t group);
  // Moves v's links of `group` into `ring`, renumbered, in the order a ring
  // is closed from.
  void TakeGroupLinks(VertexIndex v, int32_t group, const std::vector<VertexIndex>& newIndex,
                      int32_t meshVertices, std::vector<PlainLink>& ring);

  // Vertex store, flat per vertex.
  std::vector<Vector> positions_;
  std::vector<float> costs_;
  std::vector<uint8_t> flags_;
  std::pmr::unsynchronized_pool_resource linkPool_;  // declared before the lists it holds
  std::vector<LinkList> links_;
  // Weld table: bucket heads and a next-in-bucket chain per vertex (-1 ends).
  std::vector<VertexIndex> bucketHeads_;
  std::vector<VertexIndex> bucketNext_;

  // Scratch space of the checks that run for every candidate removal; kept
  // between calls so that vetting does not allocate.
  struct VettingScratch {
    std::vector<std::array<VertexIndex, 3>> shapes;
    std::vector<VertexIndex> corners;
    std::vector<VertexIndex> dependencies;
  };
  VettingScratch vetting_;

  int32_t faceCount_ = 0;
  // At least the size of the longest link list (lists only shrink otherwise).
  size_t longestLinkList_ = 0;
  Box box_;
  BuildProgress progress_;
};

}  // namespace qx
