// GeoDense: every position on one grid, coded as an adaptive Golomb–Rice
// residual against an integer prediction from the vertices already coded.
//
// Grid: cell q = round((x - origin) / step) per component, 0 … 2^29, with
// origin the low corner of the mesh's box and step = 2e, e = bitsError × the
// largest side of the box: every decoded component is within e of the
// input (plus the rounding of the position to a float). Position = origin +
// q × step, base vertices included.
//
// Prediction, in grid cells (vertices above v only, so the reader has them):
//   v's record has triangles: the predictor's rule on the cells of the ring
//     (GPCentroide: the mean of ring[j] over the triangle walk; GPButterfly,
//     when every triangle has its wing: (23·S1 − 3·S2) / (20·T), that is
//     1.15 × the ring mean − 0.15 × the wing mean), rounded to the nearest
//     cell; context: refinement or base vertex, and the bit length of the
//     ring's spread (the largest distance in cells of a ring vertex from the
//     prediction, per component), which scales the residuals;
//   otherwise the cells of vertex v+1 (none for N−1: the cells themselves).
// Each residual component r goes in as zigzag(r) = 2r (r ≥ 0) or −2r − 1
// through an AdaptiveRice. Closed loop: the writer replaces every position
// by its decoded value.
//
// "GeoDense v2" (new files) predicts base vertices with triangles by the
// mean of the parallelograms a + b − c over their triangles (v, a, b) whose
// far corner c, beyond edge a→b, the record of min(a, b) holds (the rule
// when none does), and codes every prediction p in the ring's frame:
//   n = the sum of the cross products of successive ring offsets from p
//   (integers, offsets cut to 26 bits, n to 24), a = the axis of the
//   largest |n_i|, b and c the other two. Components b and c go first, each
//   against p with the scale L = bitLength(the ring's extent along that
//   axis, its largest |offset|). Component a then goes against the plane
//   through p with normal n at the decoded b and c,
//     p_a − round((n_b·r_b + n_c·r_c) / n_a),
//   raised on n's side by the running mean height above their planes of
//   the vertices coded in its model before, relative to their scales (the
//   curvature the ring's mean misses); its scale L = bitLength(max |n·d|) −
//   bitLength(|n_a|), about that of the ring's largest height off the plane.
//   Each residual goes through the ScaledRice of its kind (tangential,
//   across), refinement or base vertex and min(L, 4); the curvature is kept
//   per such model too (height / 2^L in 1/256, a mean that each height moves
//   1/16 of the way). With n = 0 every component goes in as a tangential
//   one; without triangles against the cells of v + 1, through one
//   AdaptiveRice.
// Residuals across the ring's plane, once the tangential ones are known,
// are a few cells; along it they are the mesh's irregularity, which no rule
// on the ring foresees and which takes most of the bits.
// "GeoDense v1" files (still read) code the three components against p in
// the context of the ring's overall spread, with models of their own for
// the axis nearest the normal.
//
// Stored record:
//   predictor (object reference) | bitsError f32 | origin 3×f32 | step f32
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "fan/adaptive_codes.h"
#include "fan/coder_interfaces.h"
#include "fan/fan_record.h"

namespace qx {

class GeoDense final : public GeometryCoder {
 public:
  static const ClassDescriptor kClass;         // "GeoDense v2"
  static const ClassDescriptor kFirstVersion;  // "GeoDense v1", read only
  const ClassDescriptor* GetClass() const override { return firstVersion_ ? &kFirstVersion : &kClass; }

  using Cells = std::array<int32_t, 3>;
  // The largest cell index: residuals of extrapolating predictions stay
  // within 32 bits.
  static constexpr int32_t kMaxCell = int32_t{1} << 29;

  // An empty coder, filled by Read.
  GeoDense() = default;
  // A coder for the finished `mesh`. `predictor` must not be none. New
  // files take the second version; the first stays writable for tests of
  // the files older writers made.
  GeoDense(const QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError, bool firstVersion = false);

