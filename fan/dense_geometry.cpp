#include "fan/dense_geometry.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "fan/connectivity.h"
#include "fan/edge_dependency.h"
#include "fan/geometry_coders.h"
#include "fan/pck.h"
#include "fan/predictors.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {

const ClassDescriptor GeoDense::kClass{"GeoDense v2", &MakeDefault<GeoDense>};
const ClassDescriptor GeoDense::kFirstVersion{"GeoDense v1", &GeoDense::MakeFirstVersion};

PersistentObject* GeoDense::MakeFirstVersion() {
  auto* coder = new GeoDense;
  coder->firstVersion_ = true;
  return coder;
}

namespace {

// num / den rounded to the nearest integer (halves up), den > 0. In 32 bits
// when the operands fit, which they mostly do: a 64-bit division costs
// several times as much, once or twice per vertex.
int64_t DivideRounded(int64_t num, int64_t den) {
  const int64_t twice = 2 * num + den;
  const int64_t divisor = 2 * den;
  if (twice == static_cast<int32_t>(twice) && divisor == static_cast<int32_t>(divisor)) {
    const auto narrowTwice = static_cast<int32_t>(twice), narrowDivisor = static_cast<int32_t>(divisor);
    const int32_t quotient = narrowTwice / narrowDivisor;
    return narrowTwice % narrowDivisor < 0 ? quotient - 1 : quotient;
  }
  const int64_t quotient = twice / divisor;
  return twice % divisor < 0 ? quotient - 1 : quotient;
}

// Without a branch on the sign, which is as likely one way as the other.
uint32_t ZigZag(int64_t x) { return static_cast<uint32_t>((x << 1) ^ (x >> 63)); }
int64_t UnZigZag(uint32_t x) { return static_cast<int64_t>(x >> 1) ^ -static_cast<int64_t>(x & 1); }

int Length64(int64_t x) { return static_cast<int>(std::bit_width(static_cast<uint64_t>(x))); }

int32_t ClampCell(int64_t x) {
  return static_cast<int32_t>(std::clamp<int64_t>(x, -GeoDense::kMaxCell, GeoDense::kMaxCell));
}

}  // namespace

GeoDense::GeoDense(const QXPck& mesh, std::unique_ptr<Predictor> predictor, float bitsError, bool firstVersion)
    : predictor_(std::move(predictor)), bitsError_(bitsError), firstVersion_(firstVersion) {
  butterfly_ = dynamic_cast<GPButterfly*>(predictor_.get()) != nullptr;
  const Vector half = mesh.box.Empty() ? Vector{} : mesh.box.half;
  const float side = 2 * std::max({half.x, half.y, half.z});
  origin_ = mesh.box.Empty() ? Vector{} : mesh.box.Lo();
  step_ = 2 * bitsError * side;
  const float finest = side / static_cast<float>(kMaxCell);
  if (!(step_ >= finest)) step_ = finest;
  if (!(step_ > 0) || !std::isfinite(step_)) step_ = 1;
  cells_.assign(static_cast<size_t>(std::max(mesh.vertexCount, 0)), Cells{});
}

GeoDense::Cells GeoDense::Quantise(Vector position) const {
  Cells cells;
  for (int i = 0; i < 3; ++i) {
    const double cell = std::floor((double{position[i]} - origin_[i]) / step_ + 0.5);
    cells[i] = cell >= 0 ? static_cast<int32_t>(std::min<double>(cell, kMaxCell)) : 0;
  }
  return cells;
}

// Computed in double and rounded once: the float result is the nearest to
// the cell's exact position.
Vector GeoDense::Position(const Cells& cells) const {
  Vector position;
  for (int i = 0; i < 3; ++i) position[i] = static_cast<float>(double{origin_[i]} + double{step_} * cells[i]);
  return position;
}

