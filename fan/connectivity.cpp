#include "fan/connectivity.h"

#include <array>
#include <cassert>

#include "common/diagnostics.h"
#include "common/prefetch.h"
#include "fan/bit_channel.h"
#include "fan/edge_dependency.h"
#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx {

const ClassDescriptor ConnectivityRaw::kClass{"ConnectivityRaw", &MakeDefault<ConnectivityRaw>};
const ClassDescriptor ConnectivityModelo2::kClass{"ConnectivityModelo2", &MakeDefault<ConnectivityModelo2>};

namespace {

constexpr std::array<uint8_t, 256> MakeByteLengths() {
  std::array<uint8_t, 256> table{};
  for (int x = 1; x < 256; ++x) table[x] = static_cast<uint8_t>(table[x / 2] + 1);
  return table;
}
constexpr std::array<uint8_t, 256> kByteLength = MakeByteLengths();

// Drops a partly decoded ring and reports the failure.
bool Fail(std::vector<PlainLink>& ring) {
  ring.clear();
  return false;
}

// Whether two closed rings have the same links, a and b, in the same order.
bool SameRing(const std::vector<PlainLink>& x, const FaceList& y) {
  auto j = y.begin();
  for (const PlainLink& link : x) {
    if (j == y.end() || link.a != j->a || link.b != j->b) return false;
    ++j;
  }
  return j == y.end();
}

}  // namespace

int BitLength(uint32_t x) {
  for (int shift = 24; shift > 0; shift -= 8)
    if (x >> shift) return shift + kByteLength[(x >> shift) & 0xFF];
  return kByteLength[x];
}

int OffsetBits(VertexIndex vertexCount, VertexIndex v) {
  return v >= vertexCount - 1 ? 0 : BitLength(static_cast<uint32_t>(vertexCount - v - 1));
}

int DependencyBits(VertexIndex v) { return v < 0 ? 0 : BitLength(static_cast<uint32_t>(v)); }

VertexIndex PredictedDependency(QXPck& mesh, VertexIndex a, VertexIndex b, VertexIndex v) {
  const EdgeWing wing = EdgeDependency(mesh, a, b, v);
  return wing.dependency == v ? 0 : wing.dependency;
}

bool ConnectivityCoder::DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, FaceList& ring) {
  std::vector<PlainLink> links;
  const bool decoded = DecodeRing(bits, mesh, v, links);
  ring.Clear();
  for (auto link = links.rbegin(); link != links.rend(); ++link)
    ring.PushFront(link->a, link->b, link->group, link->dependency);
  return decoded;
}

// ---- ConnectivityRaw --------------------------------------------------------

bool ConnectivityRaw::Encode(BitChannel& bits, VertexIndex vertexCount, VertexIndex v, const FaceList& ring) {
  const int offsetBits = OffsetBits(vertexCount, v);
  const int dependencyBits = DependencyBits(v);
  for (const FaceLink& link : ring) {
    if (link.a <= v || link.a >= vertexCount) {
      PrintMessage("Error grave!!");
      return false;
    }
    if (link.dependency < 0 || link.dependency > v) {
      PrintMessage("Error grave Dep!!");
      return false;
    }
    if (!bits.WriteBits(static_cast<uint32_t>(link.a - v), offsetBits) ||
        !bits.WriteBits(static_cast<uint32_t>(link.dependency), dependencyBits))
      return false;
  }
  return bits.WriteBits(0, offsetBits);  // no neighbour has offset 0
}

