// The body of a scene record (the layout of a .qxz / .qx4 file):
//   half extent (3 x f32), centre (3 x f32), N (u32),
//   N mesh headers,
//   the matrix chain, the material chain and the first root, as records,
//   the interleaved refinement bit stream and its final word.
#include <algorithm>

#include "fan/bit_channel.h"
#include "scene/object_reader.h"
#include "scene/object_writer.h"
#include "scene/scene_model.h"

namespace qx {
namespace {

bool WriteVector(ObjectWriter& out, Vector v) { return out.WriteF32(v.x) && out.WriteF32(v.y) && out.WriteF32(v.z); }

bool ReadVector(ObjectReader& in, Vector& v) { return in.ReadF32(v.x) && in.ReadF32(v.y) && in.ReadF32(v.z); }

int CountMeshes(const QXPck* mesh) {
  int count = 0;
  for (; mesh; mesh = mesh->next) ++count;
  return count;
}

}  // namespace

bool QXScene::Write(ObjectWriter& out) {
  const int meshCount = CountMeshes(meshes);
  // Mesh headers and their refinement steps are coded by the mesh packers,
  // which scenes with meshes need; without them only empty scenes are saved.
  if (meshCount > 0) return false;
  if (!WriteVector(out, box_.half) || !WriteVector(out, box_.centre) || !out.WriteU32(meshCount)) return false;
  if (!out.WriteObject(matrices) || !out.WriteObject(materials) || !out.WriteObject(roots)) return false;
  BitChannel bits(out);
  return bits.Finish();
}

bool QXScene::Read(ObjectReader& in) {
  const float recordSize = static_cast<float>(std::max<uint32_t>(in.RecordSize(), 1));
  auto updateProgress = [&] { progress = static_cast<float>(in.Tell()) / recordSize; };
  loading = true;
  qx::Box box;
  uint32_t meshCount;
  if (!ReadVector(in, box.half) || !ReadVector(in, box.centre) || !in.ReadU32(meshCount)) {
    loading = false;
    return false;
  }
  SetBox(box);
  // Mesh headers come with the mesh packers; until then a scene with meshes
  // is not readable.
  if (meshCount > 0) {
    loading = false;
    return false;
  }
  matrices = in.ReadObjectAs<QXMatrix>();
  updateProgress();
  materials = in.ReadObjectAs<QXMaterial>();
  updateProgress();
  roots = in.ReadObjectAs<QXHier>();
  updateProgress();
  loading = false;
  return true;
}

}  // namespace qx