bool GeoDense::RulePrediction(const QXPck& mesh, VertexIndex v, Cells& prediction) const {
  const RecordView record = mesh.Record(v);
  const int ringSize = record.RingSize();
  const uint32_t* ring = record.Ring();
  std::array<int64_t, 3> ringSum{};
  int64_t triangles = 0;
  uint64_t triangleBits = 0;
  if (TriangleBits(record, triangleBits)) {
    // Every ring cell is loaded, in one pass without a branch per triangle:
    // the cells lie scattered over the mesh, and their loads overlap.
    for (int j = 0; j < ringSize; ++j) {
      const auto taken = static_cast<int64_t>((triangleBits >> j) & 1);
      const Cells& corner = cells_[ring[j]];
      for (int i = 0; i < 3; ++i) ringSum[i] += corner[i] & -taken;
      triangles += taken;
    }
  } else {
    ForEachRingTriangle(record, [&](int j) {
      const Cells& corner = cells_[ring[j]];
      for (int i = 0; i < 3; ++i) ringSum[i] += corner[i];
      ++triangles;
    });
  }
  prediction = Cells{};
  if (triangles == 0) {
    if (static_cast<size_t>(v) + 1 < cells_.size()) prediction = cells_[static_cast<size_t>(v) + 1];
    return false;
  }
  std::array<int64_t, 3> wingSum{};
  const bool wingsFound = butterfly_ && SumWings(mesh, v, wingSum);
  for (int i = 0; i < 3; ++i)
    prediction[i] = ClampCell(wingsFound ? DivideRounded(23 * ringSum[i] - 3 * wingSum[i], 20 * triangles)
                                         : DivideRounded(ringSum[i], triangles));
  return true;
}

GeoDense::Cells GeoDense::Predict(const QXPck& mesh, VertexIndex v, int& context) {
  Cells prediction;
  if (!RulePrediction(mesh, v, prediction)) {
    context = kContexts - 1;
    normalAxis_ = -1;
    return prediction;
  }
  const RecordView record = mesh.Record(v);
  const int ringSize = record.RingSize();
  const uint32_t* ring = record.Ring();
  // One pass over the ring: its spread around the prediction, and the
  // axis closest to its normal (the sum of the cross products of successive
  // ring vectors, the last with the first): residuals across the surface
  // run larger than along it.
  int64_t spread = 0;
  double normal[3] = {0, 0, 0};
  double previous[3] = {0, 0, 0};
  for (int j = 0; j <= ringSize; ++j) {
    const Cells& neighbour = cells_[ring[j < ringSize ? j : 0]];
    double current[3];
    for (int i = 0; i < 3; ++i) {
      const int64_t offset = int64_t{neighbour[i]} - prediction[i];
      spread = std::max<int64_t>(spread, offset < 0 ? -offset : offset);
      current[i] = static_cast<double>(offset);
    }
    if (j > 0) {
      normal[0] += previous[1] * current[2] - previous[2] * current[1];
      normal[1] += previous[2] * current[0] - previous[0] * current[2];
      normal[2] += previous[0] * current[1] - previous[1] * current[0];
    }
    std::copy(current, current + 3, previous);
  }
  normalAxis_ = 0;
  for (int i = 1; i < 3; ++i)
    if (std::abs(normal[i]) > std::abs(normal[normalAxis_])) normalAxis_ = i;
  const int length = std::min(BitLength(static_cast<uint32_t>(std::min<int64_t>(spread, UINT32_MAX))), kSpreadContexts - 1);
  context = (v >= mesh.splitIndex ? kSpreadContexts : 0) + length;
  return prediction;
}

// The triangles of a ring of at most 64 positions, one bit each, when no
// two groups share one: a triangle then counts once whichever way the ring
// is walked. False otherwise (the walk counts every group's bits).
bool GeoDense::TriangleBits(const RecordView& record, uint64_t& bits) {
  if (record.RingSize() > 64) return false;
  bits = 0;
  for (int g = 0; g < record.GroupCount(); ++g) {
    const DependencyGroup group = record.Group(g);
    uint64_t mask = 0;
    for (int byte = 0; byte < group.maskBytes; ++byte) mask |= uint64_t{group.mask[byte]} << (8 * byte);
    if (bits & mask) return false;
    bits |= mask;
  }
  return true;
}

