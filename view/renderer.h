// MeshRenderer: draws the fan meshes of a scene with OpenGL.
//
// The frame (scene_view.h) walks the hierarchy and hands every visible object
// to Queue; the renderer keeps one list of queued instances per mesh, so that
// the instances of one mesh are drawn one after another and the mesh's arrays
// and index list are set up once per batch:
//
//   Queue(node, matrix, material)   append to the node's mesh list; when more
//                                   than kBatchBound entries wait, one mesh's
//                                   list is drawn first
//   Flush()                         draw every list (scene mesh order), then
//                                   forget the per-frame GL state
//
// Drawing a list takes the mesh's lock (a loader thread may be inserting
// vertices) and draws its entries last to first with DrawObject:
//   material (lit: GL material with stippling for translucent ones; unlit:
//   the diffuse colour) → selection name → GL_NORMALIZE → selective
//   refinement (frustum test) or the level of the tolerance → the
//   vertex-array path (fully smooth, under 65 535 vertices) or the immediate
//   path with the fan drawers → the selection box of a selected node.
//
// The renderer reads the mesh (the CPU side) and hands GL only what one draw
// call needs: the vertex array of the mesh being drawn and an index list it
// owns, rebuilt when the mesh or its level changes.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "common/geometry.h"
#include "fan/frustum.h"
#include "fan/vertex_bits.h"
#include "view/gl_extensions.h"
#include "view/picking.h"

namespace qx {

class QXHier;
class QXMaterial;
class QXPck;

// Refinement modes of the tolerance control.
inline constexpr int kRefineProgressive = 0;    // each mesh cut at the tolerance's level
inline constexpr int kRefineFull = 1;           // every mesh in full detail
inline constexpr int kRefineSelective = 32850;  // refined inside a culling frustum only

struct RenderOptions {
  bool lighting = true;  // GL lighting is on (materials as GL materials)
  bool useVertexArray = false;
  float shadingLevel = 0;  // L: 1 smooth, 0 flat, between: by crease
  int refinementMode = kRefineProgressive;
  float tolerance = 0;  // 0 … 1: the fraction of refinement withheld
  // Culling planes of the selective mode in view space (the space the queued
  // model-view matrices map into).
  std::array<Plane, 4> viewFrustum{};
};

// One queued instance of a mesh.
struct DrawEntry {
  QXHier* node;
  Matrix modelView;
  const QXMaterial* material;
};

class MeshRenderer {
 public:
  // Queued entries above this bound make Queue draw a mesh's list first.
  static constexpr int kBatchBound = 100;
  // Meshes with at least this many vertices never take the vertex-array path
  // (its indices are 16 bits).
  static constexpr int32_t kVertexArrayLimit = 65535;

  // `extensions` belongs to the window and outlives the renderer.
  explicit MeshRenderer(const GLExtensions& extensions) : extensions_(extensions) {}
  MeshRenderer(const MeshRenderer&) = delete;
  MeshRenderer& operator=(const MeshRenderer&) = delete;

  RenderOptions options;

  // The scene's mesh list, whose order Flush follows (none: no scene).
  void SetMeshList(QXPck* meshes) { meshes_ = meshes; }

  // Appends an instance of the node's mesh (nothing for a node without a
  // mesh). The matrix is the full model-view matrix of the instance.
  void Queue(QXHier* node, const Matrix& modelView, const QXMaterial* material);
  // Draws every queued instance, mesh by mesh, then ResetState.
  void Flush();
  // Draws one instance now. The caller holds the mesh's lock.
  void DrawObject(QXHier* node, const Matrix& modelView, const QXMaterial* material);

  // Forgets the per-frame GL state: unlocks compiled arrays, disables the
  // client arrays, forgets the current mesh and material, unbinds buffer
  // objects (when the entry point exists).
  void ResetState();
  // Drops every queued entry and the lists themselves (a new scene).
  void DropDrawLists();

  // The level of detail a mesh is drawn at: ⌊N × tolerance⌋ in the
  // progressive and selective modes, 0 (full) in any other.
  int32_t LevelFor(const QXPck& mesh) const;

  int Queued() const { return queued_; }
  // Triangles drawn since the last ResetTriangles.
  int64_t Triangles() const { return triangles_; }
  void ResetTriangles() { triangles_ = 0; }
  // The names given to the objects drawn since the last Clear.
  SelectionNames& Names() { return names_; }

 private:
  void FlushMesh(QXPck* mesh);
  QXPck* MeshToFlushFirst();
  void ApplyMaterial(const QXMaterial* material);
  void ApplyNormalize(const QXPck& mesh);
  // The selective test: -1 nothing drawn, 0 drawn here, 1 go on as normal.
  int DrawSelective(const QXPck& mesh, const Matrix& modelView);
  bool TakesVertexArrayPath(const QXPck& mesh) const;
  int64_t DrawVertexArrays(const QXPck& mesh, int32_t level);
  void SetUpArrays(const QXPck& mesh);
  void CollectIndices(const QXPck& mesh, int32_t level);
  int64_t DrawImmediate(const QXPck& mesh, int32_t level);

  const GLExtensions& extensions_;
  QXPck* meshes_ = nullptr;
  std::unordered_map<QXPck*, std::vector<DrawEntry>> drawLists_;
  int queued_ = 0;

  const QXMaterial* currentMaterial_ = nullptr;
  const QXPck* currentMesh_ = nullptr;  // the mesh drawn last
  // The vertex-array path: the mesh whose arrays are set up, and the index
  // list of all its triangles at `indexLevel_`.
  const QXPck* arraysMesh_ = nullptr;
  bool arraysLocked_ = false;
  bool indicesValid_ = false;
  int32_t indexLevel_ = 0;
  std::vector<uint16_t> indices_;

  VertexBits culled_;
  VertexBits inside_;
  int64_t triangles_ = 0;
  SelectionNames names_;
};

}  // namespace qx
