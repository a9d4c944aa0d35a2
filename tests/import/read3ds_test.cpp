#include "import/read3ds.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

// Little pieces of a 3DS file.
std::string U16(std::uint16_t value) { return {char(value & 0xFF), char(value >> 8)}; }
std::string U32(std::uint32_t value) { return U16(std::uint16_t(value & 0xFFFF)) + U16(std::uint16_t(value >> 16)); }
std::string F32(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return U32(bits);
}
std::string Name(const std::string& name) { return name + '\0'; }
std::string Chunk(std::uint16_t id, const std::string& data) {
  return U16(id) + U32(std::uint32_t(6 + data.size())) + data;
}
std::string ChunkWithLength(std::uint16_t id, std::uint32_t length, const std::string& data) {
  return U16(id) + U32(length) + data;
}
std::string Points(const std::vector<Vector>& points) {
  std::string data = U16(std::uint16_t(points.size()));
  for (Vector p : points) data += F32(p.x) + F32(p.y) + F32(p.z);
  return Chunk(0x4110, data);
}
std::string Faces(const std::vector<std::array<std::uint16_t, 3>>& faces, const std::string& subChunks = "") {
  std::string data = U16(std::uint16_t(faces.size()));
  for (const auto& f : faces) data += U16(f[0]) + U16(f[1]) + U16(f[2]) + U16(7);
  return Chunk(0x4120, data + subChunks);
}
std::string Group(const std::string& material, const std::vector<std::uint16_t>& faces) {
  std::string data = Name(material) + U16(std::uint16_t(faces.size()));
  for (std::uint16_t f : faces) data += U16(f);
  return Chunk(0x4130, data);
}
std::string Object(const std::string& name, const std::string& mesh) {
  return Chunk(0x4000, Name(name) + Chunk(0x4100, mesh));
}
std::string Main(const std::string& editor) { return Chunk(0x4D4D, Chunk(0x3D3D, editor)); }

// A triangle mesh "box" with four points and two faces in two groups (one of
// them empty and dropped), plus texture coordinates.
const std::string kMesh =
    Object("box", Points({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {0, 0, 1}}) +
                      Chunk(0x4140, U16(4) + F32(0.25f) + F32(0.5f) + F32(0) + F32(0) + F32(1) + F32(1) + F32(0) +
                                        F32(-1)) +
                      Faces({{0, 1, 2}, {2, 3, 0}},
                            Group("red", {1}) + Group("empty", {}) + Group("blue", {0, 1}) + Chunk(0x4150, U32(1))));

std::string Material(const std::string& name, const std::string& extra = "") {
  return Chunk(0xAFFF, Chunk(0xA000, Name(name)) + extra);
}

struct Recorder : Read3DSCallbacks {
  void OnAmbient(float r, float g, float b) override { ambient.push_back({r, g, b}); }
  void OnBackground(float r, float g, float b) override { background.push_back({r, g, b}); }
  void OnMaterial(const Material3DS& material) override { materials.push_back(material); }
  void OnLight(const Light3DS& light) override { lights.push_back(light); }
  void OnCamera(const Camera3DS& camera) override { cameras.push_back(camera); }
  void OnMesh(const Mesh3DS& mesh) override { meshes.push_back(mesh); }
  void OnNode(const Node3DS& node) override { nodes.push_back(node); }

  std::vector<Colour3DS> ambient, background;
  std::vector<Material3DS> materials;
  std::vector<Light3DS> lights;
  std::vector<Camera3DS> cameras;
  std::vector<Mesh3DS> meshes;
  std::vector<Node3DS> nodes;
};

Recorder ReadBytes(const std::string& bytes) {
  Recorder recorder;
  Read3DSBytes(bytes, recorder);
  return recorder;
}

