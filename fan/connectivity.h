// Connectivity coders: the ring of FaceLinks around one vertex v of a fan
// mesh of N vertices, coded vertex by vertex from N-1 down to 1.
//
// Field widths, with bitLength(x) = position of the highest set bit + 1:
//   offsetBits     = bitLength(N - v - 1)   a ring neighbour a (v < a < N) is
//                                           coded as a - v, never 0
//   dependencyBits = bitLength(v)           a dependency c satisfies 0 ≤ c ≤ v
// Every field goes into the channel most significant bit first.
//
// ConnectivityRaw, one ring of k links (only a and the dependency are coded;
// each link's b is the next link's a, the last one's b the first one's a):
//
//   [a0-v : offsetBits][c0 : dependencyBits] … [ak-1 - v][ck-1] [0 : offsetBits]
//
// For N = 10, v = 5 (offsetBits 3, dependencyBits 3), the ring
// (a=6,c=2)(a=7,c=2)(a=9,c=5, a gap link) is 001 010 | 010 010 | 100 101 | 000.
//
// ConnectivityModelo2 predicts the ring: every coded triangle (v, a, b) with
// a dependency c ∉ {0, v} announces its three edges to c's predicted list
// (AddPrediction), where the edges of neighbouring announced triangles
// cancel, leaving the boundary of the hole that c's insertion fills: c's
// ring. A ring is coded as
//
//   1  then per link (in ring order) the dependency c, prev starting at 0:
//        0                       c = prev
//        1 0                     c = the wing prediction (EdgeDependency of
//                                the link's edge, "none" read as 0)
//        1 1 [c : dependencyBits]
//   0  then the ring exactly as ConnectivityRaw codes it, when the closed
//      predicted list differs from the ring (length, or any a or b).
//
// A ring whose triangles share one dependency d (neither 0 nor the wing
// prediction) thus costs 1 + (2 + dependencyBits) + 1 per further link.
#pragma once

#include <vector>

#include "fan/coder_interfaces.h"
#include "fan/predicted_lists.h"

namespace qx {

// The number of bits needed for x (0 for 0), from a 256-entry byte table.
int BitLength(uint32_t x);
// Width of a coded ring neighbour of v in a mesh of `vertexCount` vertices:
// bitLength(N - v - 1), 0 for v ≥ N - 1.
int OffsetBits(VertexIndex vertexCount, VertexIndex v);
// Width of a coded dependency of v: bitLength(v), 0 for v < 0.
int DependencyBits(VertexIndex v);

// Fixed-width rings. Stateless; its stored record is empty.
class ConnectivityRaw final : public ConnectivityCoder {
 public:
  static const ClassDescriptor kClass;  // "ConnectivityRaw"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  // Writes the ring as sketched above. A neighbour outside (v, N) prints
  // "Error grave!!", a dependency outside 0 … v prints "Error grave Dep!!";
  // both fail, leaving the bits written so far in the channel.
  bool EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) override;
  // Reads a ring; nothing is read when offsetBits is 0 (an empty ring). A
  // neighbour outside (v, N) prints "Error muy grave", a dependency above v
  // "Error muy grave Dep"; both fail, as do a short read and a ring longer
  // than a record can hold (255 links).
  bool DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) override;
  using ConnectivityCoder::DecodeRing;

  // The raw code of a ring in a mesh of `vertexCount` vertices, shared with
  // ConnectivityModelo2 (which falls back to it).
  static bool Encode(BitChannel& bits, VertexIndex vertexCount, VertexIndex v, const FaceList& ring);
  static bool Decode(BitChannel& bits, VertexIndex vertexCount, VertexIndex v, std::vector<PlainLink>& ring);
};

// Predicted rings with the raw code as fallback. One coder serves one mesh:
// its predicted lists follow that mesh's coding order.
class ConnectivityModelo2 final : public ConnectivityCoder {
 public:
  static const ClassDescriptor kClass;  // "ConnectivityModelo2"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  // An empty coder: the lists are set up from the mesh of the first
  // DecodeRing (how a reader gets it).
  ConnectivityModelo2() = default;
  // A coder set up for `mesh` (how the writer gets it).
  explicit ConnectivityModelo2(const QXPck& mesh) { SetUp(mesh); }

  // Writes v's ring (bit layout above). Fails like ConnectivityRaw on bad
  // rings and refused words. A degenerate predicted edge (our own data
  // breaking an invariant) ends the program with "\nError en compress: %d".
  bool EncodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring) override;
  // Reads v's ring. Besides ConnectivityRaw's failures: a predicted link
  // with a corner outside (v, N) prints "Malo" and fails; a predicted
  // dependency above v, a degenerate predicted edge, a predicted ring a
  // record cannot hold, and a predicted list grown beyond what any valid
  // file produces fail silently. After a failure the coder must not be used
  // again (the mesh being decoded ends there).
  bool DecodeRing(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring) override;
  using ConnectivityCoder::DecodeRing;

  // Announces triangle (v, a, b) with dependency c to c's predicted list
  // (PredictedLists::Add). 0 < c < list count.
  bool AddPrediction(VertexIndex c, VertexIndex v, VertexIndex a, VertexIndex b,
                     VertexIndex* degenerateCorner = nullptr) {
    return lists_.Add(c, v, a, b, degenerateCorner);
  }

  // A copy of vertex c's predicted list, newest link first (tests look at it).
  FaceList Predicted(VertexIndex c) const { return lists_.Copy(c); }
  // Number of predicted lists: the mesh's vertex count, 0 before set-up.
  int ListCount() const { return lists_.Count(); }

 private:
  void SetUp(const QXPck& mesh);
  bool EncodePredicted(BitChannel& bits, QXPck& mesh, VertexIndex v, const FaceList& ring);
  bool DecodePredicted(BitChannel& bits, QXPck& mesh, VertexIndex v, std::vector<PlainLink>& ring);
  bool ReadDependency(BitChannel& bits, QXPck& mesh, VertexIndex v, const PlainLink& link,
                      VertexIndex previous, VertexIndex& dependency);

  PredictedLists lists_;
  std::vector<PlainLink> predicted_;  // the ring being checked against the prediction
};

// The predicted dependency of ring link (a, b) of v: EdgeDependency's
// answer, with "none" read as 0.
VertexIndex PredictedDependency(QXPck& mesh, VertexIndex a, VertexIndex b, VertexIndex v);

}  // namespace qx