// The wing search of the butterfly rule, triangle by triangle in the walk's
// order, stops at the first edge without a wing: then the rule falls back on
// the centroid and the sum is of no use.
bool GeoDense::SumWings(const QXPck& mesh, VertexIndex v, std::array<int64_t, 3>& wingSum) const {
  QXPck& searched = const_cast<QXPck&>(mesh);  // EdgeDependency marks its scratch bits only
  bool found = true;
  ForEachRingTriangle(mesh, v, [&](VertexIndex first, VertexIndex second) {
    if (!found) return;
    const EdgeWing wing = EdgeDependency(searched, first, second, v);
    found = wing.dependency != v;
    if (!found) return;
    const Cells& far = cells_[static_cast<size_t>(wing.third)];
    for (int i = 0; i < 3; ++i) wingSum[i] += far[i];
  });
  return found;
}

bool GeoDense::Prepare(const QXPck& mesh, VertexIndex v) {
  if (cells_.empty() && mesh.vertexCount > 0) cells_.assign(static_cast<size_t>(mesh.vertexCount), Cells{});
  return predictor_ && v >= 1 && static_cast<size_t>(v) < cells_.size() &&
         cells_.size() == mesh.vertices.size();
}

bool GeoDense::EncodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v) {
  if (!Prepare(mesh, v)) return false;
  Vector& position = mesh.vertices[static_cast<size_t>(v)].position;
  const Cells cells = Quantise(position);
  if (!(firstVersion_ ? EncodeFirstVersion(bits, mesh, v, cells) : EncodeInFrame(bits, mesh, v, cells))) return false;
  Keep(v, cells);
  position = Position(cells);  // what the reader will rebuild
  return true;
}

bool GeoDense::DecodeVertex(BitChannel& bits, QXPck& mesh, VertexIndex v, Vector& position) {
  if (!Prepare(mesh, v)) return false;
  Cells cells;
  if (!(firstVersion_ ? DecodeFirstVersion(bits, mesh, v, cells) : DecodeInFrame(bits, mesh, v, cells))) return false;
  Keep(v, cells);
  position = Position(cells);
  return true;
}

void GeoDense::Keep(VertexIndex v, const Cells& cells) {
  cells_[static_cast<size_t>(v)] = cells;
  for (int32_t cell : cells) cellBound_ = std::max(cellBound_, cell < 0 ? -cell : cell);
}

bool GeoDense::EncodeFirstVersion(BitChannel& bits, const QXPck& mesh, VertexIndex v, const Cells& cells) {
  int context = 0;
  const Cells prediction = Predict(mesh, v, context);
  for (int i = 0; i < 3; ++i)
    if (!residuals_[Context(context, i)].Write(bits, ZigZag(int64_t{cells[i]} - prediction[i]))) return false;
  return true;
}

bool GeoDense::DecodeFirstVersion(BitChannel& bits, const QXPck& mesh, VertexIndex v, Cells& cells) {
  int context = 0;
  const Cells prediction = Predict(mesh, v, context);
  for (int i = 0; i < 3; ++i) {
    uint32_t code = 0;
    if (!residuals_[Context(context, i)].Read(bits, code)) return false;
    const int64_t cell = prediction[i] + UnZigZag(code);
    if (cell < -kMaxCell || cell > kMaxCell) return false;
    cells[i] = static_cast<int32_t>(cell);
  }
  return true;
}

// The corner beyond edge a→b of a triangle (v, a, b), v < a, b, when the
// triangle there is one of min(a, b)'s: it has edge b→a, and is (a, c, b)
// or (b, a, c). −1 otherwise; of several (only a non-manifold edge has
// them), the last in walk order.
int64_t GeoDense::CornerBeyond(VertexIndex a, VertexIndex b) const {
  const VertexIndex low = std::min(a, b);
  const auto [begin, end] = fanRange_[static_cast<size_t>(low)];
  int64_t corner = -1;
  for (int32_t t = begin; t < end; ++t) {
    const auto [first, second] = fans_[static_cast<size_t>(t)];
    if (low == a && second == b) corner = first;
    if (low == b && first == a) corner = second;
  }
  return corner;
}

