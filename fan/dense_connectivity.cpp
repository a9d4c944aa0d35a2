#include "fan/dense_connectivity.h"

#include <algorithm>
#include <cassert>

#include "common/diagnostics.h"
#include "fan/connectivity.h"
#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx {

const ClassDescriptor ConnectivityDense::kClass{"ConnectivityDense v2", &MakeDefault<ConnectivityDense>};
const ClassDescriptor ConnectivityDense::kFirstVersion{"ConnectivityDense v1", &ConnectivityDense::MakeFirstVersion};

PersistentObject* ConnectivityDense::MakeFirstVersion() {
  auto* coder = new ConnectivityDense;
  coder->firstVersion_ = true;
  return coder;
}

RankedLength::RankedLength() {
  for (int i = 0; i < kLengths; ++i) byPlace_[i] = placeOf_[i] = static_cast<uint8_t>(i);
}

bool RankedLength::Write(BitChannel& bits, int length) {
  assert(length >= 0 && length < kLengths);
  const int place = placeOf_[length];
  Count(length);
  return place_.Write(bits, static_cast<uint32_t>(place));
}

bool RankedLength::Read(BitChannel& bits, int& length) {
  uint32_t place = 0;
  if (!place_.Read(bits, place) || place >= static_cast<uint32_t>(kLengths)) return false;
  length = byPlace_[place];
  Count(length);
  return true;
}

// The length just counted moves up past those it now goes ahead of; a
// halving can make ties, so everything is sorted again then.
void RankedLength::Count(int length) {
  ++counts_[length];
  if (++total_ >= kHalvingTotal) {
    total_ = 0;
    for (uint32_t& count : counts_) total_ += count >>= 1;
    for (int i = 1; i < kLengths; ++i)
      for (int j = i; j > 0 && Ahead(byPlace_[j], byPlace_[j - 1]); --j) std::swap(byPlace_[j], byPlace_[j - 1]);
  } else {
    for (int j = placeOf_[length]; j > 0 && Ahead(byPlace_[j], byPlace_[j - 1]); --j)
      std::swap(byPlace_[j], byPlace_[j - 1]);
  }
  for (int i = 0; i < kLengths; ++i) placeOf_[byPlace_[i]] = static_cast<uint8_t>(i);
}

namespace {

bool Fail(std::vector<PlainLink>& ring) {
  ring.clear();
  return false;
}

uint32_t ZigZag(int32_t x) { return (static_cast<uint32_t>(x) << 1) ^ static_cast<uint32_t>(x >> 31); }
int64_t UnZigZag(uint32_t x) { return static_cast<int64_t>(x >> 1) ^ -static_cast<int64_t>(x & 1); }

int RingKind(const QXPck& mesh, VertexIndex v) { return v >= mesh.splitIndex ? 1 : 0; }

}  // namespace

ConnectivityDense::ConnectivityDense(const QXPck& mesh) { SetUp(mesh.vertexCount); }

void ConnectivityDense::SetUp(VertexIndex vertexCount) {
  lists_.SetUp(vertexCount);
  unnamed_.Reset(std::max(vertexCount, 0));
  unnamed_.Remove(0);
}

// bitLength(r) (the first version: L - bitLength(r)), then the bits below
// r's top bit.
bool ConnectivityDense::WriteRank(BitChannel& bits, int kind, uint32_t r, uint32_t largest) {
  const int length = BitLength(r);
  const bool lengthWritten =
      firstVersion_ ? explicitLength_[kind].Write(bits, static_cast<uint32_t>(BitLength(largest) - length))
                    : rankedLength_[kind].Write(bits, length);
  return lengthWritten && (length < 2 || bits.WriteBits(r, length - 1));
}