TEST(Read3ds, MeshPointsFacesGroupsAndTexCoords) {
  const Recorder read = ReadBytes(Main(kMesh));
  ASSERT_EQ(read.meshes.size(), 1u);
  const Mesh3DS& mesh = read.meshes[0];
  EXPECT_EQ(mesh.name, "box");
  EXPECT_EQ(mesh.defaultMaterial, "Default");
  // The file's y and z are exchanged.
  EXPECT_EQ(mesh.points, (std::vector<Vector>{{1, 3, 2}, {4, 6, 5}, {7, 9, 8}, {0, 1, 0}}));
  ASSERT_EQ(mesh.faces.size(), 2u);
  EXPECT_EQ(mesh.faces[0].a, 0);
  EXPECT_EQ(mesh.faces[0].b, 1);
  EXPECT_EQ(mesh.faces[0].c, 2);
  EXPECT_EQ(mesh.faces[1].a, 2);
  EXPECT_EQ(mesh.faces[1].flags, 7);
  // Newest group first; the empty group is dropped.
  ASSERT_EQ(mesh.groups.size(), 2u);
  EXPECT_EQ(mesh.groups[0].material, "blue");
  EXPECT_EQ(mesh.groups[0].faces, (std::vector<std::uint16_t>{0, 1}));
  EXPECT_EQ(mesh.groups[1].material, "red");
  EXPECT_EQ(mesh.groups[1].faces, (std::vector<std::uint16_t>{1}));
  ASSERT_EQ(mesh.texCoords.size(), 4u);
  EXPECT_EQ(mesh.texCoords[0], (std::array<float, 2>{0.25f, -0.5f}));
  EXPECT_EQ(mesh.texCoords[3], (std::array<float, 2>{0, 1}));
}

TEST(Read3ds, EachMeshStartsFromACleanRecord) {
  const std::string second = Object("plain", Points({{1, 1, 1}}) + Faces({{0, 0, 0}}) +
                                                 Chunk(0x4140, U16(3) + std::string(24, '\0')));
  const Recorder read = ReadBytes(Main(kMesh + second));
  ASSERT_EQ(read.meshes.size(), 2u);
  const Mesh3DS& mesh = read.meshes[1];
  EXPECT_EQ(mesh.name, "plain");
  EXPECT_EQ(mesh.points.size(), 1u);
  EXPECT_TRUE(mesh.groups.empty());
  EXPECT_TRUE(mesh.texCoords.empty());  // three coordinates for one point are ignored
}

TEST(Read3ds, MaterialsColoursAndAmounts) {
  const std::string first =
      Material("shiny", Chunk(0xA010, Chunk(0x0010, F32(0.1f) + F32(0.2f) + F32(0.3f))) +
                            Chunk(0xA020, Chunk(0x0011, std::string("\xFF\x00\x80", 3))) +
                            Chunk(0xA030, Chunk(0x0010, F32(1) + F32(1) + F32(1))) +
                            Chunk(0xA040, Chunk(0x0030, U16(50))) + Chunk(0xA041, Chunk(0x0031, F32(0.5f))) +
                            Chunk(0xA050, Chunk(0x0030, U16(25))) + Chunk(0xA081, "") + Chunk(0xA100, U16(3)) +
                            Chunk(0xA200, Chunk(0x0030, U16(100)) + Chunk(0xA300, Name("wood.gif"))));
  const Recorder read = ReadBytes(Main(first + Material("shiny") + Material(std::string(200, 'n'))));
  ASSERT_EQ(read.materials.size(), 3u);
  const Material3DS& material = read.materials[0];
  EXPECT_EQ(material.name, "shiny");
  EXPECT_EQ(material.ambient, (Colour3DS{0.1f, 0.2f, 0.3f}));
  EXPECT_FLOAT_EQ(material.diffuse[0], 1.0f);
  EXPECT_EQ(material.diffuse[1], 0.0f);
  EXPECT_FLOAT_EQ(material.diffuse[2], 128 * 0.003921569f);
  EXPECT_EQ(material.specular, (Colour3DS{1, 1, 1}));
  EXPECT_FLOAT_EQ(material.shininess, 0.5f);
  EXPECT_FLOAT_EQ(material.shininessStrength, 0.5f);
  EXPECT_FLOAT_EQ(material.transparency, 0.25f);
  EXPECT_TRUE(material.twoSided);
  EXPECT_EQ(material.shading, 3);
  ASSERT_EQ(material.maps.size(), 1u);
  EXPECT_EQ(material.maps[0].kind, 0xA200);
  EXPECT_EQ(material.maps[0].fileName, "wood.gif");
  EXPECT_FLOAT_EQ(material.maps[0].amount, 1.0f);
  // The second material of the same name arrives later and starts clean.
  EXPECT_EQ(read.materials[1].name, "shiny");
  EXPECT_FALSE(read.materials[1].twoSided);
  EXPECT_TRUE(read.materials[1].maps.empty());
  // Names keep 127 characters; the rest up to the terminator is passed over.
  EXPECT_EQ(read.materials[2].name, std::string(127, 'n'));
}

