#include "fan/pck.h"

#include <cassert>

namespace qx {

const ClassDescriptor QXPck::kClass{"QXPck", &MakeDefault<QXPck>};

void QXPck::Create(int32_t count) {
  assert(count >= 0);
  const size_t n = static_cast<size_t>(count);
  bits.Reset(count);
  vertices.assign(n, FanVertex{});
  records.clear();
  records.resize(n);
  vertexCount = count;
  pendingCount = 0;
  splitIndex = 0;
  baseCount = 0;
  for (int32_t& stat : bitStats) stat = 0;
  recordBytes = finalTriangles = allTriangles = 0;
  group = 0;
  finalised = 0;
  box = Box{};
  weight = 0;
}

}  // namespace qx
