#include "import/read3ds.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <memory>

namespace qx {
namespace {

// Reads little-endian values from one chunk's bytes [position, end). A read
// that the chunk cannot hold fails and leaves its destination untouched.
class ChunkCursor {
 public:
  ChunkCursor(const std::string& bytes, std::size_t position, std::size_t end)
      : bytes_(bytes), position_(position), end_(end) {}

  std::size_t position() const { return position_; }
  std::size_t end() const { return end_; }
  std::size_t Left() const { return end_ - position_; }

  bool Byte(std::uint8_t& value) {
    if (Left() < 1) return false;
    value = static_cast<std::uint8_t>(bytes_[position_++]);
    return true;
  }
  bool U16(std::uint16_t& value) {
    std::uint32_t raw = 0;
    if (!Raw(2, raw)) return false;
    value = static_cast<std::uint16_t>(raw);
    return true;
  }
  bool U32(std::uint32_t& value) { return Raw(4, value); }
  bool Float(float& value) {
    std::uint32_t raw = 0;
    if (!Raw(4, raw)) return false;
    value = std::bit_cast<float>(raw);
    return true;
  }
  // A file point (x, y, z), stored as (x, z, y).
  bool SwappedPoint(Vector& point) {
    if (Left() < 12) return false;
    Float(point.x);
    Float(point.z);
    Float(point.y);
    return true;
  }
  bool Point(Vector& point) {
    if (Left() < 12) return false;
    Float(point.x);
    Float(point.y);
    Float(point.z);
    return true;
  }
  // A zero-terminated name: the first 127 characters are kept and the cursor
  // moves past the terminator (or to the chunk's end when there is none).
  std::string Name() {
    std::string name;
    std::uint8_t c = 0;
    while (Byte(c) && c != 0) {
      if (name.size() < 127) name.push_back(static_cast<char>(c));
    }
    return name;
  }

 private:
  bool Raw(int size, std::uint32_t& value) {
    if (Left() < static_cast<std::size_t>(size)) return false;
    std::uint32_t raw = 0;
    for (int i = 0; i < size; ++i) {
      raw |= std::uint32_t{static_cast<std::uint8_t>(bytes_[position_ + static_cast<std::size_t>(i)])} << (8 * i);
    }
    position_ += static_cast<std::size_t>(size);
    value = raw;
    return true;
  }

  const std::string& bytes_;
  std::size_t position_;
  std::size_t end_;
};

// One walk over a file: the records being filled and the values that
// sub-chunks leave for their parents (current colour, amount, names).
class Reader3DS {
 public:
  Reader3DS(const std::string& bytes, Read3DSCallbacks& callbacks) : bytes_(bytes), callbacks_(callbacks) {}

  void Run() { Walk(0, bytes_.size(), 0); }

 private:
  void Walk(std::size_t position, std::size_t end, int depth);
  void Dispatch(std::uint16_t id, ChunkCursor chunk, int depth);
  bool DispatchMesh(std::uint16_t id, ChunkCursor& chunk, int depth);
  bool DispatchMaterial(std::uint16_t id, ChunkCursor& chunk, int depth);
  bool DispatchScene(std::uint16_t id, ChunkCursor& chunk, int depth);
  bool DispatchKeyframer(std::uint16_t id, ChunkCursor& chunk, int depth);
  void WalkRest(ChunkCursor& chunk, int depth) { Walk(chunk.position(), chunk.end(), depth); }

  void ReadColourFloats(ChunkCursor& chunk);
  void ReadColourBytes(ChunkCursor& chunk);
  void ReadMesh(ChunkCursor& chunk, int depth);
  void ReadPoints(ChunkCursor& chunk);
  void ReadFaces(ChunkCursor& chunk, int depth);
  void ReadFaceGroup(ChunkCursor& chunk);
  void ReadTexCoords(ChunkCursor& chunk);
  void ReadMaterial(ChunkCursor& chunk, int depth);
  void ReadMap(std::uint16_t id, ChunkCursor& chunk, int depth);
  void ReadLight(ChunkCursor& chunk, int depth);
  void ReadCamera(ChunkCursor& chunk);
  void ReadNode(std::uint16_t id, ChunkCursor& chunk, int depth);

