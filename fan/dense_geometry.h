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
// through the AdaptiveRice of the vertex's context. Closed loop: the writer
// replaces every position by its decoded value.
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
  static const ClassDescriptor kClass;  // "GeoDense v1"
  const ClassDescriptor* GetClass() const override { return &kClass; }

  using Cells = std::array<int32_t, 3>;
  // The largest cell index: residuals of extrapolating predictions stay
  // within 32 bits.
  static constexpr int32_t kMaxCell = int32_t{1} << 29;

  // An empty coder, filled by Read.
  GeoDense() = default;
  // A coder for the finished `mesh`. `predictor` must not be none.
  GeoDense(const QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError);

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
};

}  // namespace qx
