#include "cli/glb_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "cli/mesh_export.h"
#include "fan/fan_walk.h"
#include "fan/metrics.h"
#include "fan/pck.h"
#include "scene/scene_model.h"
#include "view/fan_drawers.h"

namespace qx {
namespace {

// Normals follow a matrix through the transpose of its inverse; the cofactor
// matrix is that times the determinant, which normalising removes, except
// for its sign (a mirroring matrix).
class NormalTransform {
 public:
  explicit NormalTransform(const Matrix& m) {
    const Vector c0{m[0], m[1], m[2]}, c1{m[4], m[5], m[6]}, c2{m[8], m[9], m[10]};
    columns_ = {Cross(c1, c2), Cross(c2, c0), Cross(c0, c1)};
    if (Dot(c0, columns_[0]) < 0)
      for (Vector& column : columns_) column = {-column.x, -column.y, -column.z};
  }
  Vector operator()(Vector n) const {
    return Normalize({n.x * columns_[0].x + n.y * columns_[1].x + n.z * columns_[2].x,
                      n.x * columns_[0].y + n.y * columns_[1].y + n.z * columns_[2].y,
                      n.x * columns_[0].z + n.y * columns_[1].z + n.z * columns_[2].z});
  }

 private:
  std::array<Vector, 3> columns_;
};

class PrimitiveBuilder {
 public:
  PrimitiveBuilder(const QXPck& mesh, const Matrix& world, float shadingLevel, ShadedPrimitive& out)
      : mesh_(mesh), world_(world), normals_(world), level_(shadingLevel), shading_(ShadingForLevel(shadingLevel)),
        out_(out) {}

  void AddFan(const Fan& fan) {
    const bool flat =
        shading_ == FanShading::kFlat || (shading_ == FanShading::kByLevel && FanIsFlat(mesh_, fan.centre, level_));
    for (int i = fan.start + 1; i <= fan.end; ++i) {
      const VertexIndex corners[3] = {fan.centre, fan.Corner1(i), fan.Corner2(i)};
      if (flat) {
        const Vector normal = normals_(FlatNormal(Position(corners[0]), Position(corners[1]), Position(corners[2])));
        for (VertexIndex v : corners) out_.indices.push_back(Add(v, normal));
      } else {
        for (VertexIndex v : corners) out_.indices.push_back(SharedCorner(v));
      }
    }
  }

 private:
  Vector Position(VertexIndex v) const { return mesh_.vertices[v].position; }

  uint32_t Add(VertexIndex v, Vector normal) {
    out_.positions.push_back(TransformPoint(world_, Position(v)));
    out_.normals.push_back(normal);
    return static_cast<uint32_t>(out_.positions.size() - 1);
  }
  // Smooth corners keep the vertex's stored normal and are shared by every
  // smooth triangle around them.
  uint32_t SharedCorner(VertexIndex v) {
    const auto found = shared_.find(v);
    if (found != shared_.end()) return found->second;
    const uint32_t index = Add(v, normals_(mesh_.vertices[v].normal));
    shared_.emplace(v, index);
    return index;
  }

  const QXPck& mesh_;
  const Matrix& world_;
  NormalTransform normals_;
  float level_;
  FanShading shading_;
  ShadedPrimitive& out_;
  std::unordered_map<VertexIndex, uint32_t> shared_;
};

// ---- the file ----

constexpr uint32_t kGlbMagic = 0x46546C67;      // "glTF"
constexpr uint32_t kJsonChunk = 0x4E4F534A;     // "JSON"
constexpr uint32_t kBinaryChunk = 0x004E4942;   // "BIN\0"
constexpr int kFloat = 5126, kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

// A number as JSON takes it: JSON has no infinities or NaN, so a value that
// is not finite (only a damaged scene gives one) is written as 0.
std::string Number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", std::isfinite(value) ? value : 0.0f);
  return text;
}

// "[a,b,c]" for the numbers given; built with appends only (concatenations
// that start from a literal trip a false warning of the compiler).
std::string Array(std::initializer_list<float> values) {
  std::string text = "[";
  for (float value : values) {
    if (text.size() > 1) text += ',';
    text += Number(value);
  }
  return text += ']';
}

// Concatenates the pieces with appends, for the same reason.
std::string Cat(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces) text += piece;
  return text;
}

// The binary buffer and the JSON arrays that describe its parts.
struct GlbDocument {
  std::string binary;
  std::string bufferViews, accessors, meshes, nodes, sceneNodes, materials;
  std::unordered_map<std::string, int> materialIndex;  // baseColorFactor text -> index
  int viewCount = 0, accessorCount = 0, materialCount = 0, meshCount = 0;

  static void Append(std::string& list, const std::string& item) {
    if (!list.empty()) list += ',';
    list += item;
  }

  // Appends `bytes` as a buffer view (4-byte aligned) and returns its index.
  int AddView(const void* bytes, size_t size, int target) {
    binary.append((4 - binary.size() % 4) % 4, '\0');
    Append(bufferViews, Cat({"{\"buffer\":0,\"byteOffset\":", std::to_string(binary.size()), ",\"byteLength\":",
                             std::to_string(size), ",\"target\":", std::to_string(target), "}"}));
    binary.append(static_cast<const char*>(bytes), size);
    return viewCount++;
  }

  int AddAccessor(int view, int componentType, size_t count, const char* type, const std::string& extra) {
    Append(accessors, Cat({"{\"bufferView\":", std::to_string(view), ",\"componentType\":",
                           std::to_string(componentType), ",\"count\":", std::to_string(count), ",\"type\":\"", type,
                           "\"", extra, "}"}));
    return accessorCount++;
  }