  const std::string& bytes_;
  Read3DSCallbacks& callbacks_;
  Colour3DS colour_{};
  float amount_ = 0;
  std::string objectName_;
  std::string mapName_;
  Mesh3DS mesh_;
  Material3DS material_;
  Light3DS light_;
  Node3DS node_;
};

void Reader3DS::Walk(std::size_t position, std::size_t end, int depth) {
  if (depth > kMax3DSDepth) return;
  while (end - position >= 6) {
    ChunkCursor header(bytes_, position, end);
    std::uint16_t id = 0;
    std::uint32_t length = 0;
    header.U16(id);
    header.U32(length);
    // A length of 0 ends this walk; 1 to 5 cannot even hold the header.
    if (length < 6) return;
    const std::size_t chunkEnd = position + std::min<std::size_t>(length, end - position);
    Dispatch(id, ChunkCursor(bytes_, position + 6, chunkEnd), depth + 1);
    position = chunkEnd;
  }
}

void Reader3DS::Dispatch(std::uint16_t id, ChunkCursor chunk, int depth) {
  switch (id) {
    case 0x4D4D:  // main
    case 0x3D3D:  // editor data
    case 0xC23D:  // project
    case 0x3DAA:  // material library
    case 0x2D2D:
    case 0x2D3D:
      WalkRest(chunk, depth);
      return;
    case 0x0010: ReadColourFloats(chunk); return;
    case 0x0011: ReadColourBytes(chunk); return;
    case 0x0030: {
      std::uint16_t percent = 0;
      if (chunk.U16(percent)) amount_ = static_cast<float>(static_cast<std::int16_t>(percent)) * 0.01f;
      return;
    }
    case 0x0031: chunk.Float(amount_); return;
    default: break;
  }
  if (DispatchMesh(id, chunk, depth) || DispatchMaterial(id, chunk, depth) || DispatchScene(id, chunk, depth)) {
    return;
  }
  DispatchKeyframer(id, chunk, depth);  // anything else is skipped
}

bool Reader3DS::DispatchMesh(std::uint16_t id, ChunkCursor& chunk, int depth) {
  switch (id) {
    case 0x4000:
      objectName_ = chunk.Name();
      WalkRest(chunk, depth);
      return true;
    case 0x4100: ReadMesh(chunk, depth); return true;
    case 0x4110: ReadPoints(chunk); return true;
    case 0x4120: ReadFaces(chunk, depth); return true;
    case 0x4130: ReadFaceGroup(chunk); return true;
    case 0x4140: ReadTexCoords(chunk); return true;
    case 0x4160:
      for (float& value : mesh_.localAxes) chunk.Float(value);
      return true;
    default: return false;
  }
}

bool Reader3DS::DispatchMaterial(std::uint16_t id, ChunkCursor& chunk, int depth) {
  Colour3DS* colour = id == 0xA010 ? &material_.ambient
                      : id == 0xA020 ? &material_.diffuse
                      : id == 0xA030 ? &material_.specular
                                     : nullptr;
  float* amount = id == 0xA040 ? &material_.shininess
                  : id == 0xA041 ? &material_.shininessStrength
                  : id == 0xA050 ? &material_.transparency
                                 : nullptr;
  if (colour != nullptr) {
    WalkRest(chunk, depth);
    *colour = colour_;
    return true;
  }
  if (amount != nullptr) {
    WalkRest(chunk, depth);
    *amount = amount_;
    return true;
  }
  switch (id) {
    case 0xAFFF: ReadMaterial(chunk, depth); return true;
    case 0xA000: material_.name = chunk.Name(); return true;
    case 0xA081: material_.twoSided = true; return true;
    case 0xA100: chunk.U16(material_.shading); return true;
    case 0xA200:  // texture
    case 0xA204:  // specular map
    case 0xA210:  // opacity map
    case 0xA220:  // reflection map
    case 0xA230:  // bump map
    case 0xA33A:  // second texture
    case 0xA33C:  // shininess map
    case 0xA33D:  // self-illumination map
      ReadMap(id, chunk, depth);
      return true;
    case 0xA300: mapName_ = chunk.Name(); return true;
    default: return false;
  }
}

bool Reader3DS::DispatchScene(std::uint16_t id, ChunkCursor& chunk, int depth) {
  switch (id) {
    case 0x1200:
      WalkRest(chunk, depth);
      callbacks_.OnBackground(colour_[0], colour_[1], colour_[2]);
      return true;
    case 0x2100:
      WalkRest(chunk, depth);
      callbacks_.OnAmbient(colour_[0], colour_[1], colour_[2]);
      return true;
    case 0x4600: ReadLight(chunk, depth); return true;
    case 0x4610:
      light_.isSpot = true;
      chunk.Point(light_.spotTarget);
      chunk.Float(light_.hotspot);
      chunk.Float(light_.falloff);
      return true;
    case 0x4700: ReadCamera(chunk); return true;
    default: return false;
  }
}

bool Reader3DS::DispatchKeyframer(std::uint16_t id, ChunkCursor& chunk, int depth) {
  switch (id) {
    case 0xB000: WalkRest(chunk, depth); return true;
    case 0xB002:
    case 0xB003:
    case 0xB004:
    case 0xB005:
    case 0xB006:
    case 0xB007:
      ReadNode(id, chunk, depth);
      return true;
    case 0xB010:
      node_.name = chunk.Name();
      chunk.U16(node_.flags1);
      chunk.U16(node_.flags2);
      chunk.U16(node_.parent);
      return true;
    case 0xB011: node_.instanceName = chunk.Name(); return true;
    case 0xB030: chunk.U16(node_.id); return true;
    default: return false;
  }
}

void Reader3DS::ReadColourFloats(ChunkCursor& chunk) {
  for (float& component : colour_) chunk.Float(component);
}

void Reader3DS::ReadColourBytes(ChunkCursor& chunk) {
  for (float& component : colour_) {
    std::uint8_t value = 0;
    if (chunk.Byte(value)) component = static_cast<float>(value) * 0.003921569f;
  }
}

void Reader3DS::ReadMesh(ChunkCursor& chunk, int depth) {
  // The record starts clean, so stray mesh data outside a mesh chunk never
  // leaks into the next mesh.
  mesh_ = Mesh3DS{};
  mesh_.name = objectName_;
  WalkRest(chunk, depth);
  callbacks_.OnMesh(mesh_);
  mesh_ = Mesh3DS{};
}

void Reader3DS::ReadPoints(ChunkCursor& chunk) {
  std::uint16_t count = 0;
  if (!chunk.U16(count)) return;
  const std::size_t held = std::min<std::size_t>(count, chunk.Left() / 12);
  mesh_.points.clear();
  mesh_.points.reserve(held);
  for (std::size_t i = 0; i < held; ++i) {
    Vector point;
    chunk.SwappedPoint(point);
    mesh_.points.push_back(point);
  }
}

void Reader3DS::ReadFaces(ChunkCursor& chunk, int depth) {
  std::uint16_t count = 0;
  if (!chunk.U16(count)) return;
  const std::size_t held = std::min<std::size_t>(count, chunk.Left() / 8);
  mesh_.faces.clear();
  mesh_.faces.reserve(held);
  for (std::size_t i = 0; i < held; ++i) {
    Face3DS face;
    chunk.U16(face.a);
    chunk.U16(face.b);
    chunk.U16(face.c);
    chunk.U16(face.flags);
    mesh_.faces.push_back(face);
  }
  WalkRest(chunk, depth);  // material groups and smoothing groups
}

void Reader3DS::ReadFaceGroup(ChunkCursor& chunk) {
  FaceGroup3DS group;
  group.material = chunk.Name();
  std::uint16_t count = 0;
  if (!chunk.U16(count)) return;
  const std::size_t held = std::min<std::size_t>(count, chunk.Left() / 2);
  if (held == 0) return;
  group.faces.resize(held);
  for (std::uint16_t& face : group.faces) chunk.U16(face);
  mesh_.groups.insert(mesh_.groups.begin(), std::move(group));
}

void Reader3DS::ReadTexCoords(ChunkCursor& chunk) {
  std::uint16_t count = 0;
  if (!chunk.U16(count)) return;
  if (count != mesh_.points.size() || chunk.Left() / 8 < count) return;
  mesh_.texCoords.resize(count);
  for (auto& uv : mesh_.texCoords) {
    chunk.Float(uv[0]);
    chunk.Float(uv[1]);
    uv[1] = -uv[1];
  }
}

void Reader3DS::ReadMaterial(ChunkCursor& chunk, int depth) {
  material_ = Material3DS{};
  WalkRest(chunk, depth);
  callbacks_.OnMaterial(material_);
  material_ = Material3DS{};
}

void Reader3DS::ReadMap(std::uint16_t id, ChunkCursor& chunk, int depth) {
  mapName_.clear();
  WalkRest(chunk, depth);
  material_.maps.push_back({id, mapName_, amount_});
}

void Reader3DS::ReadLight(ChunkCursor& chunk, int depth) {
  light_ = Light3DS{};
  chunk.SwappedPoint(light_.position);
  WalkRest(chunk, depth);
  light_.colour = colour_;
  callbacks_.OnLight(light_);
}

void Reader3DS::ReadCamera(ChunkCursor& chunk) {
  Camera3DS camera;
  chunk.Point(camera.position);
  chunk.Point(camera.target);
  chunk.Float(camera.bank);
  chunk.Float(camera.lens);
  callbacks_.OnCamera(camera);
}

void Reader3DS::ReadNode(std::uint16_t id, ChunkCursor& chunk, int depth) {
  node_ = Node3DS{};
  node_.kind = id;
  WalkRest(chunk, depth);
  callbacks_.OnNode(node_);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void Read3DSBytes(const std::string& bytes, Read3DSCallbacks& callbacks) {
  Reader3DS(bytes, callbacks).Run();
}

bool Read3DSFile(const char* fileName, Read3DSCallbacks& callbacks) {
  std::unique_ptr<std::FILE, FileCloser> stream(std::fopen(fileName, "rb"));
  if (!stream) return false;
  std::string bytes;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream.get())) > 0) bytes.append(buffer, got);
  Read3DSBytes(bytes, callbacks);
  return true;
}

}  // namespace qx
