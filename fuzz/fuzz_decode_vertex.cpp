// Fuzzes the geometry decoders on a small mesh: the first byte picks the
// coder, predictor and error bound, the rest is the bit stream. The coder is
// the one a reader gets from the writer's stored record; positions are
// decoded from the top vertex down, each vertex's ring in place first, as the
// mesh packer has it.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fan/bit_channel.h"
#include "fan/geometry_coders.h"
#include "fuzz/fuzz_support.h"
#include "stream/object_reader.h"
#include "stream/registry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::RegisterStandardClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::unique_ptr<qx::GeometryCoder> coder =
      qx::fuzzing::StoredGeometryCoder(data[0], qx::fuzzing::kGeometryChoiceCount, &qx::fuzzing::GeometryChoice);
  std::unique_ptr<qx::QXPck> mesh = qx::fuzzing::EmptyLikeReference();
  qx::MemoryObjectReader in({data + 1, size - 1});
  qx::BitChannel bits(in);
  for (qx::VertexIndex v = mesh->vertexCount - 1; v >= 1; --v) {
    mesh->records[static_cast<size_t>(v)] = qx::fuzzing::ReferenceRecord(v);
    qx::Vector position;
    if (!coder->DecodeVertex(bits, *mesh, v, position)) break;
    mesh->vertices[static_cast<size_t>(v)].position = position;
    mesh->pendingCount = v;
  }
  return 0;
}
