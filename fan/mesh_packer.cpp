#include "fan/mesh_packer.h"

#include <climits>

#include "common/diagnostics.h"
#include "fan/bit_channel.h"
#include "fan/fan_record.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {
namespace {

std::atomic<bool> progressiveLoading{false};

// Bytes that hold N-1, the largest split index.
int SplitIndexWidth(int32_t vertexCount) {
  const uint32_t largest = static_cast<uint32_t>(vertexCount - 1);
  if (largest >= (1u << 24)) return 4;
  if (largest >= (1u << 16)) return 3;
  if (largest >= (1u << 8)) return 2;
  return largest ? 1 : 0;
}

}  // namespace

void SetProgressiveLoading(bool progressive) { progressiveLoading = progressive; }
bool ProgressiveLoading() { return progressiveLoading; }

MeshPacker::MeshPacker(std::unique_ptr<ConnectivityCoder> connectivity, std::unique_ptr<GeometryCoder> geometry)
    : connectivity_(std::move(connectivity)), geometry_(std::move(geometry)) {}

MeshPacker::MeshPacker(bool threaded) : threaded_(threaded) {}

MeshPacker::~MeshPacker() = default;

void MeshPacker::AddBits(int statBelow, int statAbove, int64_t bits, int32_t v) {
  mesh_->bitStats[v < mesh_->splitIndex ? statBelow : statAbove] += static_cast<int32_t>(bits);
}

bool MeshPacker::WriteHeader(QXPck* mesh, ObjectWriter& out) {
  if (mesh == nullptr || !out.WriteObject(mesh)) return false;
  mesh_ = mesh;
  if (!geometry_) geometry_ = MakeGeometryCoder(CoderChoice{0, 0, 1, 0}, *mesh);
  if (!connectivity_) connectivity_ = MakeConnectivityCoder(CoderChoice{0, 0, 1, 0}, *mesh);
  const int32_t count = mesh->vertexCount;
  remaining_ = count;
  if (count < 1 || !out.WriteU32(static_cast<uint32_t>(count))) return false;
  uint8_t split[4];
  for (int i = 0; i < 4; ++i) split[i] = static_cast<uint8_t>(static_cast<uint32_t>(mesh->splitIndex) >> (8 * i));
  const size_t width = SplitIndexWidth(count);
  if (out.WriteBytes(split, width) != width) return false;
  if (!out.WriteObject(connectivity_.get()) || !out.WriteObject(geometry_.get()) || !out.WriteF32(mesh->weight))
    return false;
  for (int32_t& stat : mesh->bitStats) stat = 0;
  NoteCoders();
  return true;
}

void MeshPacker::NoteCoders() {
  mesh_->connectivityClass = connectivity_->GetClass();
  mesh_->geometryClass = geometry_->GetClass();
}

bool MeshPacker::WriteStep(BitChannel& bits) {
  const VertexIndex v = --remaining_;
  if (v < 1) return false;
  const FaceList ring = StoredRing(mesh_->Record(v), v);
  const uint64_t start = bits.TotalBits();
  if (!connectivity_->EncodeRing(bits, *mesh_, v, ring)) return false;
  const uint64_t afterRing = bits.TotalBits();
  AddBits(QXPck::kConnectivityBelow, QXPck::kConnectivityAbove, afterRing - start, v);
  if (!geometry_->EncodeVertex(bits, *mesh_, v)) return false;
  AddBits(QXPck::kGeometryBelow, QXPck::kGeometryAbove, bits.TotalBits() - afterRing, v);
  return true;
}

bool MeshPacker::ReadCoders(ObjectReader& in) {
  // Each packer owns its coders: a back reference to another mesh's coder
  // would share it, so only new records are taken.
  connectivity_.reset(in.ReadNewObjectAs<ConnectivityCoder>());
  geometry_.reset(in.ReadNewObjectAs<GeometryCoder>());
  return connectivity_ && geometry_ && in.ReadF32(mesh_->weight);
}

QXPck* MeshPacker::ReadHeader(ObjectReader& in, int64_t& vertexBudget) {
  // Until the header is complete the packer owns the mesh; a failed header
  // leaves it here, alive as long as the packer, because the stream's table
  // may still hand it out to later records of the same scene.
  unclaimed_.reset(in.ReadNewObjectAs<QXPck>());
  QXPck* mesh = unclaimed_.get();
  if (!mesh) return nullptr;
  mesh_ = mesh;
  int32_t count;
  if (!in.ReadI32(count) || count < 1 || count > vertexBudget) return nullptr;
  uint8_t split[4] = {0, 0, 0, 0};
  const size_t width = SplitIndexWidth(count);
  if (in.ReadBytes(split, width) != width) return nullptr;
  const int64_t splitIndex = int64_t{split[0]} | int64_t{split[1]} << 8 | int64_t{split[2]} << 16 |
                             int64_t{split[3]} << 24;
  if (splitIndex > count - 1 || !ReadCoders(in)) return nullptr;

  const float weight = mesh->weight;
  mesh->Create(count);
  mesh->weight = weight;
  mesh->splitIndex = static_cast<int32_t>(splitIndex);
  mesh->baseCount = count - mesh->splitIndex;
  mesh->pendingCount = count;
  mesh->records[0] = FanRecord::Empty();
  remaining_ = count;
  vertexBudget -= count;
  NoteCoders();
  if (threaded_) regions_.assign(count, Box{});
  return unclaimed_.release();
}

bool MeshPacker::ReadStep(BitChannel& bits) {
  const VertexIndex v = --remaining_;
  if (v <= 0) {
    mesh_->Lock();
    if (!threaded_) ComputeMetrics(*mesh_);
    Finalise(*mesh_);
    mesh_->pendingCount = 0;
    mesh_->Unlock();
    return false;
  }
  std::vector<PlainLink>& ring = ring_;
  const uint64_t start = bits.TotalBits();
  if (!connectivity_->DecodeRing(bits, *mesh_, v, ring)) return false;
  const uint64_t afterRing = bits.TotalBits();
  AddBits(QXPck::kConnectivityBelow, QXPck::kConnectivityAbove, afterRing - start, v);
  // A ring the file could not legally hold ends the mesh, not the program.
  std::optional<FanRecord> record = TryBuildRecord(v, ring, mesh_->vertexCount);
  if (!record) return false;
  // Records below the pending count are never read by the renderer, so v's
  // record can be stored before the lock.
  mesh_->records[v] = std::move(*record);
  Vector position;
  if (!geometry_->DecodeVertex(bits, *mesh_, v, position)) return false;

  mesh_->Lock();
  mesh_->vertices[v].position = position;
  AddBits(QXPck::kGeometryBelow, QXPck::kGeometryAbove, bits.TotalBits() - afterRing, v);
  if (threaded_) InsertVertex(*mesh_, v, INT_MAX, regions_);
  mesh_->pendingCount = v;
  mesh_->Unlock();
  return true;
}

}  // namespace qx
