// MeshPacker: codes one fan mesh for a scene file — its header, then one
// vertex per step, N-1 down to 1. The scene keeps one packer per mesh and
// interleaves their steps in one shared bit channel.
//
// Mesh header (object stream):
//   the QXPck record (empty body) | N: u32 | S: k bytes, k = bytes needed for
//   N-1 (0 when N = 1) | connectivity coder record | geometry coder record
//   (with its predictor) | weight: f32
// One step in the bit channel: the ring code of v, then its position code.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "fan/coder_interfaces.h"
#include "fan/metrics.h"

namespace qx {

class BitChannel;
class ObjectReader;
class ObjectWriter;
class QXPck;

// Whether meshes are shown while they load (the progressive loader sets it):
// each decoded vertex is then measured at once instead of after the last one.
void SetProgressiveLoading(bool progressive);
bool ProgressiveLoading();

// The most vertices a scene file may declare across its meshes: the arrays of
// a mesh are reserved from its header, before any of its bytes have arrived.
inline constexpr int64_t kMaxSceneVertices = int64_t{1} << 24;

class MeshPacker {
 public:
  // A writing packer; missing coders become GeometryRaw and
  // ConnectivityModelo2 in WriteHeader.
  MeshPacker(std::unique_ptr<ConnectivityCoder> connectivity, std::unique_ptr<GeometryCoder> geometry);
  // A reading packer; `threaded` measures each vertex as it is decoded.
  explicit MeshPacker(bool threaded);
  ~MeshPacker();

  // Writes the header of `mesh` (not owned; must outlive the packer). False
  // for no mesh, N < 1, or a failed write.
  bool WriteHeader(QXPck* mesh, ObjectWriter& out);
  // Codes the next vertex. False when the mesh is done or on failure.
  bool WriteStep(BitChannel& bits);

  // Reads a header and returns the new mesh, ready for its steps (N empty
  // records, pending count N), or none. The caller owns the mesh. Keep the
  // packer alive until the whole scene record is read, even after a failed
  // header: objects it read may still be referred to.
  // `vertexBudget` is what the scene may still declare; it shrinks by N.
  QXPck* ReadHeader(ObjectReader& in, int64_t& vertexBudget);
  // Decodes the next vertex and publishes it under the mesh lock. False when
  // the mesh is complete (then measured and finalised) or when decoding
  // fails (the mesh keeps what was decoded).
  bool ReadStep(BitChannel& bits);

  // Vertices not yet stepped: N after the header, counting down.
  int32_t Remaining() const { return remaining_; }
  QXPck* Mesh() const { return mesh_; }

 private:
  void AddBits(int statBelow, int statAbove, int64_t bits, int32_t v);
  bool ReadCoders(ObjectReader& in);
  void NoteCoders();

  std::unique_ptr<ConnectivityCoder> connectivity_;
  std::unique_ptr<GeometryCoder> geometry_;
  std::unique_ptr<QXPck> unclaimed_;  // a mesh whose header failed
  QXPck* mesh_ = nullptr;
  bool threaded_ = false;
  int32_t remaining_ = 0;
  RegionBoxes regions_;  // threaded reading only
  std::vector<PlainLink> ring_;  // the ring being read, kept for its room
};

}  // namespace qx
