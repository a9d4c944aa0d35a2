#include "view/picking.h"

namespace qx {

uint32_t SelectionNames::NameOf(QXHier* node) {
  nodes_.push_back(node);
  return static_cast<uint32_t>(nodes_.size());
}

QXHier* SelectionNames::NodeNamed(uint32_t name) const {
  return name >= 1 && name <= nodes_.size() ? nodes_[name - 1] : nullptr;
}

std::optional<uint32_t> NearestHitName(std::span<const uint32_t> buffer, int hitCount) {
  std::optional<uint32_t> nearestName;
  uint32_t nearestDepth = 0;
  size_t at = 0;
  for (int hit = 0; hit < hitCount; ++hit) {
    if (buffer.size() - at < 3) break;
    const uint32_t names = buffer[at];
    const uint32_t minDepth = buffer[at + 1];
    if (buffer.size() - at - 3 < names) break;
    if (names > 0 && (!nearestName || minDepth < nearestDepth)) {
      nearestName = buffer[at + 3];
      nearestDepth = minDepth;
    }
    at += 3 + names;
  }
  return nearestName;
}

}  // namespace qx
