#include "fan/dense_connectivity.h"

#include <algorithm>
#include <cassert>
#include <functional>

#include "common/diagnostics.h"
#include "fan/connectivity.h"
#include "fan/dependency_naming.h"
#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx {

const ClassDescriptor ConnectivityDense::kClass{"ConnectivityDense v3", &MakeDefault<ConnectivityDense>};
const ClassDescriptor ConnectivityDense::kSecondVersion{"ConnectivityDense v2", &ConnectivityDense::MakeVersion<2>};
const ClassDescriptor ConnectivityDense::kFirstVersion{"ConnectivityDense v1", &ConnectivityDense::MakeVersion<1>};

template <int kVersion>
PersistentObject* ConnectivityDense::MakeVersion() {
  auto* coder = new ConnectivityDense;
  coder->version_ = kVersion;
  return coder;
}

const ClassDescriptor* ConnectivityDense::GetClass() const {
  return version_ == 1 ? &kFirstVersion : version_ == 2 ? &kSecondVersion : &kClass;
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

ConnectivityDense::ConnectivityDense(const QXPck& mesh) {
  SetUp(mesh.vertexCount);
  blockTops_ = NamingBlockTops(mesh);
  // Each block costs its size in the table and makes the blocks-ahead codes
  // longer; a handful always pays.
  byBlock_ = !blockTops_.empty() && blockTops_.size() <= std::max<size_t>(8, static_cast<size_t>(mesh.vertexCount) / 16);
  if (byBlock_) {
    blockNamed_.assign(blockTops_.size(), 0);
    named_.assign(static_cast<size_t>(mesh.vertexCount), 0);
  }
}

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
      version_ == 1 ? explicitLength_[kind].Write(bits, static_cast<uint32_t>(BitLength(largest) - length))
                    : rankedLength_[kind].Write(bits, length);
  return lengthWritten && (length < 2 || bits.WriteBits(r, length - 1));
}