bool ConnectivityRaw::Decode(BitChannel& bits, VertexIndex vertexCount, VertexIndex v, std::vector<PlainLink>& ring) {
  ring.clear();
  const int offsetBits = OffsetBits(vertexCount, v);
  const int dependencyBits = DependencyBits(v);
  if (offsetBits == 0) return true;  // v = N-1: nothing above it, nothing coded

  uint32_t offset;
  if (!bits.ReadBits(offsetBits, offset)) return Fail(ring);
  while (offset != 0) {
    if (ring.size() == kMaxRingSize) return Fail(ring);  // no record could hold it
    const int64_t a = int64_t{v} + offset;
    if (a >= vertexCount) {
      PrintMessage("Error muy grave");
      return Fail(ring);
    }
    uint32_t dependency = 0;
    if (!bits.ReadBits(dependencyBits, dependency)) return Fail(ring);
    if (dependency > static_cast<uint32_t>(v)) {
      PrintMessage("Error muy grave Dep");
      return Fail(ring);
    }
    // Each link's b is the next link's a; the last one's, the first one's.
    if (!ring.empty()) ring.back().b = static_cast<VertexIndex>(a);
    ring.push_back({static_cast<VertexIndex>(a), 0, 0, static_cast<VertexIndex>(dependency)});
    if (!bits.ReadBits(offsetBits, offset)) return Fail(ring);
  }
  if (!ring.empty()) ring.back().b = ring.front().a;
  return true;
}

bool ConnectivityRaw::EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  return Encode(bits, mesh.vertexCount, v, ring);
}

bool ConnectivityRaw::DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) {
  return Decode(bits, mesh.vertexCount, v, ring);
}

// ---- ConnectivityModelo2: predicted lists ------------------------------------

void ConnectivityModelo2::SetUp(const QXPck& mesh) {
  lists_.clear();
  lists_.resize(static_cast<size_t>(mesh.vertexCount > 0 ? mesh.vertexCount : 0));
  spare_.clear();
}

FaceList ConnectivityModelo2::Predicted(VertexIndex c) const {
  FaceList copy;
  for (const PredictedEdge& edge : lists_[static_cast<size_t>(c)]) copy.PushFront(edge.start, edge.end, 0, edge.opposite);
  return copy;
}

void ConnectivityModelo2::TakePredicted(VertexIndex v, std::vector<PlainLink>& links) {
  const PredictedList& list = lists_[static_cast<size_t>(v)];
  links.clear();
  for (auto edge = list.rbegin(); edge != list.rend(); ++edge)
    links.push_back({edge->start, edge->end, 0, edge->opposite});
  DropPredicted(v);
}

void ConnectivityModelo2::DropPredicted(VertexIndex v) {
  PredictedList& list = lists_[static_cast<size_t>(v)];
  if (list.capacity() == 0) return;
  list.clear();
  spare_.push_back(std::move(list));
  list = PredictedList();
}

bool ConnectivityModelo2::AddPrediction(VertexIndex c, VertexIndex v, VertexIndex a, VertexIndex b,
                                        VertexIndex* degenerateCorner) {
  if (c == 0) return true;
  assert(c > 0 && c < ListCount());
  const PredictedEdge edges[3] = {{v, a, b}, {a, b, v}, {b, v, a}};
  bool cancelled[3] = {false, false, false};
  int left = 3;
  PredictedList& list = lists_[static_cast<size_t>(c)];

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
      list.reserve(kTypicalPredictedLinks);
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
void ConnectivityModelo2::PrefetchLists(VertexIndex v, const Ring& ring) const {
  // The lists of a ring's dependencies lie far apart, each behind its
  // header: ask for every header, then for every list's edges, before
  // editing any, so that the loads overlap instead of following each other.
  auto forEachList = [&](auto&& visit) {
    for (const auto& link : ring)
      if (!link.IsGap(v) && link.dependency > 0 && link.dependency < ListCount())
        visit(lists_[static_cast<size_t>(link.dependency)]);
  };
  forEachList([](const PredictedList& list) { PrefetchCacheLine(&list); });
  forEachList([](const PredictedList& list) { PrefetchCacheLine(list.data()); });
}

template <class Ring>
bool ConnectivityModelo2::AnnounceRing(VertexIndex v, const Ring& ring, bool bounded,
                                       VertexIndex* degenerateCorner) {
  PrefetchLists(v, ring);
  for (const auto& link : ring) {
    if (link.IsGap(v)) continue;
    if (!AddPrediction(link.dependency, v, link.a, link.b, degenerateCorner)) return false;
    if (bounded && lists_[static_cast<size_t>(link.dependency)].size() > kMaxPredictedLinks) return false;
  }
  return true;
}

// ---- ConnectivityModelo2: encoding --------------------------------------------

bool ConnectivityModelo2::EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  assert(mesh.vertexCount == ListCount() && v > 0 && v < ListCount());
  TakePredicted(v, predicted_);
  // A predicted list that closes into no valid ring (a non-manifold vertex
  // can leave one) is a missed prediction; the decoder never closes it then.
  const bool holds = TryCloseRing(v, predicted_).Ok() && SameRing(predicted_, ring);
  if (holds) return bits.WriteBit(true) && EncodePredicted(bits, mesh, v, ring);

  if (!bits.WriteBit(false) || !ConnectivityRaw::Encode(bits, ListCount(), v, ring)) return false;
  VertexIndex corner = 0;
  if (!AnnounceRing(v, ring, /*bounded=*/false, &corner)) FatalError("\nError en compress: %d", corner);
  return true;
}

