#include "view/renderer.h"

#include <algorithm>
#include <span>

#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "platform/gl_api.h"
#include "scene/scene_model.h"
#include "view/culling_frustum.h"
#include "view/fan_drawers.h"
#include "view/overlays.h"

namespace qx {
namespace {

// Material colours are scaled down so that two lights and the global ambient
// do not wash a lit surface out.
constexpr float kAmbientScale = 0.21f;
constexpr float kDiffuseScale = 0.85f;
// Indices collected per CollectTriangles call; well above 3 × the largest ring.
constexpr size_t kIndexChunk = 3 * 4096;
static_assert(kIndexChunk >= kMinTriangleIndexCapacity);

std::array<float, 4> Scaled(const std::array<float, 4>& colour, float scale) {
  return {colour[0] * scale, colour[1] * scale, colour[2] * scale, colour[3] * scale};
}

// Holds a mesh's lock for the lifetime of the guard.
class MeshLock {
 public:
  explicit MeshLock(QXPck& mesh) : mesh_(mesh) { mesh_.Lock(); }
  ~MeshLock() { mesh_.Unlock(); }
  MeshLock(const MeshLock&) = delete;
  MeshLock& operator=(const MeshLock&) = delete;

 private:
  QXPck& mesh_;
};

}  // namespace

void MeshRenderer::Queue(QXHier* node, const Matrix& modelView, const QXMaterial* material) {
  if (!node || !node->mesh) return;
  if (queued_ > kBatchBound)
    if (QXPck* first = MeshToFlushFirst()) FlushMesh(first);
  drawLists_[node->mesh].push_back({node, modelView, material});
  ++queued_;
}

QXPck* MeshRenderer::MeshToFlushFirst() {
  const auto hasEntries = [this](const QXPck* mesh) {
    const auto it = drawLists_.find(const_cast<QXPck*>(mesh));
    return it != drawLists_.end() && !it->second.empty();
  };
  if (currentMesh_ && hasEntries(currentMesh_)) return const_cast<QXPck*>(currentMesh_);
  for (QXPck* mesh = meshes_; mesh; mesh = mesh->next)
    if (hasEntries(mesh)) return mesh;
  // A node may name a mesh that is not on the list: such lists count too.
  for (auto& [mesh, entries] : drawLists_)
    if (!entries.empty()) return mesh;
  return nullptr;
}

void MeshRenderer::FlushMesh(QXPck* mesh) {
  const auto it = drawLists_.find(mesh);
  if (it == drawLists_.end() || it->second.empty()) return;
  std::vector<DrawEntry>& entries = it->second;
  MeshLock lock(*mesh);
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
    DrawObject(entry->node, entry->modelView, entry->material);
  queued_ -= static_cast<int>(entries.size());
  entries.clear();
}

void MeshRenderer::Flush() {
  for (QXPck* mesh = meshes_; mesh; mesh = mesh->next) FlushMesh(mesh);
  while (queued_ > 0)
    if (QXPck* mesh = MeshToFlushFirst())
      FlushMesh(mesh);
    else
      break;
  queued_ = 0;
  ResetState();
}

void MeshRenderer::ResetState() {
  if (arraysLocked_ && extensions_.unlockArraysEXT) extensions_.unlockArraysEXT();
  arraysLocked_ = false;
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  arraysMesh_ = nullptr;
  indicesValid_ = false;
  currentMesh_ = nullptr;
  currentMaterial_ = nullptr;
  if (extensions_.bindBufferARB) {
    extensions_.bindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    extensions_.bindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
  }
}

void MeshRenderer::DropDrawLists() {
  drawLists_.clear();
  queued_ = 0;
  currentMesh_ = nullptr;
  arraysMesh_ = nullptr;
  indicesValid_ = false;
}

int32_t MeshRenderer::LevelFor(const QXPck& mesh) const {
  const int mode = options.refinementMode;
  if (mode != kRefineProgressive && mode != kRefineSelective) return 0;
  return LevelFromTolerance(mesh, options.tolerance);
}

void MeshRenderer::DrawObject(QXHier* node, const Matrix& modelView, const QXMaterial* material) {
  if (!node || !node->mesh) return;
  const QXPck& mesh = *node->mesh;
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixf(modelView.data());
  ApplyMaterial(material);
  glPushName(names_.NameOf(node));
  ApplyNormalize(mesh);
  currentMesh_ = &mesh;
  const int selective = options.refinementMode == kRefineSelective ? DrawSelective(mesh, modelView) : 1;
  if (selective > 0) {
    const int32_t level = LevelFor(mesh);
    triangles_ += TakesVertexArrayPath(mesh) ? DrawVertexArrays(mesh, level) : DrawImmediate(mesh, level);
  }
  if (node->selected) DrawSelectionBox(mesh.box.centre, mesh.box.half);
  glPopName();
}

void MeshRenderer::ApplyMaterial(const QXMaterial* material) {
  if (!material || material == currentMaterial_) return;
  if (!options.lighting) {
    glColor3fv(material->diffuse.data());
    return;
  }
  currentMaterial_ = material;
  // Stippling stands in for blending: a translucent material leaves every
  // other pixel of its surfaces untouched.
  if (material->diffuse[3] < 1.0f)
    glEnable(GL_POLYGON_STIPPLE);
  else
    glDisable(GL_POLYGON_STIPPLE);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, Scaled(material->ambient, kAmbientScale).data());
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, Scaled(material->diffuse, kDiffuseScale).data());
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, material->specular.data());
  const float shininess = material->shininess * 128;
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, shininess > 0 ? std::min(shininess, 128.0f) : 1.0f);
}

