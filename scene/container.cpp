// The body of a scene record (the layout of a .qxz / .qx4 file):
//   half extent (3 x f32), centre (3 x f32), N (u32),
//   N mesh headers,
//   the matrix chain, the material chain and the first root, as records,
//   the refinement bit stream, then its final word.
// The bit stream has no framing: the reader knows which mesh each step
// belongs to only by running the writer's schedule (same weights, same
// counts, same tie-break).
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "fan/bit_channel.h"
#include "fan/coding_order.h"
#include "fan/dense_connectivity.h"
#include "fan/mesh_packer.h"
#include "fan/pck.h"
#include "scene/scene_model.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {
namespace {

bool WriteVector(ObjectWriter& out, Vector v) { return out.WriteF32(v.x) && out.WriteF32(v.y) && out.WriteF32(v.z); }

bool ReadVector(ObjectReader& in, Vector& v) { return in.ReadF32(v.x) && in.ReadF32(v.y) && in.ReadF32(v.z); }

// The interleaving schedule: one item per mesh, kept in stepping order.
class SceneSchedule {
 public:
  void Add(std::unique_ptr<MeshPacker> packer, int orderIndex) {
    items_.push_back({std::move(packer), orderIndex, 0});
    Reprioritise(items_.back());
  }
  size_t Size() const { return items_.size(); }

  // Steps the first unfinished mesh while any is left: `step(packer)` true
  // keeps the mesh (moved down past every item that now comes first), false
  // retires it. `afterStep` runs after each step.
  template <class Step, class AfterStep>
  void Run(Step&& step, AfterStep&& afterStep) {
    InsertionSort();
    size_t first = 0;
    while (first < items_.size()) {
      if (step(*items_[first].packer)) {
        Reprioritise(items_[first]);
        for (size_t i = first; i + 1 < items_.size() && Precedes(items_[i + 1], items_[i]); ++i)
          std::swap(items_[i], items_[i + 1]);
      } else {
        ++first;
      }
      afterStep();
    }
  }

 private:
  struct Item {
    std::unique_ptr<MeshPacker> packer;
    int orderIndex;
    float priority;
  };

  // weight / max(1, vertices stepped so far): a large mesh refines first and
  // each mesh yields as its steps accumulate.
  static void Reprioritise(Item& item) {
    const QXPck* mesh = item.packer->Mesh();
    const int32_t stepped = mesh->vertexCount - item.packer->Remaining();
    item.priority = mesh->weight / static_cast<float>(std::max(1, stepped));
  }

  static bool Precedes(const Item& a, const Item& b) {
    if (a.priority != b.priority) return a.priority > b.priority;
    return a.orderIndex > b.orderIndex;
  }

  // Insertion sort needs no strict weak order, so weights read from a file
  // (NaN included) cannot break it; the writer and reader sort alike.
  void InsertionSort() {
    for (size_t i = 1; i < items_.size(); ++i)
      for (size_t j = i; j > 0 && Precedes(items_[j], items_[j - 1]); --j) std::swap(items_[j], items_[j - 1]);
  }

  std::vector<Item> items_;
};

int CountMeshes(const QXPck* mesh) {
  int count = 0;
  for (; mesh; mesh = mesh->next) ++count;
  return count;
}

template <class T>
std::unordered_set<const T*> ChainMembers(const T* first) {
  std::unordered_set<const T*> members;
  for (; first && members.insert(first).second; first = first->next) {
  }
  return members;
}

}  // namespace