bool ConnectivityModelo2::EncodePredicted(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  const int dependencyBits = DependencyBits(v);
  VertexIndex previous = 0;
  for (const FaceLink& link : ring) {
    const VertexIndex c = link.dependency;
    if (c < 0 || c > v) {
      PrintMessage("Error grave Dep!!");
      return false;
    }
    VertexIndex corner = 0;
    if (c != v && !AddPrediction(c, v, link.a, link.b, &corner)) FatalError("\nError en compress: %d", corner);

    bool written;
    if (c == previous)
      written = bits.WriteBit(false);
    else if (c == PredictedDependency(mesh, link.a, link.b, v))
      written = bits.WriteBits(0b10, 2);
    else
      written = bits.WriteBits(0b11, 2) && bits.WriteBits(static_cast<uint32_t>(c), dependencyBits);
    if (!written) return false;
    previous = c;
  }
  return true;
}

// ---- ConnectivityModelo2: decoding --------------------------------------------

bool ConnectivityModelo2::DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) {
  ring.clear();
  if (lists_.empty()) SetUp(mesh);
  if (mesh.vertexCount != ListCount() || v <= 0 || v >= ListCount()) return false;
  bool predicted;
  if (!bits.ReadBit(predicted)) return false;
  if (predicted) return DecodePredicted(bits, mesh, v, ring);

  if (!ConnectivityRaw::Decode(bits, ListCount(), v, ring)) return false;
  DropPredicted(v);  // the prediction missed
  if (!AnnounceRing(v, ring, /*bounded=*/true, nullptr)) return Fail(ring);
  return true;
}

bool ConnectivityModelo2::DecodePredicted(BitChannel& bits, QXPck& mesh, VertexIndex v,
                                          std::vector<PlainLink>& ring) {
  TakePredicted(v, ring);
  if (!TryCloseRing(v, ring).Ok()) return Fail(ring);
  const VertexIndex vertexCount = ListCount();
  VertexIndex previous = 0;
  // The dependencies are read first and announced after: reading consults
  // the mesh's records, never the predicted lists, so the order is free, and
  // the lists can then be fetched together (AnnounceRing).
  for (PlainLink& link : ring) {
    if (link.a <= v || link.a >= vertexCount || link.b <= v || link.b >= vertexCount) {
      PrintMessage("Malo");
      return Fail(ring);
    }
    if (!ReadDependency(bits, mesh, v, link, previous, link.dependency)) return Fail(ring);
    previous = link.dependency;
  }
  if (!AnnounceRing(v, ring, /*bounded=*/true, nullptr)) return Fail(ring);
  return true;
}

bool ConnectivityModelo2::ReadDependency(BitChannel& bits, QXPck& mesh, VertexIndex v, const PlainLink& link,
                                         VertexIndex previous, VertexIndex& dependency) {
  bool bit;
  if (!bits.ReadBit(bit)) return false;
  if (!bit) {
    dependency = previous;
    return true;
  }
  if (!bits.ReadBit(bit)) return false;
  if (!bit) {
    dependency = PredictedDependency(mesh, link.a, link.b, v);
    return true;
  }
  uint32_t value;
  if (!bits.ReadBits(DependencyBits(v), value) || value > static_cast<uint32_t>(v)) return false;
  dependency = static_cast<VertexIndex>(value);
  return true;
}

}  // namespace qx
