// Fuzzes the connectivity decoders on a small mesh: the first byte picks the
// coder (raw or predicted), the rest is the bit stream. Rings are decoded
// from the top vertex down, each checked and stored as the mesh packer does,
// until the stream ends or a ring is refused.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "fan/bit_channel.h"
#include "fan/connectivity.h"
#include "fan/fan_record.h"
#include "fuzz/fuzz_support.h"
#include "stream/object_reader.h"

namespace {

std::unique_ptr<qx::ConnectivityCoder> MakeDecoder(uint8_t selector) {
  if (selector % 2 == 0) return std::make_unique<qx::ConnectivityRaw>();
  return std::make_unique<qx::ConnectivityModelo2>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::unique_ptr<qx::ConnectivityCoder> coder = MakeDecoder(data[0]);
  std::unique_ptr<qx::QXPck> mesh = qx::fuzzing::EmptyLikeReference();
  qx::MemoryObjectReader in({data + 1, size - 1});
  qx::BitChannel bits(in);
  for (qx::VertexIndex v = mesh->vertexCount - 1; v >= 1; --v) {
    qx::FaceList ring;
    if (!coder->DecodeRing(bits, *mesh, v, ring)) break;
    std::optional<qx::FanRecord> record = qx::TryBuildRecord(v, ring, mesh->vertexCount);
    if (!record) break;
    mesh->records[static_cast<size_t>(v)] = std::move(*record);
    mesh->pendingCount = v;
  }
  return 0;
}
