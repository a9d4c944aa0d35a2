// Vertex removal with ear clipping of the hole (G. H. Meisters, "Polygons
// have ears", 1975); see volume_builder.h for the ear rules.
#include "fan/volume_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>

namespace qx {

namespace {

constexpr float kGroupBorderCost = 5e34f;
constexpr double kMinShape = 0.001;

// --- Exact orientation -------------------------------------------------------

void TwoSum(double a, double b, double& sum, double& error) {
  sum = a + b;
  const double bPart = sum - a;
  const double aPart = sum - bPart;
  error = (a - aPart) + (b - bPart);
}

// Sign of the exact sum of `terms`: the terms are accumulated into a
// non-overlapping expansion whose largest non-zero component has the sign of
// the sum.
int ExactSumSign(const std::array<double, 6>& terms) {
  std::array<double, 6> expansion{};
  size_t size = 0;
  for (double carry : terms) {
    for (size_t i = 0; i < size; ++i) TwoSum(carry, expansion[i], carry, expansion[i]);
    expansion[size++] = carry;
  }
  for (size_t i = size; i-- > 0;)
    if (expansion[i] != 0) return expansion[i] > 0 ? 1 : -1;
  return 0;
}

// --- The ring as a polygon ------------------------------------------------------

struct PolyLink {
  VertexIndex a, b;
  int32_t group;
};

bool FrontRepeats(const std::deque<BuilderLink>& chain, VertexIndex a) {
  if (a == chain.front().b) return true;
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    if (chain[i].b == a) return true;
  return false;
}

bool BackRepeats(const std::deque<BuilderLink>& chain, VertexIndex b) {
  return std::any_of(chain.begin(), chain.end(), [b](const BuilderLink& link) { return link.a == b; });
}

// The links as one chain, grown from the first link at its front and back
// under the ring rules of CloseRing; none when links are left over (the ring
// is made of several chains).
std::optional<std::vector<PolyLink>> SingleChain(const LinkList& links) {
  std::vector<BuilderLink> remaining(links.begin() + 1, links.end());
  std::deque<BuilderLink> chain{links.front()};
  while (!remaining.empty()) {
    const VertexIndex headA = chain.front().a;
    auto front = std::find_if(remaining.begin(), remaining.end(), [headA](const BuilderLink& l) { return l.b == headA; });
    if (front != remaining.end()) {
      if (FrontRepeats(chain, front->a)) break;
      chain.push_front(*front);
      remaining.erase(front);
      continue;
    }
    const VertexIndex tailB = chain.back().b;
    auto back = std::find_if(remaining.begin(), remaining.end(), [tailB](const BuilderLink& l) { return l.a == tailB; });
    if (back == remaining.end() || BackRepeats(chain, back->b)) break;
    chain.push_back(*back);
    remaining.erase(back);
  }
  if (!remaining.empty()) return std::nullopt;
  std::vector<PolyLink> polygon;
  for (const BuilderLink& link : chain) polygon.push_back({link.a, link.b, link.group});
  return polygon;
}

struct DVector {
  double x, y, z;
};
DVector Sub(Vector p, Vector q) { return {double(p.x) - q.x, double(p.y) - q.y, double(p.z) - q.z}; }
DVector CrossD(DVector a, DVector b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double DotD(DVector a, DVector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double LengthD(DVector a) { return std::sqrt(DotD(a, a)); }
DVector UnitD(DVector a) {
  const double squared = DotD(a, a);
  if (squared < 1e-20) return a;
  const double scale = 1 / std::sqrt(squared);
  return {a.x * scale, a.y * scale, a.z * scale};
}

struct Ear {
  float cost = kHuge;
  float shape = 0;
  VertexIndex blocker = -1;  // a ring vertex found inside the ear, which rejected it
};

int DominantAxis(DVector n) {
  const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  if (ax >= ay && ax >= az) return 0;
  return ay >= az ? 1 : 2;
}

// An ear projected onto the coordinate plane that drops `axis`, keeping
// (y, z), (z, x) or (x, y), with its 2-D bounds for a quick rejection.
class ProjectedTriangle {
 public:
  ProjectedTriangle(int axis, Vector a, Vector b, Vector c)
      : axis_(axis), a_(Project(a)), b_(Project(b)), c_(Project(c)) {
    lo_ = {std::min({a_[0], b_[0], c_[0]}), std::min({a_[1], b_[1], c_[1]})};
    hi_ = {std::max({a_[0], b_[0], c_[0]}), std::max({a_[1], b_[1], c_[1]})};
    turn_ = OrientationSign(a_[0], a_[1], b_[0], b_[1], c_[0], c_[1]);
  }

  // Inside and on no edge; exact.
  bool StrictlyInside(Vector point) const {
    const auto p = Project(point);
    if (turn_ == 0 || p[0] <= lo_[0] || p[0] >= hi_[0] || p[1] <= lo_[1] || p[1] >= hi_[1]) return false;
    return OrientationSign(a_[0], a_[1], b_[0], b_[1], p[0], p[1]) == turn_ &&
           OrientationSign(b_[0], b_[1], c_[0], c_[1], p[0], p[1]) == turn_ &&
           OrientationSign(c_[0], c_[1], a_[0], a_[1], p[0], p[1]) == turn_;
  }

 private:
  std::array<float, 2> Project(Vector p) const {
    if (axis_ == 0) return {p.y, p.z};
    if (axis_ == 1) return {p.z, p.x};
    return {p.x, p.y};
  }

  int axis_;
  std::array<float, 2> a_, b_, c_, lo_, hi_;
  int turn_;
};

// One hole being clipped.
class HoleClipper {
 public:
  HoleClipper(const FanBuilder& builder, VertexIndex v, std::vector<PolyLink> polygon)
      : builder_(builder), v_(v), polygon_(std::move(polygon)) {
    closed_ = polygon_.size() >= 3 && polygon_.back().b == polygon_.front().a;
    const Vector pv = builder.Position(v);
    ringNormal_ = {0, 0, 0};
    for (const PolyLink& link : polygon_) {
      const DVector n = CrossD(Sub(P(link.a), pv), Sub(P(link.b), pv));
      ringNormal_ = {ringNormal_.x + n.x, ringNormal_.y + n.y, ringNormal_.z + n.z};
    }
  }

  // Ears are evaluated once and re-evaluated only where a clip can change
  // them: the two ears next to the clip, and the ears that the clipped-off
  // vertex lay inside.
  std::optional<HoleClipping> Run() {
    HoleClipping result;
    double total = closed_ ? 0 : GapCost();
    ears_.assign(polygon_.size(), Ear{});
    for (size_t i = FirstEar(); i < polygon_.size(); ++i) ears_[i] = Evaluate(i);
    while (!Finished()) {
      size_t best = FirstEar();
      for (size_t i = FirstEar(); i < polygon_.size(); ++i) {
        const Ear& ear = ears_[i];
        if (ear.cost < ears_[best].cost || (ear.cost == ears_[best].cost && ear.shape > ears_[best].shape)) best = i;
      }
      if (ears_[best].cost >= kHuge) return std::nullopt;
      total += ears_[best].cost;
      const VertexIndex clippedVertex = polygon_[best].a;
      const size_t previous = Clip(best, result.triangles);
      if (Finished()) break;
      const size_t following = previous + 1 == polygon_.size() ? 0 : previous + 1;
      const bool closingEar = closed_ && polygon_.size() == 3;
      for (size_t i = FirstEar(); i < polygon_.size(); ++i)
        if (closingEar || i == previous || i == following || ears_[i].blocker == clippedVertex) ears_[i] = Evaluate(i);
    }
    result.cost = static_cast<float>(std::min<double>(total, kHuge));
    return result;
  }

 private:
  Vector P(VertexIndex x) const { return builder_.Position(x); }
  size_t Prev(size_t i) const { return i == 0 ? polygon_.size() - 1 : i - 1; }
  // Ear i is made of links Prev(i) and i; an open ring has no ear across its gap.
  size_t FirstEar() const { return closed_ ? 0 : 1; }
  bool Finished() const { return closed_ ? polygon_.size() <= 2 : polygon_.size() <= 1; }

  // Straightening the boundary at v: the triangle v spans with the gap, times
  // the gap's length.
  double GapCost() const {
    const Vector pv = P(v_), first = P(polygon_.front().a), last = P(polygon_.back().b);
    return 0.5 * LengthD(CrossD(Sub(pv, first), Sub(pv, last))) * LengthD(Sub(first, last));
  }

  Ear Evaluate(size_t i) const {
    const PolyLink& prev = polygon_[Prev(i)];
    const PolyLink& cur = polygon_[i];
    const VertexIndex a = prev.a, b = prev.b, c = cur.b;
    Ear ear;
    if (a == c) return ear;
    const Vector pa = P(a), pb = P(b), pc = P(c), pv = P(v_);
    const double shape = 1 - std::fabs(DotD(UnitD(Sub(pb, pa)), UnitD(Sub(pb, pc))));
    if (shape < kMinShape) return ear;
    const DVector normal = CrossD(Sub(pb, pa), Sub(pc, pa));
    if (DotD(normal, ringNormal_) <= 0) return ear;
    const ProjectedTriangle projected(DominantAxis(normal), pa, pb, pc);
    const bool closingEar = closed_ && polygon_.size() == 3;
    if (!closingEar && projected.StrictlyInside(pv)) return ear;
    ear.blocker = VertexInside(projected, a, b, c);
    if (ear.blocker >= 0) return ear;
    ear.shape = static_cast<float>(shape);
    if (prev.group != cur.group) {
      ear.cost = kGroupBorderCost;
    } else {
      const double volume = std::fabs(DotD(Sub(pa, pv), CrossD(Sub(pb, pv), Sub(pc, pv)))) / 6;
      ear.cost = static_cast<float>(std::min<double>(0.5 * volume * volume, kHuge));
    }
    return ear;
  }

  // The first ring vertex other than a, b, c strictly inside the ear, or -1.
  VertexIndex VertexInside(const ProjectedTriangle& ear, VertexIndex a, VertexIndex b, VertexIndex c) const {
    auto inside = [&](VertexIndex x) { return x != a && x != b && x != c && ear.StrictlyInside(P(x)); };
    for (const PolyLink& link : polygon_)
      if (inside(link.a)) return link.a;
    if (!closed_ && inside(polygon_.back().b)) return polygon_.back().b;
    return -1;
  }

  // Clips ear i and returns the new index of the link that absorbed it.
  size_t Clip(size_t i, Fill& triangles) {
    const size_t previous = Prev(i);
    PolyLink& prev = polygon_[previous];
    triangles.push_back({prev.a, prev.b, polygon_[i].b, prev.group});
    prev.b = polygon_[i].b;
    polygon_.erase(polygon_.begin() + static_cast<std::ptrdiff_t>(i));
    ears_.erase(ears_.begin() + static_cast<std::ptrdiff_t>(i));
    return previous > i ? previous - 1 : previous;
  }

  const FanBuilder& builder_;
  VertexIndex v_;
  std::vector<PolyLink> polygon_;
  std::vector<Ear> ears_;  // ear i joins links Prev(i) and i
  bool closed_ = false;
  DVector ringNormal_;
};

}  // namespace

int OrientationSign(float ax, float ay, float bx, float by, float cx, float cy) {
  // Fast path: the rounded determinant is trusted when it clears its error
  // bound (Shewchuk's orient2d filter); otherwise the exact sum decides.
  const double left = (double(ax) - cx) * (double(by) - cy);
  const double right = (double(ay) - cy) * (double(bx) - cx);
  const double det = left - right;
  const double bound = 3.3306690738754716e-16 * (std::fabs(left) + std::fabs(right));
  if (det > bound) return 1;
  if (-det > bound) return -1;
  const std::array<double, 6> terms{double(ax) * by,  -double(ax) * cy, -double(ay) * bx,
                                    double(ay) * cx,  double(bx) * cy,  -double(by) * cx};
  return ExactSumSign(terms);
}

std::optional<HoleClipping> ClipHole(const FanBuilder& builder, VertexIndex v) {
  const LinkList& links = builder.Links(v);
  if (links.empty()) return std::nullopt;
  std::optional<std::vector<PolyLink>> polygon = SingleChain(links);
  if (!polygon) return std::nullopt;
  return HoleClipper(builder, v, std::move(*polygon)).Run();
}

float VolumeBuilder::Cost(VertexIndex v) {
  const std::optional<HoleClipping> clipping = ClipHole(*this, v);
  if (!clipping || !FillIsAcceptable(v, clipping->triangles)) return kHuge;
  return clipping->cost;
}

std::optional<Fill> VolumeBuilder::Remove(VertexIndex v) {
  std::optional<HoleClipping> clipping = ClipHole(*this, v);
  if (!clipping || clipping->cost >= kHuge || !FillIsAcceptable(v, clipping->triangles)) return std::nullopt;
  return std::move(clipping->triangles);
}

}  // namespace qx
