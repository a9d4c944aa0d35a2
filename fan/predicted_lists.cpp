#include "fan/predicted_lists.h"

#include <cassert>

#include "common/prefetch.h"

namespace qx {

void PredictedLists::SetUp(VertexIndex vertexCount) {
  lists_.clear();
  lists_.resize(static_cast<size_t>(vertexCount > 0 ? vertexCount : 0));
  spare_.clear();
}

FaceList PredictedLists::Copy(VertexIndex c) const {
  FaceList copy;
  for (const PredictedEdge& edge : lists_[static_cast<size_t>(c)]) copy.PushFront(edge.start, edge.end, 0, edge.opposite);
  return copy;
}

void PredictedLists::Take(VertexIndex v, std::vector<PlainLink>& links) {
  const List& list = lists_[static_cast<size_t>(v)];
  links.clear();
  for (auto edge = list.rbegin(); edge != list.rend(); ++edge)
    links.push_back({edge->start, edge->end, 0, edge->opposite});
  Drop(v);
}

void PredictedLists::Drop(VertexIndex v) {
  List& list = lists_[static_cast<size_t>(v)];
  if (list.capacity() == 0) return;
  list.clear();
  spare_.push_back(std::move(list));
  list = List();
}

bool PredictedLists::Add(VertexIndex c, VertexIndex v, VertexIndex a, VertexIndex b, VertexIndex* degenerateCorner) {
  if (c == 0) return true;
  assert(c > 0 && c < Count());
  const PredictedEdge edges[3] = {{v, a, b}, {a, b, v}, {b, v, a}};
  bool cancelled[3] = {false, false, false};
  int left = 3;
  List& list = lists_[static_cast<size_t>(c)];

  // Edges shared with triangles announced before cancel: the first link
  // (newest first) that runs the other way disappears together with the edge.
  for (size_t at = list.size(); at-- > 0 && left > 0;) {
    const PredictedEdge& link = list[at];
    int match = -1;
    for (int i = 0; i < 3 && match < 0; ++i)
      if (!cancelled[i] && link.start == edges[i].end && link.end == edges[i].start) match = i;
    if (match < 0) continue;
    cancelled[match] = true;
    --left;
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(at));
  }
  if (left > 0 && list.capacity() == 0) {
    if (spare_.empty()) {
      list.reserve(kTypicalLinks);
    } else {
      list = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (cancelled[i]) continue;
    if (edges[i].start == edges[i].end) {
      if (degenerateCorner) *degenerateCorner = edges[i].opposite;
      return false;
    }
    list.push_back(edges[i]);
  }
  return true;
}

template <class Ring>
void PredictedLists::PrefetchLists(VertexIndex v, const Ring& ring) const {
  // The lists of a ring's dependencies lie far apart, each behind its
  // header: ask for every header, then for every list's edges, before
  // editing any, so that the loads overlap instead of following each other.
  auto forEachList = [&](auto&& visit) {
    for (const auto& link : ring)
      if (!link.IsGap(v) && link.dependency > 0 && link.dependency < Count())
        visit(lists_[static_cast<size_t>(link.dependency)]);
  };
  forEachList([](const List& list) { PrefetchCacheLine(&list); });
  forEachList([](const List& list) { PrefetchCacheLine(list.data()); });
}

template <class Ring>
bool PredictedLists::AnnounceRing(VertexIndex v, const Ring& ring, bool bounded, VertexIndex* degenerateCorner) {
  PrefetchLists(v, ring);
  for (const auto& link : ring) {
    if (link.IsGap(v)) continue;
    if (!Add(link.dependency, v, link.a, link.b, degenerateCorner)) return false;
    if (bounded && lists_[static_cast<size_t>(link.dependency)].size() > kMaxLinks) return false;
  }
  return true;
}

template bool PredictedLists::AnnounceRing(VertexIndex, const FaceList&, bool, VertexIndex*);
template bool PredictedLists::AnnounceRing(VertexIndex, const std::vector<PlainLink>&, bool, VertexIndex*);

bool SameRing(const std::vector<PlainLink>& predicted, const FaceList& ring) {
  auto j = ring.begin();
  for (const PlainLink& link : predicted) {
    if (j == ring.end() || link.a != j->a || link.b != j->b) return false;
    ++j;
  }
  return j == ring.end();
}

}  // namespace qx