TEST(Read3ds, SceneRecordsReachTheirCallbacks) {
  const std::string editor =
      Chunk(0x1200, Chunk(0x0010, F32(0.5f) + F32(0.25f) + F32(0))) +
      Chunk(0x2100, Chunk(0x0011, std::string("\x00\xFF\x00", 3))) +
      Chunk(0x4000, Name("lamp") + Chunk(0x4600, F32(1) + F32(2) + F32(3) + Chunk(0x0010, F32(1) + F32(0) + F32(0)) +
                                                     Chunk(0x4610, F32(4) + F32(5) + F32(6) + F32(30) + F32(45)))) +
      Chunk(0x4000, Name("eye") + Chunk(0x4700, F32(1) + F32(2) + F32(3) + F32(4) + F32(5) + F32(6) + F32(7) +
                                                    F32(35)));
  const std::string keyframer =
      Chunk(0xB000, Chunk(0xB002, Chunk(0xB030, U16(4)) + Chunk(0xB010, Name("box") + U16(1) + U16(2) + U16(0xFFFF)) +
                                      Chunk(0xB011, Name("copy"))));
  const Recorder read = ReadBytes(Chunk(0x4D4D, Chunk(0x3D3D, editor) + keyframer));
  EXPECT_EQ(read.background, (std::vector<Colour3DS>{{0.5f, 0.25f, 0}}));
  ASSERT_EQ(read.ambient.size(), 1u);
  EXPECT_FLOAT_EQ(read.ambient[0][1], 1.0f);
  ASSERT_EQ(read.lights.size(), 1u);
  EXPECT_EQ(read.lights[0].position, (Vector{1, 3, 2}));
  EXPECT_EQ(read.lights[0].colour, (Colour3DS{1, 0, 0}));
  EXPECT_TRUE(read.lights[0].isSpot);
  EXPECT_EQ(read.lights[0].spotTarget, (Vector{4, 5, 6}));
  EXPECT_EQ(read.lights[0].falloff, 45);
  ASSERT_EQ(read.cameras.size(), 1u);
  EXPECT_EQ(read.cameras[0].target, (Vector{4, 5, 6}));
  EXPECT_EQ(read.cameras[0].lens, 35);
  ASSERT_EQ(read.nodes.size(), 1u);
  EXPECT_EQ(read.nodes[0].kind, 0xB002);
  EXPECT_EQ(read.nodes[0].id, 4);
  EXPECT_EQ(read.nodes[0].name, "box");
  EXPECT_EQ(read.nodes[0].flags2, 2);
  EXPECT_EQ(read.nodes[0].instanceName, "copy");
}

TEST(Read3ds, ProjectAndLibraryMagicsAreWalked) {
  for (std::uint16_t magic : {0xC23D, 0x3DAA, 0x2D2D, 0x2D3D}) {
    const Recorder read = ReadBytes(Chunk(magic, Chunk(0x3D3D, kMesh) + Material("m")));
    EXPECT_EQ(read.meshes.size(), 1u) << magic;
    EXPECT_EQ(read.materials.size(), 1u) << magic;
  }
  // Ids outside the table are skipped with everything inside them.
  const Recorder read = ReadBytes(Chunk(0x1234, Chunk(0x3D3D, kMesh)) + Main(Material("m")));
  EXPECT_TRUE(read.meshes.empty());
  EXPECT_EQ(read.materials.size(), 1u);
}