bool ConnectivityDense::ReadRank(BitChannel& bits, int kind, uint32_t largest, uint32_t& r) {
  const int top = BitLength(largest);
  int length = 0;
  if (firstVersion_) {
    uint32_t shortfall = 0;
    if (!explicitLength_[kind].Read(bits, shortfall) || shortfall > static_cast<uint32_t>(top)) return false;
    length = top - static_cast<int>(shortfall);
  } else if (!rankedLength_[kind].Read(bits, length) || length > top) {
    return false;
  }
  r = length == 0 ? 0 : 1;
  if (length >= 2) {
    uint32_t low = 0;
    if (!bits.ReadBits(length - 1, low)) return false;
    r = (uint32_t{1} << (length - 1)) | low;
  }
  return r <= largest;
}

int32_t ConnectivityDense::NewReference(int32_t below) const {
  if (lastNew_ < 0) return below - 1;
  return std::min(unnamed_.CountBelow(lastNew_), below - 1);
}

// ---- Encoding ------------------------------------------------------------------

bool ConnectivityDense::WriteExplicit(BitChannel& bits, VertexIndex v, VertexIndex c) {
  if (c == 0) return explicitKind_.Write(bits, kZero);
  if (c == v) return explicitKind_.Write(bits, kGap);
  if (!unnamed_.Contains(c))
    return explicitKind_.Write(bits, kNamed) &&
           WriteRank(bits, 1, static_cast<uint32_t>(v - c), static_cast<uint32_t>(v));
  const int32_t below = unnamed_.CountBelow(v);
  const int32_t reference = NewReference(below);
  const int32_t offset = unnamed_.CountBelow(c) - reference;
  unnamed_.Remove(c);
  lastNew_ = c;
  return explicitKind_.Write(bits, kNew) &&
         WriteRank(bits, 0, ZigZag(offset), static_cast<uint32_t>(2 * (below - 1)));
}

template <class FirstModel, class Ring>
bool ConnectivityDense::EncodeDependencies(BitChannel& bits, QXPck& mesh, VertexIndex v, const Ring& ring,
                                           FirstModel& first, NextModels& next) {
  VertexIndex previous = 0;
  int previousSymbol = -1;
  for (const auto& link : ring) {
    const VertexIndex c = link.dependency;
    if (c < 0 || c > v) return false;
    int symbol = kExplicit;
    if (c == previous)
      symbol = kPrevious;
    else if (c == PredictedDependency(mesh, link.a, link.b, v))
      symbol = kWing;
    const bool written = previousSymbol < 0 ? first.Write(bits, symbol) : next[previousSymbol].Write(bits, symbol);
    if (!written || (symbol == kExplicit && !WriteExplicit(bits, v, c))) return false;
    previous = c;
    previousSymbol = symbol;
  }
  return true;
}

bool ConnectivityDense::EncodeRaw(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  const int kind = RingKind(mesh, v);
  const int count = ring.Count();
  if (count > kMaxRingSize || !ringSize_[kind].Write(bits, static_cast<uint32_t>(count))) return false;
  VertexIndex previous = v;
  for (const FaceLink& link : ring) {
    if (link.a <= v || link.a >= lists_.Count()) return false;
    const bool written = previous == v ? firstOffset_[kind].Write(bits, static_cast<uint32_t>(link.a - v - 1))
                                       : neighbourStep_[kind].Write(bits, ZigZag(link.a - previous));
    if (!written) return false;
    previous = link.a;
  }
  return EncodeDependencies(bits, mesh, v, ring, rawFirst_, rawNext_);
}

bool ConnectivityDense::EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  if (lists_.Count() == 0) SetUp(mesh.vertexCount);
  assert(mesh.vertexCount == lists_.Count() && v > 0 && v < lists_.Count());
  const bool predicting = !lists_.Empty(v);
  lists_.Take(v, predicted_);
  if (predicting && TryCloseRing(v, predicted_).Ok() && SameRing(predicted_, ring)) {
    if (!EncodeDependencies(bits, mesh, v, ring, predictedFirst_, predictedNext_)) return false;
  } else {
    if (predicting && !predictedFirst_.Write(bits, kMissed)) return false;
    if (!EncodeRaw(bits, mesh, v, ring)) return false;
  }
  VertexIndex corner = 0;
  if (!lists_.AnnounceRing(v, ring, /*bounded=*/false, &corner)) FatalError("\nError en compress: %d", corner);
  return true;
}

