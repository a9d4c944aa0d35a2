// QXPck: one fan mesh, the progressive representation of one mesh.
// This header holds what the scene, the container and the renderer use; the
// fan records themselves are added by the fan-structure module.
#pragma once

#include <cstdint>
#include <semaphore>

#include "common/geometry.h"
#include "scene/persistent.h"

namespace qx {

class QXPck final : public PersistentObject {
 public:
  static const ClassDescriptor kClass;  // "QXPck"; the record body is empty
  QXPck() = default;
  QXPck(const QXPck&) = delete;
  QXPck& operator=(const QXPck&) = delete;
  const ClassDescriptor* GetClass() const override { return &kClass; }

  // The mesh semaphore: the decoder holds it while it inserts a vertex, the
  // renderer while it draws the mesh.
  void Lock() { semaphore_.acquire(); }
  void Unlock() { semaphore_.release(); }

  // Bit statistics, split at the split index: geometry below it, geometry at
  // or above it, connectivity below it, connectivity at or above it.
  enum BitStat { kGeometryBelow, kGeometryAbove, kConnectivityBelow, kConnectivityAbove };
  int32_t bitStats[4] = {0, 0, 0, 0};

  QXPck* next = nullptr;       // link of the scene's mesh list
  int32_t vertexCount = 0;     // vertices of the complete mesh
  int32_t pendingCount = 0;    // vertices not yet decoded (0 when complete)
  int32_t splitIndex = 0;      // 0 <= splitIndex <= vertexCount - 1
  Box box;                     // bounding box of all vertex positions
  float weight = 0;            // bounding radius; the container's priority weight

 private:
  std::binary_semaphore semaphore_{1};
};

}  // namespace qx
