// Half-edge collapse priced by quadric error metrics (Garland and Heckbert,
// SIGGRAPH 1997); see quadric_builder.h.
#include "fan/quadric_builder.h"

#include <algorithm>
#include <cmath>

#include "common/prefetch.h"

namespace qx {

namespace {

constexpr float kGroupBorderCost = 5e34f;
constexpr double kFlipPenalty = 1e9;

// The planes of a vertex's triangles are added with its neighbours' link
// lists asked for this many vertices ahead.
constexpr VertexIndex kInitLead = 8;

struct Plane {
  double x, y, z, d;
};

// The plane through `point` with normal `normal` scaled to unit length
// (a normal shorter than 1e-10 is kept as it is: it has no usable direction).
Plane PlaneThrough(double nx, double ny, double nz, Vector point) {
  const double squared = nx * nx + ny * ny + nz * nz;
  if (squared >= 1e-20) {
    const double scale = 1 / std::sqrt(squared);
    nx *= scale, ny *= scale, nz *= scale;
  }
  return {nx, ny, nz, -(nx * point.x + ny * point.y + nz * point.z)};
}

}  // namespace

// --- Quadric -------------------------------------------------------------------

Quadric Quadric::FromPlane(double nx, double ny, double nz, double d, double weight) {
  Quadric k;
  k.q = {nx * nx, nx * ny, nx * nz, nx * d, ny * ny, ny * nz, ny * d, nz * nz, nz * d, d * d};
  for (double& value : k.q) value *= weight;
  return k;
}

Quadric& Quadric::operator+=(const Quadric& other) {
  for (size_t i = 0; i < q.size(); ++i) q[i] += other.q[i];
  return *this;
}

namespace {

// [p 1] Q [p 1]ᵀ for the ten coefficients of Q.
inline double EvaluateQuadric(const std::array<double, 10>& q, Vector p) {
  const double x = p.x, y = p.y, z = p.z;
  return q[0] * x * x + 2 * q[1] * x * y + 2 * q[2] * x * z + 2 * q[3] * x + q[4] * y * y + 2 * q[5] * y * z +
         2 * q[6] * y + q[7] * z * z + 2 * q[8] * z + q[9];
}

}  // namespace

double Quadric::Evaluate(Vector p) const { return EvaluateQuadric(q, p); }

// --- Pair-contraction grid --------------------------------------------------------

// A sparse uniform grid of live vertices. Candidates for v are the vertices
// of v's cell and its 26 neighbours within one cell size of v, v's own cell
// first, at most kMaxGridCandidates of them: the cap keeps a cost bounded
// where a coarse grid packs many vertices into a cell.
class QuadricBuilder::Grid {
 public:
  Grid(Vector lo, double cell, int32_t vertexCount)
      : lo_(lo), cell_(cell), keyOf_(static_cast<size_t>(vertexCount), kNone) {}

  void Insert(VertexIndex v, Vector p) {
    const uint64_t key = Key(Cell(p, 0), Cell(p, 1), Cell(p, 2));
    keyOf_[v] = key;
    cells_[key].push_back(v);
  }

  void Erase(VertexIndex v) {
    if (keyOf_[v] == kNone) return;
    std::vector<VertexIndex>& cell = cells_[keyOf_[v]];
    cell.erase(std::find(cell.begin(), cell.end(), v));
    keyOf_[v] = kNone;
  }

  template <class Visit>
  void ForEachNear(VertexIndex v, Vector p, Visit&& visit) const {
    const int64_t cx = Cell(p, 0), cy = Cell(p, 1), cz = Cell(p, 2);
    int budget = kMaxGridCandidates;
    static constexpr int kOffsets[3] = {0, -1, 1};
    for (int dx : kOffsets)
      for (int dy : kOffsets)
        for (int dz : kOffsets) {
          auto found = cells_.find(Key(cx + dx, cy + dy, cz + dz));
          if (found == cells_.end()) continue;
          for (VertexIndex u : found->second) {
            if (u == v) continue;
            if (budget-- <= 0) return;
            visit(u);
          }
        }
  }

  double CellSize() const { return cell_; }

 private:
  static constexpr uint64_t kNone = ~uint64_t{0};
  static constexpr int64_t kCellLimit = (int64_t{1} << 21) - 1;

