#include "fan/connectivity.h"

#include <array>
#include <cassert>

#include "common/diagnostics.h"
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

void ConnectivityModelo2::SetUp(const QXPck& mesh) { lists_.SetUp(mesh.vertexCount); }

// ---- ConnectivityModelo2: encoding --------------------------------------------

bool ConnectivityModelo2::EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  assert(mesh.vertexCount == ListCount() && v > 0 && v < ListCount());
  lists_.Take(v, predicted_);
  // A predicted list that closes into no valid ring (a non-manifold vertex
  // can leave one) is a missed prediction; the decoder never closes it then.
  const bool holds = TryCloseRing(v, predicted_).Ok() && SameRing(predicted_, ring);
  if (holds) return bits.WriteBit(true) && EncodePredicted(bits, mesh, v, ring);

  if (!bits.WriteBit(false) || !ConnectivityRaw::Encode(bits, ListCount(), v, ring)) return false;
  VertexIndex corner = 0;
  if (!lists_.AnnounceRing(v, ring, /*bounded=*/false, &corner)) FatalError("\nError en compress: %d", corner);
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
  if (ListCount() == 0) SetUp(mesh);
  if (mesh.vertexCount != ListCount() || v <= 0 || v >= ListCount()) return false;
  bool predicted;
  if (!bits.ReadBit(predicted)) return false;
  if (predicted) return DecodePredicted(bits, mesh, v, ring);

  if (!ConnectivityRaw::Decode(bits, ListCount(), v, ring)) return false;
  lists_.Drop(v);  // the prediction missed
  if (!lists_.AnnounceRing(v, ring, /*bounded=*/true, nullptr)) return Fail(ring);
  return true;
}

bool ConnectivityModelo2::DecodePredicted(BitChannel& bits, QXPck& mesh, VertexIndex v,
                                          std::vector<PlainLink>& ring) {
  lists_.Take(v, ring);
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
  if (!lists_.AnnounceRing(v, ring, /*bounded=*/true, nullptr)) return Fail(ring);
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
