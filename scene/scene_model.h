// The in-memory scene: fan meshes, a chain of matrices, a chain of materials
// and a hierarchy of nodes that places meshes with a material and a matrix.
//
// Ownership: the scene owns everything on its chains and lists and every node
// reachable from its roots. Nodes may be shared between parents (a clone
// shares its children), so the hierarchy is a directed acyclic graph and
// whoever frees or toggles nodes visits each distinct node once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/geometry.h"
#include "fan/pck.h"
#include "stream/persistent.h"

namespace qx {

class QXMatrix final : public PersistentObject {
 public:
  static const ClassDescriptor kClass;  // "QXMatrix v0.1"
  const ClassDescriptor* GetClass() const override { return &kClass; }
  // The 16 floats (64 bytes), then `next` as an object reference.
  bool Write(ObjectWriter& out) override;
  bool Read(ObjectReader& in) override;

  Matrix values = IdentityMatrix();
  QXMatrix* next = nullptr;
};

// Colours are RGBA in 0..1; shininess is 0..1 (the renderer scales it by 128).
class QXMaterial final : public PersistentObject {
 public:
  static const ClassDescriptor kClass;  // "QXMaterial v0.2"
  const ClassDescriptor* GetClass() const override { return &kClass; }
  // Each colour as one 32-bit word of four bytes (R lowest), each byte the
  // component times 255 truncated; then the shininess byte; then `next`.
  bool Write(ObjectWriter& out) override;
  bool Read(ObjectReader& in) override;

  std::array<float, 4> ambient{};
  std::array<float, 4> diffuse{};
  std::array<float, 4> specular{};
  float shininess = 0;
  QXMaterial* next = nullptr;
};

class QXHier final : public PersistentObject {
 public:
  static const ClassDescriptor kClass;  // "QXHier v0.2"
  const ClassDescriptor* GetClass() const override { return &kClass; }
  // Five references: material, first child, next sibling, matrix, mesh.
  bool Write(ObjectWriter& out) override;
  bool Read(ObjectReader& in) override;

  // Local matrix applied first, then the parent's world matrix (parent fields
  // as the last traversal left them). Identity for a root without a matrix.
  Matrix WorldMatrix() const;
  QXHier* FirstChild() const { return firstChild; }
  // The mesh's box grown by every child's box, then transformed by the local
  // matrix. Empty for a node with neither mesh nor children.
  qx::Box Box() const;
  // A new node with the same matrix, material, mesh, first child and selected
  // flag; the children are shared, not copied.
  QXHier* Clone() const;

  QXMatrix* matrix = nullptr;      // none means identity
  QXMaterial* material = nullptr;
  QXPck* mesh = nullptr;           // none for a pure group node
  QXHier* nextSibling = nullptr;
  QXHier* firstChild = nullptr;
  QXHier* parent = nullptr;        // set by traversals, never stored
  bool selected = false;           // editor selection, never stored
};

// Depth-first walk from `first` over its siblings and descendants, setting
// parent fields on the way down. `visit` is called once per distinct node.
// A node met again is not entered again: everything below and after it was
// walked when it was first met, so the walk stays linear in the number of
// nodes even when children are shared many times over.
void ForEachDistinctNode(QXHier* first, const std::function<void(QXHier*)>& visit);

class QXScene final : public PersistentObject {
 public:
  static const ClassDescriptor kClass;  // "QXScene v0.4"
  QXScene();
  ~QXScene() override;
  QXScene(const QXScene&) = delete;
  QXScene& operator=(const QXScene&) = delete;

  const ClassDescriptor* GetClass() const override { return &kClass; }
  bool Write(ObjectWriter& out) override;
  bool Read(ObjectReader& in) override;

  // Puts the mesh at the front of the mesh list (moving it there when it is
  // already listed). Nothing for no mesh.
  void AddMesh(QXPck* mesh);
  // Returns the chain's matrix with bitwise-identical values, moved to the
  // front, or a new one put at the front.
  QXMatrix* FindOrAddMatrix(const Matrix& values);
  // The same for materials; the 13 floats compare as numbers (0.0 == -0.0).
  QXMaterial* FindOrAddMaterial(const std::array<float, 4>& ambient, const std::array<float, 4>& diffuse,
                                const std::array<float, 4>& specular, float shininess);
  // Puts an existing node at the front of the roots (overwriting its next
  // sibling) and grows the scene box by its box. Returns the node.
  QXHier* AddRoot(QXHier* node);
  QXHier* AddRoot(QXPck* mesh, QXMaterial* material, QXMatrix* matrix = nullptr);
  // Recomputes the scene box from the boxes of all roots.
  void UpdateBox();
  // Frees every matrix, mesh, material and distinct node.
  void Clear();

  const qx::Box& Box() const { return box_; }
  float Radius() const { return radius_; }
  void SetBox(const qx::Box& box);

  // Coder choices for saving (see the save options).
  int32_t GeoMode = 0;
  int32_t PredMode = 0;
  int32_t ConnectMode = 1;
  float BitsError = 0;

  // 1 while the scene is being read from a stream; commands that change or
  // save the scene refuse to run meanwhile.
  std::atomic<bool> loading{false};
  // Fraction of the scene's record read so far (0..1).
  std::atomic<float> progress{0};
  // False while a progressive load is still reading the box, the mesh list,
  // the chains and the hierarchy; the loader clears it before another thread
  // can see the scene and Read sets it once those fields are final. A thread
  // other than the loading one reads none of those fields (nor Box and
  // Radius) until it is true, and walks a mesh only under the mesh's lock.
  std::atomic<bool> structureReady{true};

  QXMatrix* matrices = nullptr;
  QXPck* meshes = nullptr;
  QXMaterial* materials = nullptr;
  QXHier* roots = nullptr;

 private:
  void GrowBox(const qx::Box& box);
  // A file may point nodes at matrices, materials or meshes that are not on
  // the scene's chains (and so are not owned by it); such references are
  // dropped.
  void DropForeignReferences();
  // Takes over from the stream every matrix, material and node the scene's
  // chains and hierarchy hold (the meshes come from their packers).
  void ClaimStructure(ObjectReader& in);

  qx::Box box_;
  float radius_ = 0;
};

}  // namespace qx
