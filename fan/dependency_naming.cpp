#include "fan/dependency_naming.h"

#include <limits>

#include "fan/pck.h"

namespace qx {

std::vector<VertexIndex> NamingBlockTops(const QXPck& mesh) {
  const VertexIndex n = mesh.vertexCount;
  if (n < 2) return {};
  constexpr int32_t kNever = std::numeric_limits<int32_t>::max();
  std::vector<int32_t> namedAt(static_cast<size_t>(n), kNever);
  std::vector<uint8_t> named(static_cast<size_t>(n), 0);
  int32_t clock = 0;
  for (VertexIndex v = n - 1; v >= 1; --v)
    NameRingDependencies(mesh.Record(v), v, 0, named, [&](VertexIndex c) { namedAt[static_cast<size_t>(c)] = clock++; });

  std::vector<VertexIndex> tops{n - 1};
  int32_t lastNamed = -1;       // naming time of the block's last named vertex
  bool unnamedBelow = false;    // an unnamed vertex follows it in the block
  for (VertexIndex v = n - 1; v >= 1; --v) {
    const int32_t at = namedAt[static_cast<size_t>(v)];
    if (at == kNever) {
      unnamedBelow = true;
      continue;
    }
    if (at < lastNamed || unnamedBelow) {
      if (tops.back() != v) tops.push_back(v);
    }
    lastNamed = at;
    unnamedBelow = false;
  }
  return tops;
}

}  // namespace qx