bool QXScene::Write(ObjectWriter& out) {
  const int meshCount = CountMeshes(meshes);
  if (!WriteVector(out, box_.half) || !WriteVector(out, box_.centre) || !out.WriteU32(meshCount)) return false;
  const CoderChoice choice{PredMode, GeoMode, ConnectMode, BitsError};
  SceneSchedule schedule;
  int orderIndex = meshCount;
  for (QXPck* mesh = meshes; mesh; mesh = mesh->next) {
    // The dense coders want their own vertex order (coding_order.h). A mesh
    // last written or read with them has it already.
    if (ConnectMode == kConnectModeDense && mesh->connectivityClass != &ConnectivityDense::kClass)
      RenumberForDenseCoding(*mesh);
    auto packer = std::make_unique<MeshPacker>(MakeConnectivityCoder(choice, *mesh), MakeGeometryCoder(choice, *mesh));
    if (!packer->WriteHeader(mesh, out)) return false;
    schedule.Add(std::move(packer), --orderIndex);
  }
  if (!out.WriteObject(matrices) || !out.WriteObject(materials) || !out.WriteObject(roots)) return false;
  BitChannel bits(out);
  schedule.Run([&](MeshPacker& packer) { return packer.WriteStep(bits); }, [] {});
  return bits.Finish();
}

void QXScene::DropForeignReferences() {
  const auto knownMatrices = ChainMembers<QXMatrix>(matrices);
  const auto knownMaterials = ChainMembers<QXMaterial>(materials);
  const auto knownMeshes = ChainMembers<QXPck>(meshes);
  ForEachDistinctNode(roots, [&](QXHier* node) {
    if (!knownMatrices.contains(node->matrix)) node->matrix = nullptr;
    if (!knownMaterials.contains(node->material)) node->material = nullptr;
    if (!knownMeshes.contains(node->mesh)) node->mesh = nullptr;
  });
}

void QXScene::ClaimStructure(ObjectReader& in) {
  for (QXMatrix* item = matrices; item; item = item->next) in.Claim(item);
  for (QXMaterial* item = materials; item; item = item->next) in.Claim(item);
  ForEachDistinctNode(roots, [&](QXHier* node) { in.Claim(node); });
}

bool QXScene::Read(ObjectReader& in) {
  // A scene is always the top-level record: one nested inside another record
  // is left unread, its bytes skipped (reading it would claim objects the
  // real scene refers to).
  if (in.Depth() > 1) return true;
  const float recordSize = static_cast<float>(std::max<uint32_t>(in.RecordSize(), 1));
  auto updateProgress = [&] { progress = static_cast<float>(in.Tell()) / recordSize; };
  loading = true;
  qx::Box box;
  uint32_t meshCount;
  if (!ReadVector(in, box.half) || !ReadVector(in, box.centre) || !in.ReadU32(meshCount)) {
    loading = false;
    structureReady = true;
    return false;
  }
  SetBox(box);

  // Packers whose header failed stay alive to the end of the record: the
  // stream's table may still refer to what they read.
  SceneSchedule schedule;
  std::vector<std::unique_ptr<MeshPacker>> failed;
  std::vector<QXPck*> readMeshes;
  int64_t vertexBudget = kMaxSceneVertices;
  for (uint32_t k = meshCount; k >= 1 && !in.Exhausted(); --k) {
    auto packer = std::make_unique<MeshPacker>(ProgressiveLoading());
    if (QXPck* mesh = packer->ReadHeader(in, vertexBudget)) {
      readMeshes.push_back(mesh);
      schedule.Add(std::move(packer), static_cast<int>(k - 1));
    } else {
      failed.push_back(std::move(packer));
    }
    updateProgress();
  }
  for (auto it = readMeshes.rbegin(); it != readMeshes.rend(); ++it) AddMesh(*it);

  matrices = in.ReadObjectAs<QXMatrix>();
  updateProgress();
  materials = in.ReadObjectAs<QXMaterial>();
  updateProgress();
  roots = in.ReadObjectAs<QXHier>();
  updateProgress();
  DropForeignReferences();
  ClaimStructure(in);
  // From here on only the meshes' contents change, under their locks.
  structureReady = true;

  BitChannel bits(in);
  schedule.Run([&](MeshPacker& packer) { return packer.ReadStep(bits); }, updateProgress);
  loading = false;
  return true;
}

}  // namespace qx
