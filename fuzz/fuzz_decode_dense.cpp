// Fuzzes the dense decoders on a small mesh, as the mesh packer drives them:
// the first byte picks the predictor and the precision of the stored
// geometry record (its value modulo the choices), by bit 0x20 the geometry
// coder's first version, and by its top bits the connectivity coder's
// version (0x80 the first, 0x40 the second; else the current one): readers
// still take the older ones. The rest is the bit stream. Each vertex's ring
// is decoded, checked and stored, then its position, from the top vertex
// down until the stream ends or a decoder refuses.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "fan/bit_channel.h"
#include "fan/dense_connectivity.h"
#include "fan/dense_geometry.h"
#include "fan/fan_record.h"
#include "fuzz/fuzz_support.h"
#include "stream/object_reader.h"
#include "stream/registry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::RegisterStandardClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::unique_ptr<qx::GeometryCoder> geometry = qx::fuzzing::StoredDenseGeometryCoder(data[0]);
  std::unique_ptr<qx::ConnectivityCoder> connectivity(static_cast<qx::ConnectivityCoder*>(
      (data[0] & 0x80   ? qx::ConnectivityDense::kFirstVersion
       : data[0] & 0x40 ? qx::ConnectivityDense::kSecondVersion
                        : qx::ConnectivityDense::kClass)
          .Factory()()));
  std::unique_ptr<qx::QXPck> mesh = qx::fuzzing::EmptyLikeReference();
  qx::MemoryObjectReader in({data + 1, size - 1});
  qx::BitChannel bits(in);
  std::vector<qx::PlainLink> ring;
  for (qx::VertexIndex v = mesh->vertexCount - 1; v >= 1; --v) {
    if (!connectivity->DecodeRing(bits, *mesh, v, ring)) break;
    std::optional<qx::FanRecord> record = qx::TryBuildRecord(v, ring, mesh->vertexCount);
    if (!record) break;
    mesh->records[static_cast<size_t>(v)] = std::move(*record);
    qx::Vector position;
    if (!geometry->DecodeVertex(bits, *mesh, v, position)) break;
    mesh->vertices[static_cast<size_t>(v)].position = position;
    mesh->pendingCount = v;
  }
  return 0;
}