// ---- Decoding ------------------------------------------------------------------

bool ConnectivityDense::ReadExplicit(BitChannel& bits, VertexIndex v, VertexIndex& c) {
  int kind = kZero;
  if (!explicitKind_.Read(bits, kind)) return false;
  if (kind == kZero || kind == kGap) {
    c = kind == kZero ? 0 : v;
    return true;
  }
  uint32_t r = 0;
  if (kind == kNamed) {
    if (!ReadRank(bits, 1, static_cast<uint32_t>(v), r) || r == 0) return false;
    c = v - static_cast<VertexIndex>(r);
    return true;
  }
  const int32_t below = unnamed_.CountBelow(v);
  if (below < 1 || !ReadRank(bits, 0, static_cast<uint32_t>(2 * (below - 1)), r)) return false;
  const int64_t position = NewReference(below) + UnZigZag(r);
  if (position < 0 || position >= below) return false;
  c = unnamed_.Select(static_cast<int32_t>(position));
  if (c < 1 || c >= v) return false;
  unnamed_.Remove(c);
  lastNew_ = c;
  return true;
}

bool ConnectivityDense::DecodeDependencies(BitChannel& bits, QXPck& mesh, VertexIndex v,
                                           std::vector<PlainLink>& ring, int firstSymbol, NextModels& next) {
  VertexIndex previous = 0;
  int symbol = firstSymbol;
  for (size_t i = 0; i < ring.size(); ++i) {
    PlainLink& link = ring[i];
    if (i > 0 && !next[symbol].Read(bits, symbol)) return false;
    VertexIndex c = previous;
    if (symbol == kWing)
      c = PredictedDependency(mesh, link.a, link.b, v);
    else if (symbol == kExplicit && !ReadExplicit(bits, v, c))
      return false;
    link.dependency = c;
    previous = c;
  }
  return true;
}

bool ConnectivityDense::DecodeRaw(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) {
  const int kind = RingKind(mesh, v);
  uint32_t count = 0;
  if (!ringSize_[kind].Read(bits, count) || count > static_cast<uint32_t>(kMaxRingSize)) return false;
  const int64_t vertexCount = lists_.Count();
  int64_t a = v;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t code = 0;
    if (!(i == 0 ? firstOffset_[kind] : neighbourStep_[kind]).Read(bits, code)) return false;
    a = i == 0 ? int64_t{v} + 1 + code : a + UnZigZag(code);
    if (a <= v || a >= vertexCount) return false;
    if (!ring.empty()) ring.back().b = static_cast<VertexIndex>(a);
    ring.push_back({static_cast<VertexIndex>(a), 0, 0, 0});
  }
  if (ring.empty()) return true;
  ring.back().b = ring.front().a;
  int first = 0;
  return rawFirst_.Read(bits, first) && DecodeDependencies(bits, mesh, v, ring, first, rawNext_);
}

bool ConnectivityDense::DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) {
  ring.clear();
  if (lists_.Count() == 0) SetUp(mesh.vertexCount);
  if (mesh.vertexCount != lists_.Count() || v <= 0 || v >= lists_.Count()) return false;
  const bool predicting = !lists_.Empty(v);
  lists_.Take(v, ring);
  int first = kMissed;
  if (predicting && !predictedFirst_.Read(bits, first)) return Fail(ring);
  if (first == kMissed) {
    ring.clear();
    if (!DecodeRaw(bits, mesh, v, ring)) return Fail(ring);
  } else {
    if (!TryCloseRing(v, ring).Ok()) return Fail(ring);
    for (const PlainLink& link : ring)
      if (link.a <= v || link.a >= lists_.Count() || link.b <= v || link.b >= lists_.Count()) return Fail(ring);
    if (!DecodeDependencies(bits, mesh, v, ring, first, predictedNext_)) return Fail(ring);
  }
  if (!lists_.AnnounceRing(v, ring, /*bounded=*/true, nullptr)) return Fail(ring);
  return true;
}

}  // namespace qx