TEST(Read3ds, HostileChunkLengthsStayInsideTheirParent) {
  // Length 0 ends the walk of its parent: the material after it is not seen.
  Recorder read = ReadBytes(Main(kMesh + ChunkWithLength(0x0002, 0, "") + Material("m")));
  EXPECT_EQ(read.meshes.size(), 1u);
  EXPECT_TRUE(read.materials.empty());
  // Lengths 1 to 5 cannot hold a header and end the walk too.
  read = ReadBytes(Main(ChunkWithLength(0x0002, 3, "") + Material("m")));
  EXPECT_TRUE(read.materials.empty());
  // A main chunk claiming 0xFFFFFFFF bytes is cut to the file.
  read = ReadBytes(ChunkWithLength(0x4D4D, 0xFFFFFFFF, Chunk(0x3D3D, kMesh)));
  EXPECT_EQ(read.meshes.size(), 1u);
  // A point list claiming more than its mesh holds: the sibling face list is
  // not read as points, and the faces still arrive.
  const std::string points = U16(1) + F32(1) + F32(2) + F32(3);
  read = ReadBytes(Main(Chunk(0x4000, Name("o") + Chunk(0x4100, ChunkWithLength(0x4110, 5000, points) +
                                                                 Faces({{0, 0, 0}})))));
  ASSERT_EQ(read.meshes.size(), 1u);
  EXPECT_EQ(read.meshes[0].points.size(), 1u);
  EXPECT_TRUE(read.meshes[0].faces.empty());  // swallowed by the cut point chunk
  // Counts beyond the chunk's bytes keep only what is there.
  read = ReadBytes(Main(Object("o", Chunk(0x4110, U16(65535) + F32(1) + F32(2) + F32(3)) +
                                        Chunk(0x4120, U16(65535) + U16(0) + U16(0) + U16(0) + U16(0)) +
                                        Chunk(0x4130, Name("g") + U16(65535) + U16(0)))));
  ASSERT_EQ(read.meshes.size(), 1u);
  EXPECT_EQ(read.meshes[0].points.size(), 1u);
  EXPECT_EQ(read.meshes[0].faces.size(), 1u);
  ASSERT_EQ(read.meshes[0].groups.size(), 1u);
  EXPECT_EQ(read.meshes[0].groups[0].faces.size(), 1u);
}

TEST(Read3ds, DeepNestingIsCutOff) {
  // `levels` main chunks, each holding the next, around a material.
  const auto nested = [](int levels, const std::string& inner) {
    std::string headers;
    for (int i = 0; i < levels; ++i) headers += U16(0x4D4D) + U32(std::uint32_t(6 * (levels - i) + inner.size()));
    return headers + inner;
  };
  EXPECT_TRUE(ReadBytes(nested(100000, Material("deep"))).materials.empty());
  EXPECT_EQ(ReadBytes(nested(kMax3DSDepth - 2, Material("shallow"))).materials.size(), 1u);
}

TEST(Read3ds, EveryTruncationReadsWhatIsThere) {
  const std::string full = Main(Material("m", Chunk(0xA020, Chunk(0x0010, F32(1) + F32(1) + F32(1)))) + kMesh);
  for (std::size_t length = 0; length < full.size(); ++length) {
    const Recorder read = ReadBytes(full.substr(0, length));
    ASSERT_LE(read.meshes.size(), 1u);
    if (!read.meshes.empty()) {
      const Mesh3DS& mesh = read.meshes[0];
      EXPECT_LE(mesh.points.size(), 4u);
      EXPECT_LE(mesh.faces.size(), 2u);
      EXPECT_TRUE(mesh.texCoords.empty() || mesh.texCoords.size() == mesh.points.size());
    }
  }
  EXPECT_EQ(ReadBytes(full).meshes.size(), 1u);
}

TEST(Read3ds, FileEntryPoint) {
  const ScratchFolder scratch;
  const fs::path path = scratch.Write("mesh.3ds", Main(kMesh));
  Recorder read;
  EXPECT_TRUE(Read3DSFile(path.string().c_str(), read));
  EXPECT_EQ(read.meshes.size(), 1u);
  fs::remove(path);
  EXPECT_FALSE(Read3DSFile(path.string().c_str(), read));
}

// Every 3DS file of the shared corpus reads and gives at least one mesh with
// faces whose indices lie inside its points.
TEST(Read3ds, CorpusFiles) {
  const fs::path corpus = fs::path(VERMELLE_CORPUS_DIR) / "3ds";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || extension == ".md" || extension == ".txt") continue;
    Recorder read;
    ASSERT_TRUE(Read3DSFile(entry.path().string().c_str(), read)) << entry.path();
    std::size_t validFaces = 0;
    for (const Mesh3DS& mesh : read.meshes) {
      for (const Face3DS& face : mesh.faces) {
        validFaces += std::max({face.a, face.b, face.c}) < mesh.points.size();
      }
    }
    EXPECT_GT(validFaces, 0u) << entry.path();
    ++files;
  }
  EXPECT_GE(files, 13);
}

}  // namespace
}  // namespace qx
