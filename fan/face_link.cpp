#include "fan/face_link.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>


namespace qx {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define QX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QX_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef QX_ADDRESS_SANITIZER
// Under the address sanitizer every link goes to the allocator, so that a use
// after free is still caught.
constexpr std::size_t kRecycledLinks = 0;
#else
// Enough for the churn of coding one vertex after another; what is dropped in
// bulk beyond this (a whole mesh's lists at the end) returns to the allocator.
constexpr std::size_t kRecycledLinks = 1 << 14;
#endif

// The links this thread dropped, ready for reuse. Plain thread-local data
// with no destructor of its own, so a link dropped during the thread's exit
// still finds a valid (if drained) list.
struct FreeLink {
  FreeLink* next;
};
thread_local FreeLink* freeLinks = nullptr;
thread_local std::size_t freeLinkCount = 0;
thread_local bool linksDrained = false;

// Hands the recycled links back to the allocator when the thread ends.
struct FreeLinkDrain {
  ~FreeLinkDrain() {
    linksDrained = true;
    while (FreeLink* link = freeLinks) {
      freeLinks = link->next;
      ::operator delete(link);
    }
    freeLinkCount = 0;
  }
};
thread_local FreeLinkDrain freeLinkDrain;

}  // namespace

void* FaceLink::operator new(std::size_t size) {
  if (size != sizeof(FaceLink) || freeLinks == nullptr) return ::operator new(size);
  FreeLink* link = freeLinks;
  freeLinks = link->next;
  --freeLinkCount;
  return link;
}

void FaceLink::operator delete(void* link, std::size_t size) {
  if (size != sizeof(FaceLink) || linksDrained || freeLinkCount >= kRecycledLinks) {
    ::operator delete(link);
    return;
  }
  (void)&freeLinkDrain;  // odr-use: makes the thread register the drain
  freeLinks = new (link) FreeLink{freeLinks};
  ++freeLinkCount;
}

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
  auto link = std::make_unique<FaceLink>(a, b, group, dependency);
  link->next = std::move(head_);
  head_ = std::move(link);
  return *head_;
}

namespace {

// A ring of 256 or more links cannot be stored (the ring size is one byte).
constexpr int kMaxRingLinks = 255;

// The arrays a ring is ordered in, kept per thread: a ring is closed for
// every vertex the decoder reads and the builder writes, and fresh arrays
// each time would cost more than the ordering itself.
struct RingScratch {
  std::vector<PlainLink> remaining;  // links not yet in a chain, in list order
  std::vector<PlainLink> chain;      // the chain grows both ways from the middle
  std::vector<PlainLink> ring;       // the chains with their gap links, in order
  std::vector<PlainLink> copied;     // a FaceList's links, for the list form
};

RingScratch& Scratch() {
  thread_local RingScratch scratch;
  return scratch;
}

// The chain being extracted: chain[front, back) of the scratch array, which
// has room for every link on either side of the first.
struct Chain {
  const std::vector<PlainLink>& links;
  size_t front, back;

  const PlainLink& First() const { return links[front]; }
  const PlainLink& Last() const { return links[back - 1]; }