// A base vertex's triangles mostly lie on the rim of the coded surface: the
// mean of the parallelograms across their edges, where the triangle beyond
// is known, sees past the rim where the ring's mean stays inside it. The
// triangles are kept, in walk order, for the base vertices below: looking
// them up in the records, scattered over the heap, cost a cache miss each.
void GeoDense::ParallelogramPrediction(VertexIndex v, const RecordView& record, std::array<int64_t, 3>& prediction) {
  if (fanRange_.size() != cells_.size()) fanRange_.assign(cells_.size(), {0, 0});
  const auto begin = static_cast<int32_t>(fans_.size());
  std::array<int64_t, 3> sum{};
  int64_t count = 0;
  ForEachRingTriangle(record, [&](int j) {
    const VertexIndex a = record.Neighbour(j), b = record.Neighbour(j + 1);
    fans_.push_back({a, b});
    const int64_t corner = CornerBeyond(a, b);
    if (corner < 0) return;
    for (int i = 0; i < 3; ++i)
      sum[i] += int64_t{cells_[static_cast<size_t>(a)][i]} + cells_[static_cast<size_t>(b)][i] -
                cells_[static_cast<size_t>(corner)][i];
    ++count;
  });
  fanRange_[static_cast<size_t>(v)] = {begin, static_cast<int32_t>(fans_.size())};
  if (count == 0) return;
  for (int i = 0; i < 3; ++i) prediction[i] = ClampCell(DivideRounded(sum[i], count));
}

// The frame of a ring around the prediction p, from the offsets d of the
// ring's cells from p: per axis the largest |d| (the extent), the normal n
// (see the header) and the ring's height off the plane (p, n).
GeoDense::Frame GeoDense::PredictInFrame(const QXPck& mesh, VertexIndex v) {
  Frame frame;
  Cells prediction;
  const bool hasTriangles = RulePrediction(mesh, v, prediction);
  for (int i = 0; i < 3; ++i) frame.prediction[i] = prediction[i];
  if (!hasTriangles) {
    frame.model = {-1, -1, -1};
    return frame;
  }
  const RecordView record = mesh.Record(v);
  if (v >= mesh.splitIndex) ParallelogramPrediction(v, record, frame.prediction);
  const int ringSize = record.RingSize();
  const uint32_t* ring = record.Ring();
  // One pass: the extents, and the cross products of offsets cut so that
  // they stay below 2^26 — every cell lies within cellBound_, so every
  // prediction within 3·cellBound_ (the parallelogram's reach) and every
  // offset within 4·cellBound_ — and their sums over 256 ring positions
  // within 64 bits.
  const int shift = std::max(0, Length64(4 * int64_t{cellBound_}) - 26);
  std::array<int64_t, 3> extent{}, normal{}, previous{}, current{};
  for (int j = 0; j <= ringSize; ++j) {
    const Cells& neighbour = cells_[ring[j < ringSize ? j : 0]];
    for (int i = 0; i < 3; ++i) {
      const int64_t offset = neighbour[i] - frame.prediction[i];
      extent[i] = std::max(extent[i], offset < 0 ? -offset : offset);
      current[i] = offset >> shift;
    }
    if (j > 0) {
      normal[0] += previous[1] * current[2] - previous[2] * current[1];
      normal[1] += previous[2] * current[0] - previous[0] * current[2];
      normal[2] += previous[0] * current[1] - previous[1] * current[0];
    }
    previous = current;
  }
  const int kind = v >= mesh.splitIndex ? kShortScales + 1 : 0;
  for (int i = 0; i < 3; ++i) {
    frame.scaleLength[i] = Length64(extent[i]);
    frame.model[i] = kind + std::min(frame.scaleLength[i], kShortScales);
  }
  int axis = 0;
  for (int i = 1; i < 3; ++i)
    if (std::abs(normal[i]) > std::abs(normal[axis])) axis = i;
  if (normal[axis] == 0) return frame;  // a flat or degenerate ring: no frame
  const int normalShift = std::max(0, Length64(std::abs(normal[axis])) - 24);
  for (int i = 0; i < 3; ++i) frame.normal[i] = normal[i] >> normalShift;
  frame.normalAxis = axis;
  // The scale across: the ring's largest height off the plane along a,
  // |n·d| / |n_a|, by bit lengths (within one, without a division).
  int64_t height = 0;
  for (int j = 0; j < ringSize; ++j) {
    const Cells& neighbour = cells_[ring[j]];
    int64_t dot = 0;
    for (int i = 0; i < 3; ++i) dot += frame.normal[i] * (neighbour[i] - frame.prediction[i]);
    height = std::max(height, dot < 0 ? -dot : dot);
  }
  frame.scaleLength[axis] = std::max(0, Length64(height) - Length64(std::abs(frame.normal[axis])));
  frame.model[axis] = kind + std::min(frame.scaleLength[axis], kShortScales);
  return frame;
}

