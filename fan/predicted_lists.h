// Predicted rings: every coded triangle (v, a, b) whose dependency c is
// neither 0 nor v announces its three edges to c's list, where the edges
// shared with triangles announced before cancel. What is left is the
// boundary of the hole that c's insertion will fill: c's ring, known before c
// is coded. The predicting connectivity coders keep one PredictedLists per
// mesh; reader and writer announce the same triangles in the same order, so
// their lists agree.
#pragma once

#include <cstddef>
#include <vector>

#include "fan/face_link.h"

namespace qx {

class PredictedLists {
 public:
  // One empty list per vertex of a mesh of `vertexCount` vertices.
  void SetUp(VertexIndex vertexCount);
  int Count() const { return static_cast<int>(lists_.size()); }
  bool Empty(VertexIndex c) const { return lists_[static_cast<size_t>(c)].empty(); }

  // Announces triangle (v, a, b) with dependency c to c's list: each of its
  // directed edges v→a, a→b, b→v cancels the first link of the list that
  // runs the other way, and each edge left over becomes a new link
  // (dependency field = the opposite corner) at the front of the list.
  // Nothing for c = 0. Returns false (and changes the list only partly) when
  // an edge left over starts where it ends; `degenerateCorner` then holds its
  // opposite corner. 0 < c < Count().
  bool Add(VertexIndex c, VertexIndex v, VertexIndex a, VertexIndex b, VertexIndex* degenerateCorner = nullptr);
  // Add for every triangle link of a ring (a FaceList or an array of
  // PlainLinks); false on a degenerate edge (value in `degenerateCorner`) or,
  // when `bounded`, on a list grown beyond what any valid file produces.
  template <class Ring>
  bool AnnounceRing(VertexIndex v, const Ring& ring, bool bounded, VertexIndex* degenerateCorner);

  // Takes v's list, newest link first, into `links` (v's slot is left empty).
  void Take(VertexIndex v, std::vector<PlainLink>& links);
  // Empties v's list, keeping its room for reuse.
  void Drop(VertexIndex v);
  // A copy of c's list, newest link first (tests look at it).
  FaceList Copy(VertexIndex c) const;

 private:
  // One announced edge start→end; `opposite` is the third corner of its
  // triangle (the dependency field of the link it becomes).
  struct PredictedEdge {
    VertexIndex start, end, opposite;
  };
  // A list is kept flat, oldest edge first: the list's front is the back of
  // the vector. Each list is searched on every announcement, and one short
  // array is one or two cache lines where a chain of nodes is a miss per
  // node. Lists drained by Take keep their room in `spare_` for the next
  // list that starts.
  using List = std::vector<PredictedEdge>;

  // Starts loading the lists a ring will announce to.
  template <class Ring>
  void PrefetchLists(VertexIndex v, const Ring& ring) const;

  // A valid file announces at most the hole triangles of c (fewer than 256,
  // three edges each) to c's list; a longer list can only come from a
  // hostile file, and bounding it keeps Add's search short.
  static constexpr size_t kMaxLinks = 4096;
  // Room a new list starts with: a hole of six or so edges, plus the edges
  // of the triangle being announced before its shared ones cancel.
  static constexpr size_t kTypicalLinks = 12;

  std::vector<List> lists_;
  std::vector<List> spare_;
};

// Whether a closed predicted ring has the links of `ring`, a and b, in the
// same order: the prediction holds.
bool SameRing(const std::vector<PlainLink>& predicted, const FaceList& ring);

}  // namespace qx