bool ConnectivityDense::ReadRank(BitChannel& bits, int kind, uint32_t largest, uint32_t& r) {
  const int top = BitLength(largest);
  int length = 0;
  if (version_ == 1) {
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

// ---- Naming blocks ---------------------------------------------------------------

bool ConnectivityDense::WriteNamingTable(BitChannel& bits) {
  tableCoded_ = true;
  if (!bits.WriteBit(byBlock_)) return false;
  if (!byBlock_) return true;
  if (!blockCount_.Write(bits, static_cast<uint32_t>(blockTops_.size() - 1))) return false;
  for (size_t b = 0; b + 1 < blockTops_.size(); ++b)
    if (!blockSize_.Write(bits, static_cast<uint32_t>(blockTops_[b] - blockTops_[b + 1] - 1))) return false;
  return true;
}

// The blocks must cut N−1 … 1 into non-empty runs.
bool ConnectivityDense::ReadNamingTable(BitChannel& bits) {
  tableCoded_ = true;
  bool byBlock = false;
  if (!bits.ReadBit(byBlock)) return false;
  byBlock_ = byBlock;
  if (!byBlock_) return true;
  const VertexIndex top = lists_.Count() - 1;
  uint32_t more = 0;
  if (top < 1 || !blockCount_.Read(bits, more) || more >= static_cast<uint32_t>(top)) return false;
  blockTops_.assign(1, top);
  for (uint32_t b = 0; b < more; ++b) {
    uint32_t size = 0;
    if (!blockSize_.Read(bits, size) || size >= static_cast<uint32_t>(blockTops_.back() - 1)) return false;
    blockTops_.push_back(blockTops_.back() - static_cast<VertexIndex>(size) - 1);
  }
  blockNamed_.assign(blockTops_.size(), 0);
  return true;
}

void ConnectivityDense::EnterBlockOf(VertexIndex v) {
  while (block_ + 1 < blockTops_.size() && v <= blockTops_[block_ + 1]) ++block_;
}

size_t ConnectivityDense::BlockHolding(VertexIndex c) const {
  const auto below = std::upper_bound(blockTops_.begin(), blockTops_.end(), c, std::greater<>());
  return static_cast<size_t>(below - blockTops_.begin()) - 1;
}

// c is the next vertex its block names (dependency_naming.h).
bool ConnectivityDense::WriteNewByBlock(BitChannel& bits, VertexIndex c) {
  named_[static_cast<size_t>(c)] = 1;
  const size_t b = BlockHolding(c);
  // The blocks were cut from this mesh's own naming; anything else is a
  // fault of ours, and the save fails rather than write a wrong name.
  if (b < block_ || c != blockTops_[b] - blockNamed_[b]) return false;
  ++blockNamed_[b];
  return newAhead_.Write(bits, static_cast<uint32_t>(b - block_));
}

// c was named before: its block, then how many its block has named since.
bool ConnectivityDense::WriteNamedByBlock(BitChannel& bits, VertexIndex c) {
  const size_t b = BlockHolding(c);
  const VertexIndex since = blockNamed_[b] - 1 - (blockTops_[b] - c);
  if (b < block_ || since < 0) return false;
  return namedAhead_.Write(bits, static_cast<uint32_t>(b - block_)) &&
         WriteRank(bits, 1, static_cast<uint32_t>(since), static_cast<uint32_t>(blockNamed_[b] - 1));
}

// The block `ahead` blocks below v's, when there is one.
bool ConnectivityDense::ReadBlock(BitChannel& bits, RankedCount<kRankedAhead>& model, size_t& b) {
  uint32_t ahead = 0;
  if (!model.Read(bits, ahead) || ahead >= blockTops_.size() - block_) return false;
  b = block_ + ahead;
  return true;
}

bool ConnectivityDense::ReadNewByBlock(BitChannel& bits, VertexIndex v, VertexIndex& c) {
  size_t b = 0;
  if (!ReadBlock(bits, newAhead_, b)) return false;
  const VertexIndex bottom = b + 1 < blockTops_.size() ? blockTops_[b + 1] : 0;
  c = blockTops_[b] - blockNamed_[b]++;
  return c > bottom && c < v;
}

bool ConnectivityDense::ReadNamedByBlock(BitChannel& bits, VertexIndex v, VertexIndex& c) {
  size_t b = 0;
  uint32_t since = 0;
  if (!ReadBlock(bits, namedAhead_, b) || blockNamed_[b] < 1 ||
      !ReadRank(bits, 1, static_cast<uint32_t>(blockNamed_[b] - 1), since))
    return false;
  c = blockTops_[b] - (blockNamed_[b] - 1 - static_cast<VertexIndex>(since));
  return c < v;
}

// ---- Encoding ------------------------------------------------------------------

bool ConnectivityDense::WriteKind(BitChannel& bits, int kind) {
  return version_ >= 3 ? kinds_.Write(bits, kind) : explicitKind_.Write(bits, kind);
}

bool ConnectivityDense::ReadKind(BitChannel& bits, int& kind) {
  return version_ >= 3 ? kinds_.Read(bits, kind) : explicitKind_.Read(bits, kind);
}

VertexIndex ConnectivityDense::Wing(QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring, size_t at) {
  VertexIndex& wing = wings_[at];
  if (wing == kUnknownWing) wing = PredictedDependency(mesh, ring[at].a, ring[at].b, v);
  return wing;
}

// The nearest link after `at` whose wing is c, as the distance to it.
int ConnectivityDense::RingWingDistance(QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring, size_t at,
                                        VertexIndex c) {
  const size_t n = ring.size();
  for (size_t d = 1; d < n; ++d)
    if (Wing(mesh, v, ring, at + d < n ? at + d : at + d - n) == c) return static_cast<int>(d);
  return 0;
}

bool ConnectivityDense::WriteExplicit(BitChannel& bits, QXPck& mesh, VertexIndex v,
                                      const std::vector<PlainLink>& ring, size_t at) {
  const VertexIndex c = ring[at].dependency;
  if (c == 0) return WriteKind(bits, kZero);
  if (c == v) return WriteKind(bits, kGap);
  const bool isNew = byBlock_ ? !named_[static_cast<size_t>(c)] : unnamed_.Contains(c);
  if (!isNew) {
    if (version_ >= 3)
      if (const int distance = RingWingDistance(mesh, v, ring, at, c); distance > 0)
        return WriteKind(bits, kRingWing) && ringWingDistance_.Write(bits, static_cast<uint32_t>(distance - 1));
    if (byBlock_) return WriteKind(bits, kNamed) && WriteNamedByBlock(bits, c);
    return WriteKind(bits, kNamed) && WriteRank(bits, 1, static_cast<uint32_t>(v - c), static_cast<uint32_t>(v));
  }
  if (byBlock_) return WriteKind(bits, kNew) && WriteNewByBlock(bits, c);
  const int32_t below = unnamed_.CountBelow(v);
  const int32_t reference = NewReference(below);
  const int32_t offset = unnamed_.CountBelow(c) - reference;
  unnamed_.Remove(c);
  lastNew_ = c;
  return WriteKind(bits, kNew) && WriteRank(bits, 0, ZigZag(offset), static_cast<uint32_t>(2 * (below - 1)));
}

template <class FirstModel>
bool ConnectivityDense::EncodeDependencies(BitChannel& bits, QXPck& mesh, VertexIndex v,
                                           const std::vector<PlainLink>& ring, FirstModel& first, NextModels& next) {
  VertexIndex previous = 0;
  int previousSymbol = -1;
  ForgetWings(ring.size());
  for (size_t i = 0; i < ring.size(); ++i) {
    const VertexIndex c = ring[i].dependency;
    if (c < 0 || c > v) return false;
    int symbol = kExplicit;
    if (c == previous)
      symbol = kPrevious;
    else if (c == Wing(mesh, v, ring, i))
      symbol = kWing;
    const bool written = previousSymbol < 0 ? first.Write(bits, symbol) : next[previousSymbol].Write(bits, symbol);
    if (!written || (symbol == kExplicit && !WriteExplicit(bits, mesh, v, ring, i))) return false;
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
  return EncodeDependencies(bits, mesh, v, links_, rawFirst_, rawNext_);
}

bool ConnectivityDense::EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) {
  if (lists_.Count() == 0) SetUp(mesh.vertexCount);
  assert(mesh.vertexCount == lists_.Count() && v > 0 && v < lists_.Count());
  if (version_ >= 3 && !tableCoded_ && !WriteNamingTable(bits)) return false;
  if (byBlock_) EnterBlockOf(v);
  links_.clear();
  for (const FaceLink& link : ring) links_.push_back({link.a, link.b, 0, link.dependency});
  const bool predicting = !lists_.Empty(v);
  lists_.Take(v, predicted_);
  if (predicting && TryCloseRing(v, predicted_).Ok() && SameRing(predicted_, ring)) {
    if (!EncodeDependencies(bits, mesh, v, links_, predictedFirst_, predictedNext_)) return false;
  } else {
    if (predicting && !predictedFirst_.Write(bits, kMissed)) return false;
    if (!EncodeRaw(bits, mesh, v, ring)) return false;
  }
  VertexIndex corner = 0;
  if (!lists_.AnnounceRing(v, ring, /*bounded=*/false, &corner)) FatalError("\nError en compress: %d", corner);
  return true;
}

// ---- Decoding ------------------------------------------------------------------

bool ConnectivityDense::ReadExplicit(BitChannel& bits, QXPck& mesh, VertexIndex v,
                                     const std::vector<PlainLink>& ring, size_t at, VertexIndex& c) {
  int kind = kZero;
  if (!ReadKind(bits, kind)) return false;
  if (kind == kZero || kind == kGap) {
    c = kind == kZero ? 0 : v;
    return true;
  }
  if (kind == kRingWing) {
    uint32_t distance = 0;
    if (!ringWingDistance_.Read(bits, distance) || distance + 1 >= ring.size()) return false;
    const size_t to = at + distance + 1;
    c = Wing(mesh, v, ring, to < ring.size() ? to : to - ring.size());
    return c > 0 && c < v;
  }
  uint32_t r = 0;
  if (kind == kNamed && byBlock_) return ReadNamedByBlock(bits, v, c);
  if (kind == kNamed) {
    if (!ReadRank(bits, 1, static_cast<uint32_t>(v), r) || r == 0) return false;
    c = v - static_cast<VertexIndex>(r);
    return true;
  }
  if (byBlock_) return ReadNewByBlock(bits, v, c);
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
  ForgetWings(ring.size());
  for (size_t i = 0; i < ring.size(); ++i) {
    if (i > 0 && !next[symbol].Read(bits, symbol)) return false;
    VertexIndex c = previous;
    if (symbol == kWing)
      c = Wing(mesh, v, ring, i);
    else if (symbol == kExplicit && !ReadExplicit(bits, mesh, v, ring, i, c))
      return false;
    ring[i].dependency = c;
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
  if (version_ >= 3 && !tableCoded_ && !ReadNamingTable(bits)) return Fail(ring);
  if (byBlock_) EnterBlockOf(v);
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
