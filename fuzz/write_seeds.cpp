// Writes the starting corpus of every fuzz harness: small valid inputs of the
// kinds the tests build, one folder per harness under the folder given.
//
//   write_seeds OUT   ->  OUT/scene, OUT/scene_gz, OUT/import_obj, ...
//
// Generated at fuzz time so that no binary seed lives in the repository.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fan/bit_channel.h"
#include "fan/coding_order.h"
#include "fan/connectivity.h"
#include "fan/dense_connectivity.h"
#include "fan/coder_interfaces.h"
#include "fan/face_link.h"
#include "fan/fan_walk.h"
#include "fuzz/fuzz_support.h"
#include "import/import_options.h"
#include "import/importer.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/object_writer.h"
#include "stream/registry.h"
#include "tests/import/ac3d_lines.h"

namespace qx::fuzzing {
namespace {

namespace fs = std::filesystem;

void WriteSeed(const fs::path& folder, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary) << bytes;
}

std::string AsString(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// ---- Text model formats ------------------------------------------------------

// A bumpy 5 × 5 grid of quads: enough vertices for the builder to simplify.
std::string GridObj() {
  std::string text = "# grid\no grid\n";
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x)
      text += "v " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string((x * y) % 3) + "\n";
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const int p = y * 5 + x + 1;
      text += "f " + std::to_string(p) + " " + std::to_string(p + 1) + " " + std::to_string(p + 6) + " " +
              std::to_string(p + 5) + "\n";
    }
  return text;
}

const char kTetraStl[] =
    "solid tetra\n"
    "facet normal 0 0 -1\nouter loop\nvertex 0 0 0\nvertex 0 1 0\nvertex 1 0 0\nendloop\nendfacet\n"
    "facet normal 0 -1 0\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 0 1\nendloop\nendfacet\n"
    "facet normal -1 0 0\nouter loop\nvertex 0 0 0\nvertex 0 0 1\nvertex 0 1 0\nendloop\nendfacet\n"
    "facet normal 1 1 1\nouter loop\nvertex 1 0 0\nvertex 0 1 0\nvertex 0 0 1\nendloop\nendfacet\n"
    "endsolid tetra\n";

std::string LittleEndian32(uint32_t value) {
  return {char(value & 0xFF), char(value >> 8 & 0xFF), char(value >> 16 & 0xFF), char(value >> 24)};
}
std::string LittleFloat(float value) { return LittleEndian32(std::bit_cast<uint32_t>(value)); }
std::string LittleEndian16(uint32_t value) { return {char(value & 0xFF), char(value >> 8 & 0xFF)}; }

