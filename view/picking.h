// Picking: the 32-bit selection names that stand for scene nodes while a
// frame is drawn, and the choice of the picked name from the hit records of
// the OpenGL selection buffer.
//
// A node's address does not fit in a 32-bit name, so every drawn object gets
// the next number of a table that lives until the next frame; the picking
// paint draws one frame and looks its names up in that frame's table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qx {

class QXHier;

class SelectionNames {
 public:
  // A fresh name for `node` (names start at 1; 0 is never given out).
  uint32_t NameOf(QXHier* node);
  // The node a name was given to in this frame; none for an unknown name.
  QXHier* NodeNamed(uint32_t name) const;
  // Forgets every name (at the start of each frame).
  void Clear() { nodes_.clear(); }
  size_t Size() const { return nodes_.size(); }

 private:
  std::vector<QXHier*> nodes_;
};

// The selection buffer's hit records, one after another: name count, minimum
// depth, maximum depth, then the names. Among the first `hitCount` records
// with at least one name, the one with the smallest minimum depth (compared
// as unsigned 32-bit values; the first of equals) wins, and its first name is
// returned. None when no record has a name, for a negative count (the buffer
// overflowed) and for records cut off by the end of the buffer.
std::optional<uint32_t> NearestHitName(std::span<const uint32_t> buffer, int hitCount);

}  // namespace qx
