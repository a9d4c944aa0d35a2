#include "scene/scene_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

#include "stream/object_reader.h"
#include "stream/object_writer.h"

namespace qx {

const ClassDescriptor QXMatrix::kClass{"QXMatrix v0.1", &MakeDefault<QXMatrix>};
const ClassDescriptor QXMaterial::kClass{"QXMaterial v0.2", &MakeDefault<QXMaterial>};
const ClassDescriptor QXHier::kClass{"QXHier v0.2", &MakeDefault<QXHier>};
const ClassDescriptor QXScene::kClass{"QXScene v0.4", &MakeDefault<QXScene>};

// ---- QXMatrix --------------------------------------------------------------

bool QXMatrix::Write(ObjectWriter& out) {
  for (float value : values)
    if (!out.WriteF32(value)) return false;
  return out.WriteObject(next);
}

bool QXMatrix::Read(ObjectReader& in) {
  for (float& value : values)
    if (!in.ReadF32(value)) return false;
  next = in.ReadObjectAs<QXMatrix>();
  return true;
}

// ---- QXMaterial ------------------------------------------------------------

namespace {

uint8_t ColourByte(float component) {
  // Truncation toward zero, kept inside the byte for out-of-range colours.
  return static_cast<uint8_t>(std::clamp(std::trunc(component * 255.0f), 0.0f, 255.0f));
}

float ByteColour(uint32_t byte) { return static_cast<float>(byte) * 0.003921569f; }

uint32_t PackColour(const std::array<float, 4>& colour) {
  uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word |= uint32_t{ColourByte(colour[i])} << (8 * i);
  return word;
}

std::array<float, 4> UnpackColour(uint32_t word) {
  std::array<float, 4> colour;
  for (int i = 0; i < 4; ++i) colour[i] = ByteColour((word >> (8 * i)) & 0xFF);
  return colour;
}

}  // namespace

bool QXMaterial::Write(ObjectWriter& out) {
  return out.WriteU32(PackColour(ambient)) && out.WriteU32(PackColour(diffuse)) &&
         out.WriteU32(PackColour(specular)) && out.WriteU8(ColourByte(shininess)) && out.WriteObject(next);
}

bool QXMaterial::Read(ObjectReader& in) {
  uint32_t words[3];
  uint8_t shine;
  for (uint32_t& word : words)
    if (!in.ReadU32(word)) return false;
  if (!in.ReadU8(shine)) return false;
  ambient = UnpackColour(words[0]);
  diffuse = UnpackColour(words[1]);
  specular = UnpackColour(words[2]);
  shininess = ByteColour(shine);
  next = in.ReadObjectAs<QXMaterial>();
  return true;
}

// ---- QXHier ----------------------------------------------------------------

bool QXHier::Write(ObjectWriter& out) {
  return out.WriteObject(material) && out.WriteObject(firstChild) && out.WriteObject(nextSibling) &&
         out.WriteObject(matrix) && out.WriteObject(mesh);
}

bool QXHier::Read(ObjectReader& in) {
  material = in.ReadObjectAs<QXMaterial>();
  firstChild = in.ReadObjectAs<QXHier>();
  nextSibling = in.ReadObjectAs<QXHier>();
  matrix = in.ReadObjectAs<QXMatrix>();
  mesh = in.ReadObjectAs<QXPck>();
  return true;
}

Matrix QXHier::WorldMatrix() const {
  const Matrix local = matrix ? matrix->values : IdentityMatrix();
  return parent ? MatrixProduct(local, parent->WorldMatrix()) : local;
}

qx::Box QXHier::Box() const {
  qx::Box box = mesh ? mesh->box : qx::Box{};
  for (const QXHier* child = firstChild; child; child = child->nextSibling) ExtendBox(box, child->Box());
  return matrix ? TransformBox(matrix->values, box) : box;
}

QXHier* QXHier::Clone() const {
  auto* copy = new QXHier;
  copy->matrix = matrix;
  copy->material = material;
  copy->mesh = mesh;
  copy->firstChild = firstChild;
  copy->selected = selected;
  return copy;
}

void ForEachDistinctNode(QXHier* first, const std::function<void(QXHier*)>& visit) {
  std::unordered_set<const QXHier*> seen;
  QXHier* node = first;
  QXHier* parent = nullptr;
  while (node) {
    if (seen.insert(node).second) {
      node->parent = parent;
      visit(node);
      if (node->firstChild) {
        parent = node;
        node = node->firstChild;
        continue;
      }
    }
    // Climb until a node with a next sibling; parent fields on this path were
    // set by this walk, since only newly met nodes are entered.
    while (node && !node->nextSibling) {
      node = parent;
      parent = node ? node->parent : nullptr;
    }
    if (node) node = node->nextSibling;
  }
}

// ---- QXScene ---------------------------------------------------------------

QXScene::QXScene() = default;

QXScene::~QXScene() { Clear(); }

void QXScene::AddMesh(QXPck* mesh) {
  if (mesh == nullptr) return;
  for (QXPck** link = &meshes; *link; link = &(*link)->next)
    if (*link == mesh) {
      *link = mesh->next;
      break;
    }
  mesh->next = meshes;
  meshes = mesh;
}

namespace {

// Moves `found` to the front of a singly linked chain whose head is `head`.
template <class T>
void MoveToFront(T*& head, T* found) {
  if (head == found) return;
  for (T* item = head; item->next; item = item->next)
    if (item->next == found) {
      item->next = found->next;
      break;
    }
  found->next = head;
  head = found;
}

}  // namespace

QXMatrix* QXScene::FindOrAddMatrix(const Matrix& values) {
  for (QXMatrix* item = matrices; item; item = item->next)
    if (std::memcmp(item->values.data(), values.data(), sizeof values) == 0) {
      MoveToFront(matrices, item);
      return item;
    }
  auto* added = new QXMatrix;
  added->values = values;
  added->next = matrices;
  matrices = added;
  return added;
}

QXMaterial* QXScene::FindOrAddMaterial(const std::array<float, 4>& ambient, const std::array<float, 4>& diffuse,
                                       const std::array<float, 4>& specular, float shininess) {
  for (QXMaterial* item = materials; item; item = item->next)
    if (item->ambient == ambient && item->diffuse == diffuse && item->specular == specular &&
        item->shininess == shininess) {
      MoveToFront(materials, item);
      return item;
    }
  auto* added = new QXMaterial;
  added->ambient = ambient;
  added->diffuse = diffuse;
  added->specular = specular;
  added->shininess = shininess;
  added->next = materials;
  materials = added;
  return added;
}

void QXScene::SetBox(const qx::Box& box) {
  box_ = box;
  radius_ = box_.Radius();
}

void QXScene::GrowBox(const qx::Box& box) {
  if (ExtendBox(box_, box)) radius_ = box_.Radius();
}

QXHier* QXScene::AddRoot(QXHier* node) {
  if (node == nullptr) return nullptr;
  node->nextSibling = roots;
  roots = node;
  GrowBox(node->Box());
  return node;
}

QXHier* QXScene::AddRoot(QXPck* mesh, QXMaterial* material, QXMatrix* matrix) {
  auto* node = new QXHier;
  node->mesh = mesh;
  node->material = material;
  node->matrix = matrix;
  return AddRoot(node);
}

void QXScene::UpdateBox() {
  SetBox(qx::Box{});
  for (const QXHier* root = roots; root; root = root->nextSibling) GrowBox(root->Box());
}

void QXScene::Clear() {
  for (QXMatrix* item = matrices; item;) delete std::exchange(item, item->next);
  for (QXPck* item = meshes; item;) delete std::exchange(item, item->next);
  for (QXMaterial* item = materials; item;) delete std::exchange(item, item->next);
  std::vector<QXHier*> nodes;
  ForEachDistinctNode(roots, [&](QXHier* node) { nodes.push_back(node); });
  for (QXHier* node : nodes) delete node;
  matrices = nullptr;
  meshes = nullptr;
  materials = nullptr;
  roots = nullptr;
}

}  // namespace qx
