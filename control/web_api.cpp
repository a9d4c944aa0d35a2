// The functions the script calls (control/vermelle_wasm.mjs wraps them).
// One decoder per module instance. Pointers handed out point into the
// module's memory and stay valid until the next call that changes the scene
// or the same mesh's geometry.
#include <emscripten/emscripten.h>

#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "control/mesh_geometry.h"
#include "control/web_decoder.h"
#include "fan/mesh_packer.h"
#include "fan/metrics.h"
#include "scene/scene_model.h"
#include "stream/registry.h"

namespace qx {
namespace {

// One placement of a mesh: the path from a root to a node with a mesh.
struct InstanceRecord {
  int32_t mesh;      // index in the mesh list
  int32_t material;  // index in the material list, or -1
  float world[16];   // column-major world matrix
};

struct MaterialRecord {
  float ambient[4];
  float diffuse[4];
  float specular[4];
  float shininess;
};

// Mesh facts in the layout the script reads.
struct MeshRecord {
  int32_t vertexCount;
  int32_t pendingCount;
  int32_t splitIndex;
  int32_t finalised;
  float centre[3];
  float half[3];
  float weight;
};

// Result of qx_mesh_geometry, read by the script.
struct GeometryRecord {
  const FanVertex* vertices;
  int32_t vertexCount;
  const uint32_t* indices;
  int32_t indexCount;
  int32_t flatFrom;  // the flat fans' triangles begin at this index
  int32_t frustumResult;
};

// A hostile hierarchy can multiply paths (shared children); the walk stops
// after this many instances or this many nodes visited.
constexpr size_t kMaxInstances = 1 << 16;
constexpr size_t kMaxVisits = 1 << 20;

struct Viewer {
  WebDecoder decoder;
  std::vector<QXPck*> meshes;
  std::vector<MaterialRecord> materials;
  std::vector<InstanceRecord> instances;
  std::unordered_map<const QXPck*, MeshGeometry> geometry;
  MeshRecord meshRecord{};
  GeometryRecord geometryRecord{};
  bool listed = false;  // meshes, materials and instances are up to date

  void Forget() {
    meshes.clear();
    materials.clear();
    instances.clear();
    geometry.clear();
    listed = false;
  }
};

Viewer& TheViewer() {
  static Viewer viewer;
  return viewer;
}

void ListMaterials(const QXScene& scene, Viewer& viewer, std::unordered_map<const QXMaterial*, int32_t>& index) {
  for (const QXMaterial* m = scene.materials; m && !index.contains(m); m = m->next) {
    index.emplace(m, static_cast<int32_t>(viewer.materials.size()));
    MaterialRecord record{};
    std::memcpy(record.ambient, m->ambient.data(), sizeof record.ambient);
    std::memcpy(record.diffuse, m->diffuse.data(), sizeof record.diffuse);
    std::memcpy(record.specular, m->specular.data(), sizeof record.specular);
    record.shininess = m->shininess;
    viewer.materials.push_back(record);
  }
}

struct InstanceWalk {
  Viewer& viewer;
  const std::unordered_map<const QXPck*, int32_t>& meshIndex;
  const std::unordered_map<const QXMaterial*, int32_t>& materialIndex;
  size_t visits = 0;

  // Depth first over every path, as the native decode command walks it; a
  // node without a material takes its parent's, as the renderer draws it.
  void Walk(const QXHier* node, const Matrix& parentWorld, const QXMaterial* inherited) {
    for (; node && viewer.instances.size() < kMaxInstances && ++visits <= kMaxVisits; node = node->nextSibling) {
      const Matrix local = node->matrix ? node->matrix->values : IdentityMatrix();
      const Matrix world = MatrixProduct(local, parentWorld);
      const QXMaterial* material = node->material ? node->material : inherited;
      if (node->mesh) {
        InstanceRecord record{meshIndex.at(node->mesh), -1, {}};
        if (auto it = materialIndex.find(material); it != materialIndex.end()) record.material = it->second;
        std::memcpy(record.world, world.data(), sizeof record.world);
        viewer.instances.push_back(record);
      }
      Walk(node->firstChild, world, material);
    }
  }
};

// Lists the scene's meshes, materials and instances once its structure is
// read; they do not change afterwards.
void ListScene(Viewer& viewer) {
  const QXScene* scene = viewer.decoder.Scene();
  if (viewer.listed || !scene || !scene->structureReady) return;
  std::unordered_map<const QXPck*, int32_t> meshIndex;
  for (QXPck* mesh = scene->meshes; mesh && !meshIndex.contains(mesh); mesh = mesh->next) {
    meshIndex.emplace(mesh, static_cast<int32_t>(viewer.meshes.size()));
    viewer.meshes.push_back(mesh);
  }
  std::unordered_map<const QXMaterial*, int32_t> materialIndex;
  ListMaterials(*scene, viewer, materialIndex);
  InstanceWalk{viewer, meshIndex, materialIndex}.Walk(scene->roots, IdentityMatrix(), nullptr);
  viewer.listed = true;
}

QXPck* MeshAt(int32_t index) {
  Viewer& viewer = TheViewer();
  ListScene(viewer);
  if (index < 0 || static_cast<size_t>(index) >= viewer.meshes.size()) return nullptr;
  return viewer.meshes[static_cast<size_t>(index)];
}

}  // namespace
}  // namespace qx

using qx::TheViewer;