  int AddVectors(const std::vector<Vector>& vectors, bool withBounds) {
    static_assert(sizeof(Vector) == 3 * sizeof(float));
    std::string bounds;
    if (withBounds) {
      Vector low = vectors[0], high = vectors[0];
      for (const Vector& v : vectors) {
        low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
        high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
      }
      bounds = Cat({",\"min\":", Array({low.x, low.y, low.z}), ",\"max\":", Array({high.x, high.y, high.z})});
    }
    const int view = AddView(vectors.data(), vectors.size() * sizeof(Vector), kArrayBuffer);
    return AddAccessor(view, kFloat, vectors.size(), "VEC3", bounds);
  }

  int Material(const std::array<float, 4>& diffuse) {
    const std::string colour = Array({diffuse[0], diffuse[1], diffuse[2], diffuse[3]});
    const auto [found, added] = materialIndex.try_emplace(colour, materialCount);
    if (!added) return found->second;
    Append(materials, Cat({"{\"pbrMetallicRoughness\":{\"baseColorFactor\":", colour,
                           ",\"metallicFactor\":0,\"roughnessFactor\":1}",
                           diffuse[3] < 1 ? ",\"alphaMode\":\"BLEND\"" : "", "}"}));
    return materialCount++;
  }

  void AddPrimitive(const ShadedPrimitive& primitive) {
    const int positions = AddVectors(primitive.positions, true);
    const int normals = AddVectors(primitive.normals, false);
    const int view = AddView(primitive.indices.data(), primitive.indices.size() * sizeof(uint32_t),
                             kElementArrayBuffer);
    const int indices = AddAccessor(view, kUnsignedInt, primitive.indices.size(), "SCALAR", "");
    const int material = Material(primitive.diffuse);
    const int meshIndex = meshCount++;
    Append(meshes, Cat({"{\"primitives\":[{\"attributes\":{\"POSITION\":", std::to_string(positions),
                        ",\"NORMAL\":", std::to_string(normals), "},\"indices\":", std::to_string(indices),
                        ",\"material\":", std::to_string(material), ",\"mode\":4}]}"}));
    Append(nodes, Cat({"{\"mesh\":", std::to_string(meshIndex), "}"}));
    Append(sceneNodes, std::to_string(meshIndex));
  }

  std::string Json() const {
    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"qxtool\"},\"scene\":0,\"scenes\":[{";
    if (meshCount == 0) return json + "}]}";
    return json += Cat({"\"nodes\":[", sceneNodes, "]}],\"nodes\":[", nodes, "],\"meshes\":[", meshes,
                        "],\"materials\":[", materials, "],\"accessors\":[", accessors, "],\"bufferViews\":[",
                        bufferViews, "],\"buffers\":[{\"byteLength\":", std::to_string(binary.size()), "}]}"});
  }
};

void PutWord(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The container: a 12-byte header, the JSON chunk padded with blanks and the
// binary chunk padded with zeros, each to a multiple of four bytes.
std::string GlbBytes(std::string json, std::string binary) {
  json.append((4 - json.size() % 4) % 4, ' ');
  binary.append((4 - binary.size() % 4) % 4, '\0');
  const size_t total = 12 + 8 + json.size() + (binary.empty() ? 0 : 8 + binary.size());
  std::string out;
  out.reserve(total);
  PutWord(out, kGlbMagic);
  PutWord(out, 2);
  PutWord(out, static_cast<uint32_t>(total));
  PutWord(out, static_cast<uint32_t>(json.size()));
  PutWord(out, kJsonChunk);
  out += json;
  if (!binary.empty()) {
    PutWord(out, static_cast<uint32_t>(binary.size()));
    PutWord(out, kBinaryChunk);
    out += binary;
  }
  return out;
}

}  // namespace

bool CollectShadedPrimitives(const QXScene& scene, int32_t level, float tolerance, float shadingLevel,
                             std::vector<ShadedPrimitive>& primitives, int64_t maxTriangles) {
  int64_t triangles = 0;
  bool overflow = false;
  ForEachMeshInstance(scene, [&](const QXPck& mesh, const Matrix& world, const QXMaterial* material) {
    QXPck& lockable = const_cast<QXPck&>(mesh);
    lockable.Lock();
    const Level shown = tolerance >= 0 ? LevelFromTolerance(mesh, tolerance) : level;
    ShadedPrimitive primitive;
    primitive.diffuse = material ? material->diffuse : kDefaultDiffuse;
    PrimitiveBuilder builder(mesh, world, shadingLevel, primitive);
    ForEachFan(mesh, shown, [&](const Fan& fan) {
      overflow = overflow || triangles + fan.Triangles() > maxTriangles;
      if (overflow) return;
      triangles += fan.Triangles();
      builder.AddFan(fan);
    });
    lockable.Unlock();
    if (!primitive.indices.empty()) primitives.push_back(std::move(primitive));
    return !overflow;
  });
  return !overflow;
}

bool WriteGlb(const std::vector<ShadedPrimitive>& primitives, const std::string& path) {
  GlbDocument document;
  for (const ShadedPrimitive& primitive : primitives) document.AddPrimitive(primitive);
  // The container counts its length in 32 bits.
  if (document.binary.size() > std::numeric_limits<uint32_t>::max() / 2) return false;
  const std::string bytes = GlbBytes(document.Json(), document.binary);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  const bool ok = !std::ferror(file);
  return std::fclose(file) == 0 && ok;
}

}  // namespace qx