std::string BinaryTetraStl() {
  const float corners[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const int faces[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  std::string bytes(80, ' ');
  bytes += LittleEndian32(4);
  for (const auto& face : faces) {
    for (int i = 0; i < 3; ++i) bytes += LittleFloat(0);
    for (int corner : face)
      for (float c : corners[corner]) bytes += LittleFloat(c);
    bytes += LittleEndian16(0);
  }
  return bytes;
}

std::string TetraPly(const char* format) {
  std::string text = std::string("ply\nformat ") + format +
                     " 1.0\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
                     "element face 4\nproperty list uchar int vertex_indices\nend_header\n";
  if (std::string(format) == "ascii")
    return text + "0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 2 1\n3 0 1 3\n3 0 3 2\n3 1 2 3\n";
  const float corners[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const int faces[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  for (const auto& corner : corners)
    for (float c : corner) text += LittleFloat(c);
  for (const auto& face : faces) {
    text += char(3);
    for (int index : face) text += LittleEndian32(static_cast<uint32_t>(index));
  }
  return text;
}

const std::string kSquareAc =
    "AC3Db\n" + testing_ac3d::MaterialLine("red", "1 0 0", "0.2 0.2 0.2", "0 0 0", "0.5 0.5 0.5", "10", "0") +
    "OBJECT world\nkids 1\nOBJECT poly\nname \"square\"\nloc 1 0 0\nnumvert 4\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n"
    "numsurf 1\nSURF 0x10\nmat 0\nrefs 4\n0 0 0\n1 0 0\n2 0 0\n3 0 0\nkids 0\n";

const char kFacesDxf[] =
    "0\nSECTION\n2\nENTITIES\n"
    "0\n3DFACE\n8\n0\n10\n0\n20\n0\n30\n0\n11\n1\n21\n0\n31\n0\n12\n1\n22\n1\n32\n0\n13\n0\n23\n1\n33\n0\n"
    "0\nPOLYLINE\n8\n0\n66\n1\n70\n64\n71\n3\n72\n1\n"
    "0\nVERTEX\n10\n0\n20\n0\n30\n1\n70\n192\n0\nVERTEX\n10\n1\n20\n0\n30\n1\n70\n192\n"
    "0\nVERTEX\n10\n0\n20\n1\n30\n1\n70\n192\n0\nVERTEX\n70\n128\n71\n1\n72\n2\n73\n3\n0\nSEQEND\n"
    "0\nENDSEC\n0\nEOF\n";

const char kModelLdraw[] =
    "0 FILE main.ldr\n0 Main model\n1 4 0 0 0 1 0 0 0 1 0 0 0 1 sub.ldr\n"
    "3 16 0 0 0 1 0 0 0 1 0\n4 2 0 0 0 1 0 0 1 1 0 0 1 0\n2 24 0 0 0 1 1 1\n"
    "0 FILE sub.ldr\n0 Sub part\n3 16 0 0 1 1 0 1 0 1 1\n4 16 0 0 2 1 0 2 1 1 2 0 1 2\n";

// ---- Binary model formats (IFF chunks for LWO, little-endian chunks for 3DS)

std::string BigEndian16(uint32_t value) { return {char(value >> 8 & 0xFF), char(value & 0xFF)}; }
std::string BigEndian32(uint32_t value) { return BigEndian16(value >> 16) + BigEndian16(value & 0xFFFF); }
std::string BigFloat(float value) { return BigEndian32(std::bit_cast<uint32_t>(value)); }

std::string LwoChunk(const char* id, const std::string& body) {
  std::string bytes = std::string(id, 4) + BigEndian32(static_cast<uint32_t>(body.size())) + body;
  return body.size() % 2 ? bytes + '\0' : bytes;
}

std::string HouseLwo() {
  std::string points;
  const float house[5][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 1.5f, 0}};
  for (const auto& p : house) points += BigFloat(p[0]) + BigFloat(p[1]) + BigFloat(p[2]);
  std::string polygons = BigEndian16(5);
  for (int corner : {0, 1, 2, 4, 3}) polygons += BigEndian16(static_cast<uint32_t>(corner));
  polygons += BigEndian16(1);
  const std::string surface = std::string("Red\0", 4) + "COLR" + BigEndian16(4) + std::string("\xFF\0\0\0", 4);
  const std::string chunks = LwoChunk("SRFS", std::string("Red\0", 4)) + LwoChunk("PNTS", points) +
                             LwoChunk("POLS", polygons) + LwoChunk("SURF", surface);
  return "FORM" + BigEndian32(static_cast<uint32_t>(4 + chunks.size())) + "LWOB" + chunks;
}

std::string Chunk3ds(uint16_t id, const std::string& data) {
  return LittleEndian16(id) + LittleEndian32(static_cast<uint32_t>(6 + data.size())) + data;
}

std::string Tetra3ds() {
  std::string points = LittleEndian16(4);
  const float corners[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (const auto& c : corners) points += LittleFloat(c[0]) + LittleFloat(c[1]) + LittleFloat(c[2]);
  std::string faces = LittleEndian16(4);
  const int corners3[4][3] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  for (const auto& f : corners3)
    for (int i = 0; i < 4; ++i) faces += LittleEndian16(i < 3 ? static_cast<uint32_t>(f[i]) : 7);
  const std::string group = Chunk3ds(0x4130, std::string("red\0", 4) + LittleEndian16(2) + LittleEndian16(0) +
                                                 LittleEndian16(3));
  const std::string colour = Chunk3ds(0x0011, std::string("\xFF\x00\x00", 3));
  const std::string material =
      Chunk3ds(0xAFFF, Chunk3ds(0xA000, std::string("red\0", 4)) + Chunk3ds(0xA020, colour));
  const std::string mesh = Chunk3ds(0x4110, points) + Chunk3ds(0x4120, faces + group);
  const std::string object = Chunk3ds(0x4000, std::string("tetra\0", 6) + Chunk3ds(0x4100, mesh));
  return Chunk3ds(0x4D4D, Chunk3ds(0x3D3D, material + object));
}

void WriteModelSeeds(const fs::path& out) {
  WriteSeed(out / "import_obj", "grid.obj", GridObj());
  WriteSeed(out / "import_stl", "tetra_ascii.stl", kTetraStl);
  WriteSeed(out / "import_stl", "tetra_binary.stl", BinaryTetraStl());
  WriteSeed(out / "import_ply", "tetra_ascii.ply", TetraPly("ascii"));
  WriteSeed(out / "import_ply", "tetra_binary.ply", TetraPly("binary_little_endian"));
  WriteSeed(out / "import_ac", "square.ac", kSquareAc);
  WriteSeed(out / "import_dxf", "faces.dxf", kFacesDxf);
  WriteSeed(out / "import_ldr", "model.ldr", kModelLdraw);
  WriteSeed(out / "import_lwo", "house.lwo", HouseLwo());
  WriteSeed(out / "import_3ds", "tetra.3ds", Tetra3ds());
}

// ---- Scenes ------------------------------------------------------------------

void WriteSceneSeeds(const fs::path& out) {
  QXScene empty;
  WriteSeed(out / "scene", "empty.qx4", AsString(EncodeScene(empty)));
  const std::string obj = GridObj();
  const std::string model =
      WriteScratchFile("grid.obj", {reinterpret_cast<const uint8_t*>(obj.data()), obj.size()});
  ImportOptions options = ImportOptions::Defaults(ModelFormat::FmtOBJ);
  options.simplificationLevel = 0.5f;
  // geometry coder, predictor, connectivity coder
  const int choices[][3] = {{0, 0, 0}, {1, 0, 1}, {2, 1, 1}, {3, 0, 1}, {3, 1, 0}, {4, 1, 2}};
  for (const auto& choice : choices) {
    std::unique_ptr<QXScene> scene = ImportModel(model, options);
    if (!scene) continue;
    scene->GeoMode = choice[0];
    scene->PredMode = choice[1];
    scene->ConnectMode = choice[2];
    scene->BitsError = 0.01f;
    const std::string name =
        "grid_" + std::to_string(choice[0]) + std::to_string(choice[1]) + std::to_string(choice[2]);
    WriteSeed(out / "scene", name + ".qx4", AsString(EncodeScene(*scene)));
    fs::create_directories(out / "scene_gz");
    SaveScene(*scene, (out / "scene_gz" / (name + ".qxz")).string(), true);
  }
}

// ---- Settings ----------------------------------------------------------------

void WriteSettingsSeeds(const fs::path& out) {
  WriteSeed(out / "settings", "vermelle.ini",
            "; settings\r\n[WinScene]\r\nSmoothAngle=0.500000\r\nDrawMode=6913\r\nBackColor=16777215\r\n"
            "[DlgImport]\r\nFlipFaces=1\r\nSimplificationLevel=\"0.250000\"\r\nLDrawDir=/usr/share/ldraw\r\n"
            "[DlgSaveQX]\r\nBitsError=12\r\nDefaultFile='scene.qxz'\r\n[DlgLoadQX]\r\nSpeedModem=-3\r\n");
}

// ---- Bit streams -------------------------------------------------------------

void WriteRingSeeds(const fs::path& out) {
  for (uint8_t selector : {0, 1}) {
    std::unique_ptr<QXPck> mesh = MakeReferenceMesh();
    CoderChoice choice;
    choice.connectMode = selector;
    std::unique_ptr<ConnectivityCoder> coder = MakeConnectivityCoder(choice, *mesh);
    MemoryObjectWriter stream;
    BitChannel bits(stream);
    for (VertexIndex v = mesh->vertexCount - 1; v >= 1; --v) coder->EncodeRing(bits, *mesh, v, ClosedRing(*mesh, v));
    bits.Finish();
    WriteSeed(out / "decode_ring", "grid_" + std::to_string(selector), char(selector) + AsString(stream.Bytes()));
  }
}

void WriteVertexSeeds(const fs::path& out) {
  for (int selector = 0; selector < kGeometryChoiceCount; ++selector) {
    std::unique_ptr<QXPck> mesh = MakeReferenceMesh();
    std::unique_ptr<GeometryCoder> coder =
        MakeGeometryCoder(GeometryChoice(static_cast<uint8_t>(selector)), *mesh);
    MemoryObjectWriter stream;
    BitChannel bits(stream);
    for (VertexIndex v = mesh->vertexCount - 1; v >= 1; --v) coder->EncodeVertex(bits, *mesh, v);
    bits.Finish();
    WriteSeed(out / "decode_vertex", "grid_" + std::to_string(selector),
              char(selector) + AsString(stream.Bytes()));
  }
}

// The dense coders of the reference mesh, as the mesh packer drives them;
// selectors with the top bit set take the connectivity coder's first
// version, with the next bit its second, those with kFirstGeometryVersion
// the geometry coder's first. The current connectivity version's seeds come
// in the mesh's own order (new dependencies named by rank) and renumbered
// into coding order (named by block); the stream's decoder takes either.
void WriteDenseSeeds(const fs::path& out) {
  for (int selector : {0, 1, 2, 3, 4, 5, 0x20, 0x21, 0x24, 0x25, 0x40, 0x41, 0x80, 0x81, 0x82}) {
    for (bool renumbered : {false, true}) {
      if (renumbered && selector >= 0x40) continue;
      std::unique_ptr<QXPck> mesh = MakeReferenceMesh();
      if (renumbered) RenumberForDenseCoding(*mesh);
      const CoderChoice choice = DenseChoice(static_cast<uint8_t>(selector % kDenseChoiceCount));
      std::unique_ptr<ConnectivityCoder> connectivity = MakeConnectivityCoder(choice, *mesh);
      const ClassDescriptor* older = selector & 0x80   ? &ConnectivityDense::kFirstVersion
                                     : selector & 0x40 ? &ConnectivityDense::kSecondVersion
                                                       : nullptr;
      if (older) connectivity.reset(static_cast<ConnectivityCoder*>(older->Factory()()));
      std::unique_ptr<GeometryCoder> geometry = DenseGeometryWriter(static_cast<uint8_t>(selector), *mesh);
      MemoryObjectWriter stream;
      BitChannel bits(stream);
      for (VertexIndex v = mesh->vertexCount - 1; v >= 1; --v) {
        connectivity->EncodeRing(bits, *mesh, v, ClosedRing(*mesh, v));
        geometry->EncodeVertex(bits, *mesh, v);
      }
      bits.Finish();
      WriteSeed(out / "decode_dense", (renumbered ? "levels_" : "grid_") + std::to_string(selector),
                char(selector) + AsString(stream.Bytes()));
    }
  }
}

}  // namespace
}  // namespace qx::fuzzing

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  qx::RegisterStandardClasses();
  qx::fuzzing::WriteModelSeeds(out);
  qx::fuzzing::WriteSceneSeeds(out);
  qx::fuzzing::WriteSettingsSeeds(out);
  qx::fuzzing::WriteRingSeeds(out);
  qx::fuzzing::WriteVertexSeeds(out);
  qx::fuzzing::WriteDenseSeeds(out);
  std::filesystem::remove_all(qx::fuzzing::ScratchFolder());
  return 0;
}
