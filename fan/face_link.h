// FaceLink lists: the form in which the triangles around one centre vertex
// travel between the records, the encoder and the tools. The builder and the
// decoder, which handle a ring per vertex by the million, hold theirs as
// arrays of PlainLinks instead; both forms close and build records the same.
//
// A link (a, b) around centre v stands for the triangle (v, a, b). Its
// `dependency` is the vertex whose insertion removes the triangle again; a
// link whose dependency is v itself is a *gap link*: it closes the ring where
// the fan is open and stands for no triangle.
//
// A list is singly linked and owns its links: each link owns the next one,
// the list owns the first. Dropping a list (or a link) frees the rest of the
// chain iteratively, so long lists cannot exhaust the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

namespace qx {

// Index kinds. They are plain integers; the names say which kind a value is.
using VertexIndex = int32_t;  // a vertex of a fan mesh, 0 … N−1
using Level = int32_t;        // a level of detail, 0 … N−1 (vertices above it are present)

struct FaceLink {
  FaceLink() = default;
  FaceLink(VertexIndex a, VertexIndex b, int32_t group, VertexIndex dependency)
      : a(a), b(b), group(group), dependency(dependency) {}
  FaceLink(const FaceLink&) = delete;
  FaceLink& operator=(const FaceLink&) = delete;
  ~FaceLink();

  // Links are made and dropped by the million while meshes are coded, a few
  // per vertex; each thread recycles the links it drops (face_link.cpp).
  static void* operator new(std::size_t size);
  static void operator delete(void* link, std::size_t size);

  // Whether this is a gap link of the ring around `centre`.
  bool IsGap(VertexIndex centre) const { return dependency == centre; }

  std::unique_ptr<FaceLink> next;  // none at the end
  VertexIndex a = 0;               // first ring vertex of the triangle (centre, a, b)
  VertexIndex b = 0;               // second ring vertex
  int32_t group = 0;               // face group while building; 0 elsewhere
  VertexIndex dependency = 0;      // the vertex whose insertion removes the triangle
};

// A link held by value, for code that orders and reads a ring in an array
// rather than a list (the builder's and the decoder's own rings).
struct PlainLink {
  VertexIndex a = 0;
  VertexIndex b = 0;
  int32_t group = 0;
  VertexIndex dependency = 0;

  bool IsGap(VertexIndex centre) const { return dependency == centre; }
};

// An owning, singly linked list of FaceLinks. Move-only.
class FaceList {
 public:
  FaceList() = default;
  FaceList(FaceList&&) noexcept = default;
  FaceList& operator=(FaceList&&) noexcept = default;
  ~FaceList() = default;  // FaceLink's destructor unrolls the chain

  bool Empty() const { return !head_; }
  // Number of links (walks the list).
  int Count() const;
  // Frees every link; the list is empty afterwards.
  void Clear() { head_.reset(); }

  FaceLink* Front() { return head_.get(); }
  const FaceLink* Front() const { return head_.get(); }

  // Puts a new link in front of the list and returns it.
  FaceLink& PushFront(VertexIndex a, VertexIndex b, int32_t group, VertexIndex dependency);

  template <class Link>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = FaceLink;
    using difference_type = std::ptrdiff_t;
    using pointer = Link*;
    using reference = Link&;
    Iterator() = default;
    explicit Iterator(Link* link) : link_(link) {}
    Link& operator*() const { return *link_; }
    Link* operator->() const { return link_; }
    Iterator& operator++() {
      link_ = link_->next.get();
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(Iterator x, Iterator y) { return x.link_ == y.link_; }

   private:
    Link* link_ = nullptr;
  };
  using iterator = Iterator<FaceLink>;
  using const_iterator = Iterator<const FaceLink>;
  iterator begin() { return iterator(head_.get()); }
  iterator end() { return iterator(); }
  const_iterator begin() const { return const_iterator(head_.get()); }
  const_iterator end() const { return const_iterator(); }

 private:
  std::unique_ptr<FaceLink> head_;
};

// Why a ring cannot become (part of) a fan record. Only file data can cause
// these through the checked functions; the unchecked ones end the program.
enum class RingFault : uint8_t {
  kNone,
  kTooManyLinks,    // 256 or more links: a ring size is one byte; value = link count
  kDegenerateLink,  // a triangle link whose a equals its b; value = its dependency
  kBadIndex,        // a corner outside 0 … N−1 or a dependency outside 0 … centre; value = it
};

struct RingStatus {
  RingFault fault = RingFault::kNone;
  int32_t value = 0;
  bool Ok() const { return fault == RingFault::kNone; }
};

// Orders the links of centre vertex v into one closed ring, in place:
//  1. Chains are extracted while links remain: the first remaining link starts
//     a chain, which grows at its front by a link whose b is the head's a and
//     at its back by a link whose a is the tail's b, and stops where growing
//     would repeat a ring vertex (the exact stop rules are in face_link.cpp).
//  2. The chains are concatenated in extraction order, each but the last
//     followed by a gap link (dependency v, group 0) from its last b to the
//     next chain's first a — none where the two chains meet at the same
//     neighbour (non-manifold input can leave such a vertex) — and a closing
//     gap link goes from the last b back to the first a when they differ.
//  3. The ring is rotated to start at the first link with the smallest a.
// A closed manifold ring only gets rotated; a boundary vertex (one open chain)
// gets exactly one gap link. An empty list stays empty.
// Every list of links closes this way, so no gap link ever joins a vertex to
// itself.
void CloseRing(VertexIndex v, FaceList& links);

// The checked CloseRing for rings read from a file: refuses (returns the
// fault, and the program goes on) a ring of 256 or more links, which no fan record can hold (checked before any work, and again
// after the gap links are added). On refusal the list still holds every link
// it held, in some order, plus possibly gap links; the caller drops it.
RingStatus TryCloseRing(VertexIndex v, FaceList& links);

// The same two for links held by value, in list order (first link first).
void CloseRing(VertexIndex v, std::vector<PlainLink>& links);
RingStatus TryCloseRing(VertexIndex v, std::vector<PlainLink>& links);

}  // namespace qx
