// Drives the coders of one mesh the way the mesh packer does (ring, then
// position, from N-1 down to 1), so the coder tests can check what a reader
// rebuilds against what the writer left.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "fan/bit_channel.h"
#include "fan/coder_interfaces.h"
#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx::testing_coders {

struct EncodedMesh {
  std::vector<uint8_t> bytes;
  std::vector<FanRecord> records;  // per vertex, the record of the ring that was coded
};

inline EncodedMesh EncodeMesh(QXPck& mesh, ConnectivityCoder& connectivity, GeometryCoder& geometry) {
  MemoryObjectWriter out;
  BitChannel bits(out);
  EncodedMesh encoded;
  encoded.records.resize(static_cast<size_t>(mesh.vertexCount));
  for (VertexIndex v = mesh.vertexCount - 1; v >= 1; --v) {
    FaceList ring = RecordLinks(mesh.Record(v), false);
    CloseRing(v, ring);
    EXPECT_TRUE(connectivity.EncodeRing(bits, mesh, v, ring)) << "ring of " << v;
    encoded.records[static_cast<size_t>(v)] = BuildRecord(v, ring);
    EXPECT_TRUE(geometry.EncodeVertex(bits, mesh, v)) << "position of " << v;
  }
  EXPECT_TRUE(bits.Finish());
  encoded.bytes = out.Bytes();
  return encoded;
}

// A mesh ready to be decoded into: the vertex count and split index of
// `like`, no records, nothing decoded yet.
inline std::unique_ptr<QXPck> EmptyLike(const QXPck& like) {
  auto mesh = std::make_unique<QXPck>();
  mesh->Create(like.vertexCount);
  mesh->splitIndex = like.splitIndex;
  mesh->baseCount = like.baseCount;
  mesh->pendingCount = like.vertexCount;
  return mesh;
}

// Decodes until the stream ends or a coder fails, as the mesh packer does;
// returns the lowest vertex decoded (N when none).
inline VertexIndex DecodeMesh(std::span<const uint8_t> bytes, QXPck& mesh, ConnectivityCoder& connectivity,
                              GeometryCoder& geometry) {
  MemoryObjectReader in(bytes);
  BitChannel bits(in);
  for (VertexIndex v = mesh.vertexCount - 1; v >= 1; --v) {
    FaceList ring;
    if (!connectivity.DecodeRing(bits, mesh, v, ring)) break;
    std::optional<FanRecord> record = TryBuildRecord(v, ring, mesh.vertexCount);
    if (!record) break;
    mesh.records[static_cast<size_t>(v)] = std::move(*record);
    Vector position;
    if (!geometry.DecodeVertex(bits, mesh, v, position)) break;
    mesh.vertices[static_cast<size_t>(v)].position = position;
    mesh.pendingCount = v;
  }
  return mesh.pendingCount;
}

// Expects the decoded vertices (from `lowest` up) to carry exactly the
// records that were coded and the positions the writer left in its mesh.
inline void ExpectDecodedAsWritten(const EncodedMesh& encoded, const QXPck& written, const QXPck& decoded,
                                   VertexIndex lowest) {
  for (VertexIndex v = std::max(lowest, 1); v < written.vertexCount; ++v) {
    const auto want = encoded.records[static_cast<size_t>(v)].Bytes();
    const auto got = decoded.records[static_cast<size_t>(v)].Bytes();
    ASSERT_TRUE(std::equal(want.begin(), want.end(), got.begin(), got.end())) << "record of " << v;
    ASSERT_EQ(written.vertices[static_cast<size_t>(v)].position, decoded.vertices[static_cast<size_t>(v)].position)
        << "position of " << v;
  }
}

// A stored object written to a stream and read back: what a reader of the
// mesh header gets.
template <class T>
std::unique_ptr<T> ThroughStream(T& object) {
  MemoryObjectWriter out;
  EXPECT_TRUE(out.WriteObject(&object));
  MemoryObjectReader in(out.Bytes());
  return std::unique_ptr<T>(in.ReadNewObjectAs<T>());
}

}  // namespace qx::testing_coders