extern "C" {

EMSCRIPTEN_KEEPALIVE void qx_init() {
  qx::RegisterStandardClasses();
  // Every mesh is shown while it loads: measure each vertex as it comes.
  qx::SetProgressiveLoading(true);
}

// Whether each vertex is measured as it is decoded (the default, for a scene
// shown while it loads) or each mesh once when complete.
EMSCRIPTEN_KEEPALIVE void qx_set_progressive(int32_t progressive) { qx::SetProgressiveLoading(progressive != 0); }

// StartPipe: drops the scene (the caller has let any previous run end) and
// runs the coroutine, which suspends at once waiting for bytes.
EMSCRIPTEN_KEEPALIVE void qx_start_pipe() {
  auto& viewer = TheViewer();
  // A suspended run still writes into the scene: the script ends it first.
  if (viewer.decoder.State() == qx::DecoderState::kWaiting) return;
  viewer.Forget();
  viewer.decoder.StartPipe();
  viewer.decoder.Run();
}

// A buffer of `count` bytes in the module's memory for the script to fill.
EMSCRIPTEN_KEEPALIVE uint8_t* qx_alloc(int32_t count) { return new (std::nothrow) uint8_t[count > 0 ? count : 1]; }
EMSCRIPTEN_KEEPALIVE void qx_free(uint8_t* buffer) { delete[] buffer; }

// Feed: queues the bytes; the script then resumes the coroutine.
EMSCRIPTEN_KEEPALIVE int32_t qx_feed(const uint8_t* bytes, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(TheViewer().decoder.Feed({bytes, static_cast<size_t>(count)}));
}

EMSCRIPTEN_KEEPALIVE void qx_close_pipe() { TheViewer().decoder.ClosePipe(); }

// SetScene(none): only while the coroutine is not suspended.
EMSCRIPTEN_KEEPALIVE void qx_release_scene() {
  auto& viewer = TheViewer();
  if (viewer.decoder.State() == qx::DecoderState::kWaiting) return;
  viewer.Forget();
  viewer.decoder.SetSceneNone();
}

EMSCRIPTEN_KEEPALIVE int32_t qx_state() { return static_cast<int32_t>(TheViewer().decoder.State()); }
EMSCRIPTEN_KEEPALIVE int32_t qx_has_scene() { return TheViewer().decoder.Scene() != nullptr; }
EMSCRIPTEN_KEEPALIVE double qx_bytes_read() { return static_cast<double>(TheViewer().decoder.BytesRead()); }
EMSCRIPTEN_KEEPALIVE double qx_bytes_fed() { return static_cast<double>(TheViewer().decoder.BytesFed()); }

// The scene's box: centre then half extent (6 floats); none before it is read.
EMSCRIPTEN_KEEPALIVE const float* qx_scene_box() {
  static float box[6];
  const qx::QXScene* scene = TheViewer().decoder.Scene();
  if (!scene || !scene->structureReady) return nullptr;
  const qx::Box& b = scene->Box();
  const float values[6] = {b.centre.x, b.centre.y, b.centre.z, b.half.x, b.half.y, b.half.z};
  std::memcpy(box, values, sizeof box);
  return box;
}

EMSCRIPTEN_KEEPALIVE int32_t qx_mesh_count() {
  auto& viewer = TheViewer();
  qx::ListScene(viewer);
  return static_cast<int32_t>(viewer.meshes.size());
}
EMSCRIPTEN_KEEPALIVE int32_t qx_instance_count() {
  qx::ListScene(TheViewer());
  return static_cast<int32_t>(TheViewer().instances.size());
}
EMSCRIPTEN_KEEPALIVE const qx::InstanceRecord* qx_instances() { return TheViewer().instances.data(); }
EMSCRIPTEN_KEEPALIVE int32_t qx_material_count() {
  qx::ListScene(TheViewer());
  return static_cast<int32_t>(TheViewer().materials.size());
}
EMSCRIPTEN_KEEPALIVE const qx::MaterialRecord* qx_materials() { return TheViewer().materials.data(); }

EMSCRIPTEN_KEEPALIVE const qx::MeshRecord* qx_mesh_info(int32_t index) {
  const qx::QXPck* mesh = qx::MeshAt(index);
  if (!mesh) return nullptr;
  qx::MeshRecord& r = TheViewer().meshRecord;
  r = {mesh->vertexCount, mesh->pendingCount, mesh->splitIndex, mesh->finalised,
       {mesh->box.centre.x, mesh->box.centre.y, mesh->box.centre.z},
       {mesh->box.half.x, mesh->box.half.y, mesh->box.half.z}, mesh->weight};
  return &r;
}

// The level a tolerance in 0..1 asks for: floor(N × tolerance).
EMSCRIPTEN_KEEPALIVE int32_t qx_level_from_tolerance(int32_t index, float tolerance) {
  const qx::QXPck* mesh = qx::MeshAt(index);
  return mesh ? qx::LevelFromTolerance(*mesh, tolerance) : 0;
}

// The geometry of mesh `index` at `level`; with `planes` (16 floats, four
// planes a, b, c, d in the mesh's coordinates) refined under that frustum.
EMSCRIPTEN_KEEPALIVE const qx::GeometryRecord* qx_mesh_geometry(int32_t index, int32_t level, float shadingLevel,
                                                                const float* planes) {
  qx::QXPck* mesh = qx::MeshAt(index);
  if (!mesh) return nullptr;
  qx::GeometryRequest request{level, shadingLevel, planes != nullptr, {}};
  if (planes) std::memcpy(request.planes.data(), planes, sizeof(float) * 16);
  auto& viewer = TheViewer();
  qx::MeshGeometry& geometry = viewer.geometry[mesh];
  qx::CollectGeometry(*mesh, request, geometry);
  viewer.geometryRecord = {mesh->vertices.data(),
                           mesh->vertexCount,
                           geometry.indices.data(),
                           static_cast<int32_t>(geometry.indices.size()),
                           static_cast<int32_t>(geometry.flatFrom),
                           geometry.frustumResult};
  return &viewer.geometryRecord;
}

}  // extern "C"