void MeshRenderer::ApplyNormalize(const QXPck& mesh) {
  if (&mesh == currentMesh_) return;
  // Stored normals are unit length once the mesh is finalised; every other
  // case (flat normals under scaling matrices, partial normals) lets GL do it.
  if (options.shadingLevel == 1.0f && mesh.finalised)
    glDisable(GL_NORMALIZE);
  else
    glEnable(GL_NORMALIZE);
}

int MeshRenderer::DrawSelective(const QXPck& mesh, const Matrix& modelView) {
  std::array<Plane, 4> planes;
  for (size_t i = 0; i < planes.size(); ++i) planes[i] = PlaneInSpace(options.viewFrustum[i], modelView);
  if (culled_.BitCount() < mesh.vertexCount) culled_.Reset(mesh.vertexCount);
  if (inside_.BitCount() < mesh.vertexCount) inside_.Reset(mesh.vertexCount);
  const FrustumTest test = SelectByFrustum(mesh, culled_, inside_, planes);
  if (test.result != 0) return test.result;
  // Vertex 0 stands for "no dependency": leaving it out of the selection
  // keeps the final triangles (dependency 0) of every inserted vertex.
  culled_.Clear(0);
  glBegin(GL_TRIANGLES);
  triangles_ += ForEachSelectedFan(mesh, culled_, FanDrawer(mesh, options.shadingLevel));
  glEnd();
  return 0;
}

bool MeshRenderer::TakesVertexArrayPath(const QXPck& mesh) const {
  return mesh.vertexCount < kVertexArrayLimit && options.useVertexArray && options.shadingLevel == 1.0f;
}

int64_t MeshRenderer::DrawVertexArrays(const QXPck& mesh, int32_t level) {
  if (&mesh != arraysMesh_) SetUpArrays(mesh);
  if (!indicesValid_ || level != indexLevel_) CollectIndices(mesh, level);
  if (!indices_.empty())
    glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indices_.size()), GL_UNSIGNED_SHORT, indices_.data());
  return static_cast<int64_t>(indices_.size() / 3);
}

void MeshRenderer::SetUpArrays(const QXPck& mesh) {
  if (arraysLocked_ && extensions_.unlockArraysEXT) extensions_.unlockArraysEXT();
  arraysLocked_ = false;
  glInterleavedArrays(GL_N3F_V3F, 0, mesh.vertices.data());
  if (extensions_.lockArraysEXT && mesh.vertexCount > 0) {
    extensions_.lockArraysEXT(0, mesh.vertexCount);
    arraysLocked_ = true;
  }
  arraysMesh_ = &mesh;
  indicesValid_ = false;
}

void MeshRenderer::CollectIndices(const QXPck& mesh, int32_t level) {
  // The whole index list of the mesh is kept, buffer after buffer, so that
  // the next instance of the mesh is one draw call over all its triangles.
  indices_.clear();
  VertexIndex resume = 0;
  while (resume < mesh.vertexCount) {
    const size_t at = indices_.size();
    const VertexIndex before = resume;
    indices_.resize(at + kIndexChunk);
    const int written = CollectTriangles(mesh, level, resume, std::span(indices_).subspan(at));
    indices_.resize(at + 3 * static_cast<size_t>(written));
    if (resume == before && written == 0) break;
  }
  indexLevel_ = level;
  indicesValid_ = true;
}

int64_t MeshRenderer::DrawImmediate(const QXPck& mesh, int32_t level) {
  glBegin(GL_TRIANGLES);
  const int64_t triangles = ForEachFan(mesh, level, FanDrawer(mesh, options.shadingLevel));
  glEnd();
  return triangles;
}

}  // namespace qx
