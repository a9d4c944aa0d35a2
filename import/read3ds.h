// Reader for 3D Studio mesh files (.3ds), project files (.prj) and material
// libraries. It walks the file's chunk tree, fills one record per chunk kind
// (mesh, material, light, camera, keyframer node) and hands each finished
// record to Read3DSCallbacks in file order.
//
// A chunk is a 16-bit id and a 32-bit length (little-endian; the length counts
// the 6 header bytes, the chunk's data and its sub-chunks). Walking a chunk:
//   while the position is before the chunk's end:
//     read a header; stop on a length below 6 (0 included)
//     run the id's handler on [data, min(start + length, chunk end))
//     continue at that end
// The whole file is walked as one chunk. A length that claims more than the
// parent (or the file) holds is cut to what remains, so no handler ever reads
// outside its own chunk; a value the chunk does not hold is left as it was.
// Nesting deeper than kMax3DSDepth is skipped, so hostile files cannot exhaust
// the stack.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/geometry.h"

namespace qx {

inline constexpr int kMax3DSDepth = 32;

using Colour3DS = std::array<float, 3>;

// One triangle: three indices into Mesh3DS::points in file order, and the
// file's flags word (not used).
struct Face3DS {
  std::uint16_t a = 0, b = 0, c = 0, flags = 0;
};

// The faces of a mesh that use one material, as indices into Mesh3DS::faces.
struct FaceGroup3DS {
  std::string material;
  std::vector<std::uint16_t> faces;
};

struct Mesh3DS {
  std::string name;  // the enclosing object's name
  // Points with the file's y and z exchanged: file (x, y, z) -> (x, z, y).
  std::vector<Vector> points;
  // (u, -v) per point; empty unless the file gives exactly one per point.
  std::vector<std::array<float, 2>> texCoords;
  std::vector<Face3DS> faces;
  // Groups with at least one face, in reverse file order (each new group is
  // put in front).
  std::vector<FaceGroup3DS> groups;
  std::string defaultMaterial = "Default";
  // The mesh's local axes and origin as the file gives them (x, y, z axis,
  // origin; three floats each). Not used for geometry.
  std::array<float, 12> localAxes{};
};

struct Map3DS {
  std::uint16_t kind = 0;  // the map chunk's id (texture, bump, opacity, ...)
  std::string fileName;
  float amount = 0;
};

struct Material3DS {
  std::string name;
  Colour3DS ambient{}, diffuse{}, specular{};
  std::uint16_t shading = 0;
  bool twoSided = false;
  float shininess = 0;
  float shininessStrength = 0;
  float transparency = 0;
  std::vector<Map3DS> maps;
};

struct Light3DS {
  Vector position;  // y and z exchanged like mesh points
  Colour3DS colour{};
  bool isSpot = false;
  Vector spotTarget;  // as the file gives it
  float hotspot = 0, falloff = 0;
};

struct Camera3DS {
  Vector position, target;  // as the file gives them
  float bank = 0, lens = 0;
};

struct Node3DS {
  std::uint16_t kind = 0;  // the node chunk's id, 0xB002 .. 0xB007
  std::string name;
  std::string instanceName;
  std::uint16_t flags1 = 0, flags2 = 0;
  std::uint16_t parent = 0xFFFF;
  std::uint16_t id = 0xFFFF;
};

// What the reader tells its user, in this slot order. Every record is valid
// only during the call; the callee copies what it keeps. The base does
// nothing.
class Read3DSCallbacks {
 public:
  virtual ~Read3DSCallbacks() = default;
  virtual void OnAmbient(float /*r*/, float /*g*/, float /*b*/) {}
  virtual void OnBackground(float /*r*/, float /*g*/, float /*b*/) {}
  virtual void OnMaterial(const Material3DS& /*material*/) {}
  virtual void OnLight(const Light3DS& /*light*/) {}
  virtual void OnCamera(const Camera3DS& /*camera*/) {}
  // Face indices are as the file gives them: a face whose index is at or
  // beyond points.size(), and a group entry at or beyond faces.size(), must be
  // dropped by the callee.
  virtual void OnMesh(const Mesh3DS& /*mesh*/) {}
  // Keeps the interface's slot order; the reader never calls it.
  virtual void OnReserved() {}
  virtual void OnNode(const Node3DS& /*node*/) {}
};

// Reads `fileName` and calls `callbacks` for every finished record. Returns
// false only when the file cannot be opened; any content, however truncated
// or inconsistent, is read as far as it makes sense and succeeds.
bool Read3DSFile(const char* fileName, Read3DSCallbacks& callbacks);

// The same for a file already in memory (`bytes` is the whole file).
void Read3DSBytes(const std::string& bytes, Read3DSCallbacks& callbacks);

}  // namespace qx