  bool EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) override;
  // Fails on a short read, and on cells a valid file cannot produce.
  bool DecodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v, Vector& position) override;

  bool Write(ObjectWriter& out) override;
  // Fails without a predictor record and on a short read; a step that is
  // not a positive finite number fails too.
  bool Read(ObjectReader& in) override;

  float Step() const { return step_; }
  Vector Origin() const { return origin_; }
  float BitsError() const { return bitsError_; }
  Predictor* GetPredictor() const { return predictor_.get(); }

 private:
  // Refinement and base vertices with triangles, each by spread length
  // 0 … 31; then the vertices predicted from their neighbour in order.
  static constexpr int kSpreadContexts = 32;
  static constexpr int kContexts = 2 * kSpreadContexts + 1;
  // The residual model of component i in a vertex context: the component
  // along the normal's axis has models of its own.
  int Context(int context, int i) const { return i == normalAxis_ ? kContexts + context : context; }

  // The prediction of v's cells and the residual context it comes with.
  Cells Predict(const QXPck& mesh, VertexIndex v, int& context);
  // A ring's triangles as one bit each, when that is exact (see the source).
  static bool TriangleBits(const RecordView& record, uint64_t& bits);
  // Sums the cells of the wings of v's triangles (the butterfly rule's S2);
  // false when a triangle has none.
  bool SumWings(const QXPck& mesh, VertexIndex v, std::array<int64_t, 3>& wingSum) const;
  // The rule's cells for v (see above); false, with the cells of v + 1 (or
  // none), when v's record has no triangles.
  bool RulePrediction(const QXPck& mesh, VertexIndex v, Cells& prediction) const;

  // The second version: each vertex's prediction and residual models
  // (see the source). Models by refinement or base vertex and by the scale's
  // bit length, the short ones (where rounding to cells dominates) apart.
  static constexpr int kShortScales = 4;
  static constexpr int kFrameModels = 2 * (kShortScales + 1);
  static constexpr int kCurvatureFraction = 8;  // bits below the point of height / 2^L
  static constexpr int kCurvatureMemory = 4;    // each height moves the mean 1/16 of the way
  // Heights beyond 256 times the scale are no curvature worth following;
  // the bound keeps the products within 64 bits.
  static constexpr int64_t kMaxRatio = int64_t{1} << (kCurvatureFraction + 8);
  struct Frame {
    std::array<int64_t, 3> prediction{};
    int normalAxis = -1;              // -1: no plane across the ring
    std::array<int64_t, 3> normal{};  // below 2^24 in magnitude
    std::array<int, 3> scaleLength{};  // per component
    std::array<int, 3> model{};        // per component; -1 without triangles
  };
  Frame PredictInFrame(const QXPck& mesh, VertexIndex v);
  // Stores v's decoded cells.
  void Keep(VertexIndex v, const Cells& cells);
  bool EncodeFirstVersion(BitChannel& bits, const QXPck& mesh, VertexIndex v, const Cells& cells);
  bool DecodeFirstVersion(BitChannel& bits, const QXPck& mesh, VertexIndex v, Cells& cells);
  void ParallelogramPrediction(VertexIndex v, const RecordView& record, std::array<int64_t, 3>& prediction);
  int64_t CornerBeyond(VertexIndex a, VertexIndex b) const;
  // Codes v's components in order, each by code(component, prediction,
  // model, scale length) (no model: alone_, for vertices without
  // triangles), which writes cells[component] or reads it.
  template <class CodeComponent>
  bool CodeInFrame(const QXPck& mesh, VertexIndex v, Cells& cells, CodeComponent&& code);
  bool EncodeInFrame(BitChannel& bits, const QXPck& mesh, VertexIndex v, const Cells& cells);
  bool DecodeInFrame(BitChannel& bits, const QXPck& mesh, VertexIndex v, Cells& cells);
  static PersistentObject* MakeFirstVersion();

  Cells Quantise(Vector position) const;
  Vector Position(const Cells& cells) const;
  bool Prepare(const QXPck& mesh, VertexIndex v);

  std::unique_ptr<Predictor> predictor_;
  bool butterfly_ = false;
  float bitsError_ = 0;
  Vector origin_;
  float step_ = 1;
  std::vector<Cells> cells_;  // of the vertices coded so far
  std::array<AdaptiveRice, 2 * kContexts> residuals_;
  int normalAxis_ = -1;  // of the vertex being coded; -1 without triangles
  bool firstVersion_ = false;
  std::array<ScaledRice, kFrameModels> tangent_;
  std::array<ScaledRice, kFrameModels> normal_;
  // The running mean height of vertices above their ring's plane, over
  // their scale, in 1/2^kCurvatureFraction.
  std::array<int64_t, kFrameModels> curvature_{};
  AdaptiveRice alone_;  // vertices without triangles
  int32_t cellBound_ = 0;  // the largest |cell| coded so far
  // The triangles (v, first, second) of the base vertices coded so far:
  // vertex v's are fans_[begin, end) with {begin, end} = fanRange_[v].
  std::vector<std::array<VertexIndex, 2>> fans_;
  std::vector<std::array<int32_t, 2>> fanRange_;
};

}  // namespace qx