  int64_t Cell(Vector p, int axis) const {
    const double at = std::floor((double(p[axis]) - lo_[axis]) / cell_);
    return static_cast<int64_t>(std::clamp(at, 0.0, double(kCellLimit)));
  }
  static uint64_t Key(int64_t x, int64_t y, int64_t z) {
    if (x < 0 || y < 0 || z < 0 || x > kCellLimit || y > kCellLimit || z > kCellLimit) return kNone - 1;
    return static_cast<uint64_t>(x) | static_cast<uint64_t>(y) << 21 | static_cast<uint64_t>(z) << 42;
  }

  Vector lo_;
  double cell_;
  std::vector<uint64_t> keyOf_;
  std::unordered_map<uint64_t, std::vector<VertexIndex>> cells_;
};

// --- Builder -------------------------------------------------------------------------

QuadricBuilder::QuadricBuilder(const QuadricOptions& options) : options_(options) {}
QuadricBuilder::~QuadricBuilder() = default;

bool QuadricBuilder::IsBoundaryEdge(VertexIndex p, VertexIndex q) const {
  // The edge p→q has a neighbour triangle when some triangle runs q→p, which
  // p stores as a link ending in q.
  for (const BuilderLink& link : Links(p))
    if (link.b == q) return false;
  return true;
}

void QuadricBuilder::AddBoundaryPlane(VertexIndex p, VertexIndex q, Vector normal, double weight) {
  const Vector pp = Position(p), edge = Position(q) - pp;
  const Vector across = Cross(edge, normal);
  if (Dot(across, across) < 1e-20f) return;
  const Plane plane = PlaneThrough(across.x, across.y, across.z, pp);
  const Quadric k = Quadric::FromPlane(plane.x, plane.y, plane.z, plane.d, weight);
  quadrics_[p] += k;
  quadrics_[q] += k;
}

void QuadricBuilder::AddTrianglePlanes(VertexIndex x, const BuilderLink& link) {
  const Vector px = Position(x), pa = Position(link.a), pb = Position(link.b);
  const Vector ex = pa - px, ey = pb - px;
  const double nx = double(ex.y) * ey.z - double(ex.z) * ey.y;
  const double ny = double(ex.z) * ey.x - double(ex.x) * ey.z;
  const double nz = double(ex.x) * ey.y - double(ex.y) * ey.x;
  const double area = 0.5 * std::sqrt(nx * nx + ny * ny + nz * nz);
  const Plane plane = PlaneThrough(nx, ny, nz, px);
  const double share = 1.0 - options_.planeWeight;
  const Quadric k = Quadric::FromPlane(plane.x, plane.y, plane.z, plane.d,
                                       share * (options_.areaNormalisation ? area : 1.0));
  for (VertexIndex corner : {x, link.a, link.b}) {
    quadrics_[corner] += k;
    if (options_.areaNormalisation) areas_[corner] += area;
  }
  if (!options_.preserveBoundary) return;
  const Vector normal{static_cast<float>(plane.x), static_cast<float>(plane.y), static_cast<float>(plane.z)};
  const std::array<VertexIndex, 3> corners{x, link.a, link.b};
  for (int i = 0; i < 3; ++i) {
    const VertexIndex p = corners[i], q = corners[(i + 1) % 3];
    if (!IsBoundaryEdge(p, q)) continue;
    const Vector edge = Position(q) - Position(p);
    const double scale = options_.areaNormalisation ? double(Dot(edge, edge)) : 1.0;
    AddBoundaryPlane(p, q, normal, share * kBoundaryWeight * scale);
  }
}

void QuadricBuilder::PrefetchNeighbourLinks(VertexIndex v) const {
  // The link lists lie wherever the heap put them: the boundary tests of v's
  // triangles read the lists of v's neighbours.
  for (const BuilderLink& link : Links(v)) PrefetchCacheLine(Links(link.a).data());
}

void QuadricBuilder::Init() {
  const int32_t count = VertexCount();
  quadrics_.assign(static_cast<size_t>(count), Quadric{});
  areas_.assign(static_cast<size_t>(count), 0.0);
  targets_.assign(static_cast<size_t>(count), -1);
  for (VertexIndex x = 1; x < count; ++x) {
    if (x + kInitLead < count) PrefetchNeighbourLinks(x + kInitLead);
    for (const BuilderLink& link : Links(x))
      if (x < link.a && x < link.b) AddTrianglePlanes(x, link);
  }

  grid_.reset();
  if (!options_.pairContraction || Bounds().Empty()) return;
  const Vector half = Bounds().half;
  const double cell = options_.contractionThreshold * 2.0 * std::max({half.x, half.y, half.z});
  if (!(cell > 0)) return;
  grid_ = std::make_unique<Grid>(Bounds().Lo(), cell, count);
  for (VertexIndex v = 1; v < count; ++v)
    if (!Links(v).empty()) grid_->Insert(v, Position(v));
}

bool QuadricBuilder::CollapseFill(VertexIndex v, VertexIndex u) {
  scratch_.clear();
  for (const BuilderLink& link : Links(v))
    if (link.a != u && link.b != u) scratch_.push_back({u, link.a, link.b, link.group});
  return !scratch_.empty();
}

bool QuadricBuilder::CollapseFlips(VertexIndex v, VertexIndex u) const {
  const Vector pv = Position(v), pu = Position(u);
  for (const BuilderLink& link : Links(v)) {
    if (link.a == u || link.b == u) continue;
    const Vector pa = Position(link.a), pb = Position(link.b);
    if (Dot(Cross(pa - pv, pb - pv), Cross(pa - pu, pb - pu)) < 0) return true;
  }
  return false;
}

bool QuadricBuilder::CanBeTarget(VertexIndex v, VertexIndex u) const {
  return u != v && u > 0 && !IsRemoved(u) && IsCostValid(u);
}

double QuadricBuilder::CollapseError(VertexIndex v, VertexIndex u) const {
  // Q_v + Q_u summed term by term, as Quadric's += does, without copying a
  // quadric: this runs for every candidate of every cost.
  const std::array<double, 10>& qv = quadrics_[v].q;
  const std::array<double, 10>& qu = quadrics_[u].q;
  std::array<double, 10> sum;
  for (size_t i = 0; i < sum.size(); ++i) sum[i] = qv[i] + qu[i];
  double error = EvaluateQuadric(sum, Position(u));
  if (options_.areaNormalisation && areas_[v] + areas_[u] > 0) error /= areas_[v] + areas_[u];
  error = std::fabs(error);
  if (options_.meshQuality && CollapseFlips(v, u)) error += kFlipPenalty;
  return error;
}

bool QuadricBuilder::CollapseIsAllowed(VertexIndex v, VertexIndex u) {
  return CollapseFill(v, u) && FillIsAcceptable(v, scratch_);
}

void QuadricBuilder::GatherCandidates(VertexIndex v) {
  candidates_.clear();
  auto consider = [&](VertexIndex u) {
    if (!CanBeTarget(v, u)) return;
    const double error = CollapseError(v, u);
    // An error of kHuge or more (or NaN) never beats "no target".
    if (error < kHuge) candidates_.push_back({error, u});
  };
  for (const BuilderLink& link : Links(v)) consider(link.a);
  if (!grid_) return;
  const Vector pv = Position(v);
  const double reach = grid_->CellSize() * grid_->CellSize();
  grid_->ForEachNear(v, pv, [&](VertexIndex u) {
    const Vector d = Position(u) - pv;
    if (double(Dot(d, d)) <= reach) consider(u);
  });
}

float QuadricBuilder::Cost(VertexIndex v) {
  // The target is the allowed candidate with the smallest error, the first
  // one found among equal errors. Vetting a collapse costs far more than its
  // error, so the candidates are vetted cheapest first and the first allowed
  // one wins; usually that is the first one tried, so picking the minimum
  // each round beats sorting.
  targets_[v] = -1;
  GatherCandidates(v);
  double best = kHuge;
  const auto byError = [](const Candidate& x, const Candidate& y) { return x.error < y.error; };
  while (!candidates_.empty()) {
    // min_element returns the first of equal errors; erase keeps the order.
    const auto cheapest = std::min_element(candidates_.begin(), candidates_.end(), byError);
    if (CollapseIsAllowed(v, cheapest->u)) {
      best = cheapest->error;
      targets_[v] = cheapest->u;
      break;
    }
    candidates_.erase(cheapest);
  }
  if (targets_[v] < 0) return kHuge;
  const LinkList& links = Links(v);
  const bool mixedGroups = std::any_of(links.begin(), links.end(),
                                       [&](const BuilderLink& link) { return link.group != links.front().group; });
  if (mixedGroups) return kGroupBorderCost;
  return static_cast<float>(std::min<double>(best, kHuge));
}

std::optional<Fill> QuadricBuilder::Remove(VertexIndex v) {
  const VertexIndex u = targets_[v];
  if (u < 0 || IsRemoved(u) || !IsCostValid(u)) return std::nullopt;
  if (!CollapseIsAllowed(v, u)) return std::nullopt;
  quadrics_[u] += quadrics_[v];
  areas_[u] += areas_[v];
  if (grid_) grid_->Erase(v);
  return scratch_;
}

}  // namespace qx