  // Step (a): a link may go in front of the chain unless its a repeats the
  // head's b or the b of any chain link but the last.
  bool FrontRepeats(VertexIndex a) const {
    if (a == First().b) return true;
    for (size_t i = front; i + 1 < back; ++i)
      if (links[i].b == a) return true;
    return false;
  }
  // Step (b): a link may go behind the chain unless its b repeats the a of
  // any chain link.
  bool BackRepeats(VertexIndex b) const {
    for (size_t i = front; i < back; ++i)
      if (links[i].a == b) return true;
    return false;
  }
};

PlainLink TakeAt(std::vector<PlainLink>& remaining, std::vector<PlainLink>::iterator at) {
  const PlainLink link = *at;
  remaining.erase(at);
  return link;
}

// Extracts one chain, starting with the first remaining link, into the
// scratch chain array.
Chain ExtractChain(RingScratch& scratch) {
  std::vector<PlainLink>& remaining = scratch.remaining;
  const size_t middle = remaining.size();
  scratch.chain.resize(2 * middle + 1);
  Chain chain{scratch.chain, middle, middle + 1};
  scratch.chain[middle] = TakeAt(remaining, remaining.begin());
  while (!remaining.empty()) {
    const VertexIndex headA = chain.First().a;
    auto front = std::find_if(remaining.begin(), remaining.end(),
                              [headA](const PlainLink& link) { return link.b == headA; });
    if (front != remaining.end()) {
      if (chain.FrontRepeats(front->a)) break;
      scratch.chain[--chain.front] = TakeAt(remaining, front);
      continue;
    }
    const VertexIndex tailB = chain.Last().b;
    auto back = std::find_if(remaining.begin(), remaining.end(),
                             [tailB](const PlainLink& link) { return link.a == tailB; });
    if (back == remaining.end() || chain.BackRepeats(back->b)) break;
    scratch.chain[chain.back++] = TakeAt(remaining, back);
  }
  return chain;
}

// The whole CloseRing; the ring (or, on a fault, every link) ends up in
// `links`. `limitLinks` refuses rings that no record can hold.
RingStatus CloseRingImpl(VertexIndex v, std::vector<PlainLink>& links, bool limitLinks) {
  if (limitLinks && links.size() > kMaxRingLinks) return {RingFault::kTooManyLinks, static_cast<int32_t>(links.size())};
  RingScratch& scratch = Scratch();
  std::vector<PlainLink>& ring = scratch.ring;
  scratch.remaining.assign(links.begin(), links.end());
  ring.clear();

  // Two chains that meet at one neighbour (a vertex whose neighbours loop
  // back on themselves, as non-manifold input can leave) are joined directly:
  // a gap from a vertex to itself would stand for nothing and cannot be stored.
  auto addGap = [&](VertexIndex a, VertexIndex b) {
    if (a != b) ring.push_back({a, b, 0, v});
  };
  while (!scratch.remaining.empty()) {
    const Chain chain = ExtractChain(scratch);
    if (!ring.empty()) addGap(ring.back().b, chain.First().a);
    ring.insert(ring.end(), chain.links.begin() + static_cast<std::ptrdiff_t>(chain.front),
                chain.links.begin() + static_cast<std::ptrdiff_t>(chain.back));
  }
  if (!ring.empty() && ring.back().b != ring.front().a) addGap(ring.back().b, ring.front().a);

  RingStatus status;
  if (limitLinks && ring.size() > kMaxRingLinks)
    status = {RingFault::kTooManyLinks, static_cast<int32_t>(ring.size())};
  if (status.Ok() && !ring.empty()) {
    auto smallest = std::min_element(ring.begin(), ring.end(),
                                     [](const PlainLink& x, const PlainLink& y) { return x.a < y.a; });
    std::rotate(ring.begin(), smallest, ring.end());
  }
  links.swap(ring);
  return status;
}

// The list form: the links are ordered as plain values and the list is
// rebuilt from them in the new order.
RingStatus CloseListImpl(VertexIndex v, FaceList& list, bool limitLinks) {
  std::vector<PlainLink>& links = Scratch().copied;
  links.clear();
  for (const FaceLink& link : list) links.push_back({link.a, link.b, link.group, link.dependency});
  const RingStatus status = CloseRingImpl(v, links, limitLinks);
  list.Clear();
  for (auto it = links.rbegin(); it != links.rend(); ++it) list.PushFront(it->a, it->b, it->group, it->dependency);
  return status;
}

}  // namespace

void CloseRing(VertexIndex v, FaceList& links) { CloseListImpl(v, links, /*limitLinks=*/false); }

RingStatus TryCloseRing(VertexIndex v, FaceList& links) { return CloseListImpl(v, links, /*limitLinks=*/true); }

void CloseRing(VertexIndex v, std::vector<PlainLink>& links) { CloseRingImpl(v, links, /*limitLinks=*/false); }

RingStatus TryCloseRing(VertexIndex v, std::vector<PlainLink>& links) {
  return CloseRingImpl(v, links, /*limitLinks=*/true);
}

}  // namespace qx
