// ConnectivityDense: rings predicted as ConnectivityModelo2 predicts them
// (the holes left by announced triangles, PredictedLists), written with
// adaptive codes whose state the reader mirrors (adaptive_codes.h).
//
// One ring of vertex v, when v's predicted list is not empty:
//   first  the first link's symbol, AdaptiveChoice<4>:
//            previous (its dependency is 0) | wing | explicit | missed
//          "missed": the closed prediction is not the ring; the ring
//          follows in the raw form below.
//   then   per further link, AdaptiveChoice<3> in the context of the
//          previous link's symbol: previous | wing | explicit
// and in the raw form (v's list empty, or missed):
//   k links (AdaptiveRice, context base/refinement vertex)
//   a0 - v - 1 (AdaptiveRice), then zigzag(a_i - a_(i-1)) (AdaptiveRice)
//   per link its dependency symbol (AdaptiveChoice<3>, contexts: first
//   link, previous link's symbol)
// A dependency c is "previous" when it equals the previous link's (0 before
// the first), "wing" when it equals the dependency of the triangle beyond
// the link's edge (EdgeDependency, none read as 0); otherwise explicit, of
// one of four kinds (AdaptiveChoice<4>):
//   new   c is named as a dependency for the first time in the mesh: with
//         the vertices 1 … v−1 never named before in ascending order, c's
//         position among them minus a reference position, r = zigzag of
//         that (2d for d ≥ 0, −2d − 1 below); the reference is the position
//         the previous new dependency would have now (new dependencies come
//         in runs of nearby positions), the highest position for the first;
//         L = bitLength(2 × (their number − 1));
//   named c was named before: r = v − c; L = bitLength(v);
//   zero  c = 0;   gap  c = v (a gap link)
// and for new and named: bitLength(r) as a RankedLength (adaptive_codes.h), then the
// bits of r below its top bit. Vertices become named in coding order, so both
// sides know the same set (a RankTree).
//
// From the third version on, the ring of the first vertex coded (N−1) is
// preceded by the mesh's naming table (dependency_naming.h): one bit, set
// when dependencies are named by block; then the number of blocks less one
// and the size less one of each block but the last (AdaptiveRice). By
// block, a new dependency is coded as how many blocks below v's it lies
// (a RankedCount): it is the next vertex that block names; a dependency
// named before, when it is not the one beyond a later link of the ring
// (below), as its block the same way, then how many vertices its block has
// named since, as a rank (usually none: it is the block's latest). A writer
// names by block when there are at most 8 blocks or they average 16
// vertices or more, as in a mesh renumbered into coding order; otherwise as
// the second version does, by rank as above. The third version adds a fifth
// kind (AdaptiveChoice<5>):
//   ring wing  c, named before, is the dependency of the triangle beyond
//              the edge of a later link of the ring, d links on (the
//              nearest such): d − 1 (AdaptiveRice). A triangle's destroyer
//              often owns the triangles beyond the run of links it shares
//              with v, of which the first is only met after it.
//
// Older files still read: the second version ("ConnectivityDense v2") has
// no naming table and names by rank; the first ("ConnectivityDense v1")
// also codes L − bitLength(r) with an AdaptiveRice instead of a
// RankedLength (when the vertices are in coding order the lengths of new
// ranks gather at both ends, which a Rice code, made for one hump, codes
// about 1.5 bits above their entropy).
#pragma once

#include <array>
#include <vector>

#include "fan/adaptive_codes.h"
#include "fan/coder_interfaces.h"
#include "fan/predicted_lists.h"
#include "fan/rank_tree.h"

namespace qx {

class ConnectivityDense final : public ConnectivityCoder {
 public:
  static const ClassDescriptor kClass;          // "ConnectivityDense v3"
  static const ClassDescriptor kSecondVersion;  // "ConnectivityDense v2", read only
  static const ClassDescriptor kFirstVersion;   // "ConnectivityDense v1", read only
  const ClassDescriptor* GetClass() const override;

  // An empty coder, set up from the mesh of the first DecodeRing (a reader's).
  ConnectivityDense() = default;
  // A coder set up for `mesh` (the writer's).
  explicit ConnectivityDense(const QXPck& mesh);

