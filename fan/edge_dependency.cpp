#include "fan/edge_dependency.h"

#include <algorithm>
#include <vector>

#include "fan/fan_record.h"
#include "fan/pck.h"

namespace qx {
namespace {

// One ring triangle (x, first, second) of a record, with its dependency.
struct Triangle {
  VertexIndex corners[3];
  VertexIndex dependency;
};

// A vertex being searched and how far its triangles have been looked at.
struct Frame {
  VertexIndex x;
  RecordView record;
  int group = 0;
  int position = 0;
};

class WingSearch {
 public:
  WingSearch(QXPck& mesh, VertexIndex a, VertexIndex b, VertexIndex v)
      : mesh_(mesh), a_(a), b_(b), v_(v),
        limit_(std::min({mesh.splitIndex, mesh.vertexCount, mesh.bits.BitCount()})) {
    stack_.clear();
    visited_.clear();
  }

  // Marks are taken back when the search ends, so the bit set is clear
  // between searches; clearing the range v … N−1 on every call instead made
  // each search cost O(N) and a whole coding pass O(N²).
  EdgeWing Run() {
    const EdgeWing wing = Search();
    for (VertexIndex x : visited_) mesh_.bits.Clear(x);
    return wing;
  }

 private:
  EdgeWing Search() {
    Enter(std::min(a_, b_));
    while (!stack_.empty()) {
      Triangle triangle;
      if (!NextTriangle(stack_.back(), triangle)) {
        stack_.pop_back();  // this vertex found nothing: its caller goes on
        continue;
      }
      const int edge = ContainingEdge(triangle);
      if (edge >= 0) {
        if (triangle.dependency <= v_) return {triangle.dependency, triangle.corners[(edge + 2) % 3]};
        // Replaced by what its dependency inserts: the search continues there
        // instead of here.
        stack_.pop_back();
        Enter(triangle.dependency);
      } else if (triangle.dependency > v_ && Touches(triangle)) {
        Enter(triangle.dependency);
      }
    }
    return {v_, v_};
  }

  // Starts searching x unless it is a base vertex, not above v, or visited.
  void Enter(VertexIndex x) {
    if (x <= v_ || x >= limit_ || mesh_.bits.Test(x)) return;
    mesh_.bits.Set(x);
    visited_.push_back(x);
    stack_.push_back({x, mesh_.Record(x)});
  }

  // The next triangle of the frame's record, in stored group order and
  // ascending mask bits; false when there is none left.
  static bool NextTriangle(Frame& frame, Triangle& triangle) {
    const int ringSize = frame.record.RingSize();
    for (; frame.group < frame.record.GroupCount(); ++frame.group, frame.position = 0) {
      const DependencyGroup group = frame.record.Group(frame.group);
      while (frame.position < ringSize) {
        const int j = frame.position++;
        if (!group.Has(j)) continue;
        triangle = {{frame.x, frame.record.Neighbour(j), frame.record.Neighbour(j + 1)}, group.dependency};
        return true;
      }
    }
    return false;
  }

  // The index i of the triangle's directed edge corners[i]→corners[i+1]
  // that runs b→a, or -1. The corner off edge i is corners[i+2].
  int ContainingEdge(const Triangle& triangle) const {
    for (int i = 0; i < 3; ++i)
      if (triangle.corners[i] == b_ && triangle.corners[(i + 1) % 3] == a_) return i;
    return -1;
  }

  // Whether a directed edge of the triangle starts at b or ends at a.
  bool Touches(const Triangle& triangle) const {
    for (int i = 0; i < 3; ++i)
      if (triangle.corners[i] == b_ || triangle.corners[(i + 1) % 3] == a_) return true;
    return false;
  }

  QXPck& mesh_;
  const VertexIndex a_, b_, v_;
  const VertexIndex limit_;  // vertices at or above it are never searched
  // A search runs once or twice per decoded vertex and never nests, so each
  // thread keeps one pair of vectors and their room instead of allocating.
  static thread_local std::vector<Frame> stack_;
  static thread_local std::vector<VertexIndex> visited_;  // marked in the bit set, to clear at the end
};

thread_local std::vector<Frame> WingSearch::stack_;
thread_local std::vector<VertexIndex> WingSearch::visited_;

}  // namespace

EdgeWing EdgeDependency(QXPck& mesh, VertexIndex a, VertexIndex b, VertexIndex v) {
  return WingSearch(mesh, a, b, v).Run();
}

}  // namespace qx
