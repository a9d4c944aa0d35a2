// QuadricBuilder: removal by half-edge collapse, priced with quadric error
// metrics (M. Garland and P. S. Heckbert, "Surface Simplification Using
// Quadric Error Metrics", SIGGRAPH 1997).
//
// Each vertex carries a quadric Q, the sum of the squared-distance quadrics of
// the planes around it. Removing v collapses it into a neighbour u (its
// target): v's triangles without u become triangles of u, and Q_u += Q_v.
//
//   Init:   per triangle (taken once) its plane (n, d), K = (n, d)(n, d)ᵀ,
//           times its area with area normalisation; each corner gets
//           (1 − w)·K, w the plane weight (0.8). With boundary preservation
//           every boundary edge adds a constraint plane through the edge,
//           perpendicular to its triangle, with weight kBoundaryWeight·(1 − w)
//           (times the squared edge length with area normalisation), to both
//           ends of the edge.
//   Cost:   for each candidate u (the first corner of each of v's links, and
//           with pair contraction the live vertices near v in a grid):
//           e = [u 1](Q_v + Q_u)[u 1]ᵀ (divided by area_v + area_u with area
//           normalisation), + 1e9 with mesh quality when some triangle would
//           turn by more than 90°; the smallest |e| wins and u becomes v's
//           target. 5e34 when v's triangles carry more than one group.
//   Remove: the collapse into the target; fails when the target was removed
//           or its cost went stale since.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "fan/fan_builder.h"

namespace qx {

struct QuadricOptions {
  bool pairContraction = true;       // also collapse into near, unconnected vertices
  float contractionThreshold = 0.1f;  // grid cell = threshold × the box's largest side
  bool preserveBoundary = true;      // boundary constraint planes
  bool meshQuality = false;          // penalise collapses that flip a triangle
  bool areaNormalisation = false;    // weight planes by area, divide errors by area
  float planeWeight = 0.8f;          // w: each corner receives (1 − w) of a plane
};

// A symmetric 4 × 4 quadric: xx xy xz xw yy yz yw zz zw ww.
struct Quadric {
  std::array<double, 10> q{};

  // (n, d)(n, d)ᵀ scaled by `weight`.
  static Quadric FromPlane(double nx, double ny, double nz, double d, double weight);
  Quadric& operator+=(const Quadric& other);
  // [p 1] Q [p 1]ᵀ.
  double Evaluate(Vector p) const;
};

class QuadricBuilder final : public FanBuilder {
 public:
  explicit QuadricBuilder(const QuadricOptions& options = {});
  ~QuadricBuilder() override;

  // Constraint planes of boundary edges count this many times a face plane.
  static constexpr double kBoundaryWeight = 100.0;
  // With pair contraction, at most this many grid vertices are tried per cost.
  static constexpr int kMaxGridCandidates = 32;

  const QuadricOptions& Options() const { return options_; }
  // v's quadric and collapse target (-1 none), for inspection.
  const Quadric& QuadricOf(VertexIndex v) const { return quadrics_[v]; }
  VertexIndex TargetOf(VertexIndex v) const { return targets_[v]; }

 protected:
  void Init() override;
  float Cost(VertexIndex v) override;
  std::optional<Fill> Remove(VertexIndex v) override;

 private:
  class Grid;
  void PrefetchNeighbourLinks(VertexIndex v) const;
  void AddTrianglePlanes(VertexIndex x, const BuilderLink& link);
  void AddBoundaryPlane(VertexIndex p, VertexIndex q, Vector normal, double weight);
  bool IsBoundaryEdge(VertexIndex p, VertexIndex q) const;
  // The collapse of v into u, in scratch_; false when it leaves no triangle.
  bool CollapseFill(VertexIndex v, VertexIndex u);
  // Whether u may be v's target: a live vertex other than v whose cost is
  // valid.
  bool CanBeTarget(VertexIndex v, VertexIndex u) const;
  // The error of collapsing v into u.
  double CollapseError(VertexIndex v, VertexIndex u) const;
  // Whether the collapse of v into u leaves triangles that may fill v's hole
  // (its fill is then in scratch_).
  bool CollapseIsAllowed(VertexIndex v, VertexIndex u);
  bool CollapseFlips(VertexIndex v, VertexIndex u) const;
  // Every possible target of v with its error, in the order they are found,
  // into candidates_.
  void GatherCandidates(VertexIndex v);

  struct Candidate {
    double error;
    VertexIndex u;
  };

  QuadricOptions options_;
  std::vector<Quadric> quadrics_;
  std::vector<double> areas_;
  std::vector<VertexIndex> targets_;
  std::unique_ptr<Grid> grid_;
  Fill scratch_;
  std::vector<Candidate> candidates_;
};

}  // namespace qx