  // Fails on a ring with a neighbour outside (v, N) or a dependency outside
  // 0 … v, and when the channel refuses a word. A degenerate predicted edge
  // (our own data breaking an invariant) ends the program as in
  // ConnectivityModelo2.
  bool EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) override;
  // Fails on a short read and on anything a valid file cannot hold; the
  // coder must not be used again afterwards (the mesh ends there).
  bool DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) override;
  using ConnectivityCoder::DecodeRing;

 private:
  enum Symbol { kPrevious = 0, kWing = 1, kExplicit = 2, kMissed = 3 };
  enum ExplicitKind { kNew = 0, kNamed = 1, kZero = 2, kGap = 3, kRingWing = 4 };
  using NextModels = std::array<AdaptiveChoice<3>, 3>;  // by the previous link's symbol

  template <class FirstModel>
  bool EncodeDependencies(BitChannel& bits, QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring,
                          FirstModel& first, NextModels& next);
  bool EncodeRaw(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring);
  // The dependency of ring[at].
  bool WriteExplicit(BitChannel& bits, QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring, size_t at);
  bool WriteKind(BitChannel& bits, int kind);
  bool ReadKind(BitChannel& bits, int& kind);
  int RingWingDistance(QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring, size_t at, VertexIndex c);
  // The predicted dependency of ring[at] (PredictedDependency), searched at
  // most once per link of the ring being coded: the ring-wing kind looks
  // ahead at links whose own symbols ask for the same wing again.
  VertexIndex Wing(QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring, size_t at);
  void ForgetWings(size_t ringSize) { wings_.assign(ringSize, kUnknownWing); }
  // r ≤ largest, in the model of its kind (0 new, 1 named).
  bool WriteRank(BitChannel& bits, int kind, uint32_t r, uint32_t largest);
  bool ReadRank(BitChannel& bits, int kind, uint32_t largest, uint32_t& r);
  template <int kVersion>
  static PersistentObject* MakeVersion();

  // The naming table, written with the first ring / read before it.
  bool WriteNamingTable(BitChannel& bits);
  bool ReadNamingTable(BitChannel& bits);
  // Moves block_ down to the block holding v (the steps' v only descend).
  void EnterBlockOf(VertexIndex v);
  size_t BlockHolding(VertexIndex c) const;  // the writer's
  bool WriteNewByBlock(BitChannel& bits, VertexIndex c);
  bool WriteNamedByBlock(BitChannel& bits, VertexIndex c);
  static constexpr int kRankedAhead = 32;
  bool ReadBlock(BitChannel& bits, RankedCount<kRankedAhead>& model, size_t& b);
  bool ReadNewByBlock(BitChannel& bits, VertexIndex v, VertexIndex& c);
  bool ReadNamedByBlock(BitChannel& bits, VertexIndex v, VertexIndex& c);

  // Reads the dependencies of `ring`'s links, the first link's symbol being
  // `firstSymbol` (already read).
  bool DecodeDependencies(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring,
                          int firstSymbol, NextModels& next);
  bool DecodeRaw(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring);
  bool ReadExplicit(BitChannel& bits, QXPck& mesh, VertexIndex v, const std::vector<PlainLink>& ring, size_t at,
                    VertexIndex& c);
  void SetUp(VertexIndex vertexCount);
  // The reference position of a new dependency among `below` unnamed ones.
  int32_t NewReference(int32_t below) const;

  PredictedLists lists_;
  AdaptiveChoice<4> predictedFirst_;  // also says when the prediction missed
  NextModels predictedNext_;
  AdaptiveChoice<3> rawFirst_;
  NextModels rawNext_;
  RankTree unnamed_;  // vertices no dependency has named yet
  VertexIndex lastNew_ = -1;  // the last new dependency
  AdaptiveChoice<4> explicitKind_;  // the older versions'
  AdaptiveChoice<5> kinds_;
  AdaptiveRice ringWingDistance_;
  int version_ = 3;
  bool tableCoded_ = false;   // the naming table, from the third version on
  bool byBlock_ = false;      // new dependencies named by block
  std::vector<VertexIndex> blockTops_;   // N−1 first, descending
  std::vector<VertexIndex> blockNamed_;  // how many each block has named
  size_t block_ = 0;                     // the block of the vertex being coded
  std::vector<uint8_t> named_;           // the writer's, by block
  AdaptiveRice blockCount_, blockSize_;
  RankedCount<kRankedAhead> newAhead_, namedAhead_;  // blocks below v's
  std::array<AdaptiveRice, 2> explicitLength_;  // new, named: the first version's
  std::array<RankedLength, 2> rankedLength_;    // new, named
  std::array<AdaptiveRice, 2> ringSize_;  // raw rings of refinement / base vertices
  std::array<AdaptiveRice, 2> firstOffset_;
  std::array<AdaptiveRice, 2> neighbourStep_;
  std::vector<PlainLink> predicted_;
  std::vector<PlainLink> links_;  // the writer's ring
  static constexpr VertexIndex kUnknownWing = -1;
  std::vector<VertexIndex> wings_;  // per link of the ring being coded
};

}  // namespace qx