template <class CodeComponent>
bool GeoDense::CodeInFrame(const QXPck& mesh, VertexIndex v, Cells& cells, CodeComponent&& code) {
  const Frame frame = PredictInFrame(mesh, v);
  const int a = frame.normalAxis;
  for (int i = 0; i < 3; ++i)
    if (i != a && !code(i, frame.prediction[i], frame.model[i] < 0 ? nullptr : &tangent_[frame.model[i]],
                        frame.scaleLength[i]))
      return false;
  if (a < 0) return true;
  // The plane through the prediction across the tangential residuals, then
  // the running mean height above it of the vertices coded in this model,
  // relative to their scale (the surface's curvature, which the ring's mean
  // does not follow), on the side the normal points to.
  const int b = (a + 1) % 3, c = (a + 2) % 3;
  int64_t across = frame.normal[b] * (cells[b] - frame.prediction[b]) + frame.normal[c] * (cells[c] - frame.prediction[c]);
  int64_t along = frame.normal[a];
  if (along < 0) across = -across, along = -along;
  const int64_t plane = frame.prediction[a] - DivideRounded(across, along);
  const int64_t side = frame.normal[a] > 0 ? 1 : -1;
  const int model = frame.model[a], length = frame.scaleLength[a];
  // Shifts, not divisions, scale the curvature: arithmetic shifts round
  // down alike everywhere, and the running mean stays within ±kMaxRatio.
  int64_t& curvature = curvature_[model];
  constexpr int64_t kHalfUnit = int64_t{1} << (kCurvatureFraction - 1);
  const int64_t bias = (curvature * (int64_t{1} << length) + kHalfUnit) >> kCurvatureFraction;
  if (!code(a, std::clamp<int64_t>(plane + side * bias, -kMaxCell, kMaxCell), &normal_[model], length)) return false;
  const int64_t ratio =
      std::clamp<int64_t>((side * (cells[a] - plane) * (int64_t{1} << kCurvatureFraction)) >> length, -kMaxRatio, kMaxRatio);
  curvature += (ratio - curvature) >> kCurvatureMemory;
  return true;
}

bool GeoDense::EncodeInFrame(BitChannel& bits, const QXPck& mesh, VertexIndex v, const Cells& cells) {
  Cells coded = cells;
  return CodeInFrame(mesh, v, coded, [&](int i, int64_t prediction, ScaledRice* model, int length) {
    const uint32_t code = ZigZag(cells[i] - prediction);
    return model ? model->Write(bits, code, length) : alone_.Write(bits, code);
  });
}

bool GeoDense::DecodeInFrame(BitChannel& bits, const QXPck& mesh, VertexIndex v, Cells& cells) {
  return CodeInFrame(mesh, v, cells, [&](int i, int64_t prediction, ScaledRice* model, int length) {
    uint32_t code = 0;
    if (!(model ? model->Read(bits, code, length) : alone_.Read(bits, code))) return false;
    const int64_t cell = prediction + UnZigZag(code);
    if (cell < -kMaxCell || cell > kMaxCell) return false;
    cells[i] = static_cast<int32_t>(cell);
    return true;
  });
}
bool GeoDense::Write(ObjectWriter& out) {
  return out.WriteObject(predictor_.get()) && out.WriteF32(bitsError_) && out.WriteF32(origin_.x) &&
         out.WriteF32(origin_.y) && out.WriteF32(origin_.z) && out.WriteF32(step_);
}

bool GeoDense::Read(ObjectReader& in) {
  predictor_ = ReadPredictorReference(in);
  if (!predictor_) return false;
  butterfly_ = dynamic_cast<GPButterfly*>(predictor_.get()) != nullptr;
  return in.ReadF32(bitsError_) && in.ReadF32(origin_.x) && in.ReadF32(origin_.y) && in.ReadF32(origin_.z) &&
         in.ReadF32(step_) && step_ > 0 && std::isfinite(step_);
}

}  // namespace qx
