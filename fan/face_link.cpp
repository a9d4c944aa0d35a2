#include "fan/face_link.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>


namespace qx {

FaceLink::~FaceLink() {
  // Unroll the chain: each step detaches the following link before the
  // current one dies, so no destructor recurses.
  std::unique_ptr<FaceLink> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
}

int FaceList::Count() const {
  int count = 0;
  for (const FaceLink* link = head_.get(); link; link = link->next.get()) ++count;
  return count;
}

FaceLink& FaceList::PushFront(VertexIndex a, VertexIndex b, int32_t group, VertexIndex dependency) {
  PushFront(std::make_unique<FaceLink>(a, b, group, dependency));
  return *head_;
}

void FaceList::PushFront(std::unique_ptr<FaceLink> link) {
  link->next = std::move(head_);
  head_ = std::move(link);
}

std::unique_ptr<FaceLink> FaceList::PopFront() {
  if (!head_) return nullptr;
  std::unique_ptr<FaceLink> first = std::move(head_);
  head_ = std::move(first->next);
  return first;
}

namespace {

using LinkPtr = std::unique_ptr<FaceLink>;
using Chain = std::deque<LinkPtr>;

// A ring of 256 or more links cannot be stored (the ring size is one byte).
constexpr int kMaxRingLinks = 255;

std::vector<LinkPtr> TakeLinks(FaceList& list) {
  std::vector<LinkPtr> links;
  while (LinkPtr link = list.PopFront()) links.push_back(std::move(link));
  return links;
}

// Puts `links` back into `list` in their order.
void GiveLinks(FaceList& list, std::vector<LinkPtr>& links) {
  for (auto it = links.rbegin(); it != links.rend(); ++it) list.PushFront(std::move(*it));
  links.clear();
}

LinkPtr TakeAt(std::vector<LinkPtr>& remaining, std::vector<LinkPtr>::iterator at) {
  LinkPtr link = std::move(*at);
  remaining.erase(at);
  return link;
}

// Step (a): a link may go in front of the chain unless its a repeats the
// head's b or the b of any chain link but the last.
bool FrontRepeats(const Chain& chain, VertexIndex a) {
  if (a == chain.front()->b) return true;
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    if (chain[i]->b == a) return true;
  return false;
}

// Step (b): a link may go behind the chain unless its b repeats the a of any
// chain link.
bool BackRepeats(const Chain& chain, VertexIndex b) {
  return std::any_of(chain.begin(), chain.end(), [b](const LinkPtr& link) { return link->a == b; });
}

// Extracts one chain, starting with the first remaining link.
Chain ExtractChain(std::vector<LinkPtr>& remaining) {
  Chain chain;
  chain.push_back(TakeAt(remaining, remaining.begin()));
  while (!remaining.empty()) {
    const VertexIndex headA = chain.front()->a;
    auto front = std::find_if(remaining.begin(), remaining.end(),
                              [headA](const LinkPtr& link) { return link->b == headA; });
    if (front != remaining.end()) {
      if (FrontRepeats(chain, (*front)->a)) break;
      chain.push_front(TakeAt(remaining, front));
      continue;
    }
    const VertexIndex tailB = chain.back()->b;
    auto back = std::find_if(remaining.begin(), remaining.end(),
                             [tailB](const LinkPtr& link) { return link->a == tailB; });
    if (back == remaining.end() || BackRepeats(chain, (*back)->b)) break;
    chain.push_back(TakeAt(remaining, back));
  }
  return chain;
}

// The whole CloseRing; the ring (or, on a fault, every link) ends up in
// `list`. `limitLinks` refuses rings that no record can hold.
RingStatus CloseRingImpl(VertexIndex v, FaceList& list, bool limitLinks) {
  if (limitLinks) {
    const int count = list.Count();
    if (count > kMaxRingLinks) return {RingFault::kTooManyLinks, count};
  }
  std::vector<LinkPtr> remaining = TakeLinks(list);
  std::vector<LinkPtr> ring;
  ring.reserve(remaining.size() + 1);
  RingStatus status;
  // Two chains that meet at one neighbour (a vertex whose neighbours loop
  // back on themselves, as non-manifold input can leave) are joined directly:
  // a gap from a vertex to itself would stand for nothing and cannot be stored.
  auto addGap = [&](VertexIndex a, VertexIndex b) {
    if (a != b) ring.push_back(std::make_unique<FaceLink>(a, b, 0, v));
  };

  while (!remaining.empty()) {
    Chain chain = ExtractChain(remaining);
    if (!ring.empty()) addGap(ring.back()->b, chain.front()->a);
    for (LinkPtr& link : chain) ring.push_back(std::move(link));
  }
  if (!ring.empty() && ring.back()->b != ring.front()->a) addGap(ring.back()->b, ring.front()->a);

  if (status.Ok() && limitLinks && static_cast<int>(ring.size()) > kMaxRingLinks)
    status = {RingFault::kTooManyLinks, static_cast<int32_t>(ring.size())};
  if (status.Ok() && !ring.empty()) {
    auto smallest = std::min_element(ring.begin(), ring.end(),
                                     [](const LinkPtr& x, const LinkPtr& y) { return x->a < y->a; });
    std::rotate(ring.begin(), smallest, ring.end());
  }
  GiveLinks(list, ring);
  return status;
}

}  // namespace

void CloseRing(VertexIndex v, FaceList& links) { CloseRingImpl(v, links, /*limitLinks=*/false); }

RingStatus TryCloseRing(VertexIndex v, FaceList& links) {
  return CloseRingImpl(v, links, /*limitLinks=*/true);
}

}  // namespace qx
