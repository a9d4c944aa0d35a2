// The scene as the occlusion analysis draws it: the triangles of every object
// instance (a node with a mesh, reached along one path of the hierarchy)
// transformed into world space once, in one vertex array and one index
// array, so that a pass over the whole scene is one draw call rather than
// one per instance; and per mesh the faces not seen yet.
#pragma once

#include <bit>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "common/geometry.h"

namespace qx {

class QXHier;
class QXMaterial;
class QXPck;
class QXScene;

// A mesh's triangles at full detail as index triples into its vertices, in
// the order of the fan walk, and one bit per face, set while it is unseen.
struct MeshFaces {
  std::vector<uint32_t> indices;
  std::vector<uint32_t> unseen;

  int64_t Count() const { return static_cast<int64_t>(indices.size() / 3); }
  bool Unseen(int64_t face) const { return unseen[static_cast<size_t>(face >> 5)] >> (face & 31) & 1; }
  void MarkSeen(int64_t face) { unseen[static_cast<size_t>(face >> 5)] &= ~(1u << (face & 31)); }
  int64_t CountUnseen() const {
    int64_t count = 0;
    for (uint32_t word : unseen) count += std::popcount(word);
    return count;
  }
};

// Every face of the mesh, all unseen. A corner outside the vertex array
// (only a damaged file could give one) drops its face.
MeshFaces FacesOf(const QXPck& mesh);

struct ObjectInstance {
  QXHier* node;
  const QXMaterial* material;  // the node's own, else the nearest ancestor's; none for neither
  MeshFaces* faces;            // of the node's mesh, shared by all its instances
  uint32_t firstIndex;         // its faces: faces->indices.size() entries of SceneGeometry::indices
};

// Bounds on what one analysis takes on; a larger scene is refused rather
// than analysed in part (a part left out would count as hidden).
inline constexpr size_t kMaxAnalysedInstances = size_t{1} << 20;
inline constexpr size_t kMaxWorldVertices = size_t{1} << 23;
inline constexpr size_t kMaxWorldIndices = size_t{3} << 23;
inline constexpr int kMaxAnalysedDepth = 1000;

struct SceneGeometry {
  std::vector<Vector> vertices;  // world space
  std::vector<uint32_t> indices;  // instance after instance
  std::vector<ObjectInstance> instances;
  // Node-based: the addresses of the values stay put as the map grows.
  std::unordered_map<const QXPck*, MeshFaces> faces;
  bool tooLarge = false;  // a bound above was passed; nothing else is set
};

// Walks the hierarchy depth first, siblings in order, with the node
// matrices (the parent's transformation applied after the node's own).
SceneGeometry CollectSceneGeometry(QXScene& scene);

}  // namespace qx
