#include "fan/geometry_coders.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "fan/bit_channel.h"
#include "fan/connectivity.h"
#include "fan/pck.h"
#include "fan/predictors.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"
#include "stream/registry.h"
#include "tests/fan/coder_round_trip.h"
#include "tests/fan/progressive_grid.h"

namespace qx {
namespace {

using testing_coders::ThroughStream;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class Registered : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
};

std::vector<uint8_t> Record(PersistentObject& object) {
  MemoryObjectWriter out;
  EXPECT_TRUE(out.WriteObject(&object));
  return out.Bytes();
}

void PatchFloat(std::vector<uint8_t>& bytes, size_t offset, float value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

// Record offsets behind the coder's header (4), its class (13) and an empty
// predictor record (4 + 13).
constexpr size_t kBitsErrorOffset = 34;

TEST(GeoBits, ComeFromTheErrorFraction) {
  EXPECT_EQ(BitsForError(0.01f), 7);
  EXPECT_EQ(BitsForError(0.5f), 1);
  EXPECT_EQ(BitsForError(0.25f), 2);
  EXPECT_EQ(BitsForError(1.0f), 0);
  EXPECT_EQ(BitsForError(3.0f), 0);
  EXPECT_EQ(BitsForError(0.0f), 32);
  EXPECT_EQ(BitsForError(-1.0f), 32);
  EXPECT_EQ(BitsForError(kNaN), 32);
  EXPECT_EQ(BitsForError(1e-38f), 32);  // ⌈log2 1e38⌉ = 127 is no field width
  EXPECT_EQ(BitsForError(kInf), 0);
}

TEST(GeoQuantiser, ClampsToTheRangeAndReconstructsLowerCellEdges) {
  EXPECT_EQ(Quantise(1.0f, 4, -1, 1, 1), 15u);  // exactly hi
  EXPECT_EQ(Quantise(-1.5f, 4, -1, 1, 1), 0u);
  EXPECT_EQ(Quantise(kNaN, 4, -1, 1, 1), 0u);
  EXPECT_EQ(Quantise(0.3f, 2, -1, 1, 1), 2u);
  EXPECT_EQ(Reconstruct(3, 2, -1, 1), 0.5f);
  EXPECT_EQ(Reconstruct(0, 0, -1, 1), -1.0f);  // no bits: lo
  // Just below hi the cell rounds up to F; it must stay in its b bits.
  EXPECT_EQ(Quantise(std::nextafter(1.0f, 0.0f), 24, -1, 1, 1), (1u << 24) - 1);
  EXPECT_EQ(Quantise(std::nextafter(1.0f, 0.0f), 32, -1, 1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(Quantise(0.5f, 32, 0, 1, 0.5f), 0x80000000u);
  EXPECT_EQ(Reconstruct(0x80000000u, 32, 0, 0.5f), 0.5f);
}

TEST(GeoQuantiser, OddRangesGiveCodesWithinTheirBits) {
  for (float half : {0.0f, -1.0f, kNaN, kInf, 1e-40f, 3e38f})
    for (float x : {0.0f, 0.5f, -1.0f, kInf, -kInf, kNaN, 3e38f})
      for (int bits : {0, 1, 7, 31, 32}) {
        const uint32_t top = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        EXPECT_LE(Quantise(x, bits, -half, half, half), top) << x << " " << half << " " << bits;
      }
}

// d' = (r·cos θ·cos φ, r·sin θ·cos φ, r·sin φ), each product left to right.
// For these angles (r·cos φ)·cos θ would give x one unit in the last place
// lower and y one higher, so a round trip that reorders both sides alike
// passes while files differ from another reader's.
TEST(GeoPolarResidual, MultipliesInTheWrittenOrder) {
  const float r = 0.75f, theta = 0x1.2e147cp-2f, phi = 0x1.9eb854p-2f;  // θ ≈ 0.295, φ ≈ 0.405
  ASSERT_EQ(std::cos(theta), 0x1.e9e1f8p-1f) << "the math library rounds differently";
  ASSERT_EQ(std::sin(theta), 0x1.29b7b6p-2f);
  ASSERT_EQ(std::cos(phi), 0x1.d69496p-1f);
  ASSERT_EQ(std::sin(phi), 0x1.9379aap-2f);
  // r·cos θ = 0x1.6f697ap-1 and r·sin θ = 0x1.be939p-3, each then times cos φ.
  const Vector d = PolarResidual(r, theta, phi);
  EXPECT_EQ(d.x, 0x1.51b074p-1f);  // (r·cos φ)·cos θ: 0x1.51b072p-1
  EXPECT_EQ(d.y, 0x1.9a730ep-3f);  // (r·cos φ)·sin θ: 0x1.9a731p-3
  EXPECT_EQ(d.z, 0x1.2e9b4p-2f);
}

TEST(GeoRawPosition, IsTheTwelveBytesOfThePosition) {
  const Vector position{1.5f, -2.25f, 3e7f};
  MemoryObjectWriter out;
  BitChannel bits(out);
  ASSERT_TRUE(WriteRawPosition(bits, position));
  ASSERT_TRUE(bits.Finish());
  ASSERT_EQ(out.Bytes().size(), 16u);
  EXPECT_EQ(std::memcmp(out.Bytes().data(), &position, 12), 0);

  MemoryObjectReader in(out.Bytes());
  BitChannel reading(in);
  Vector read;
  ASSERT_TRUE(ReadRawPosition(reading, read));
  EXPECT_EQ(read, position);
  MemoryObjectReader shortIn{std::span(out.Bytes()).first(8)};
  BitChannel shortReading(shortIn);
  EXPECT_FALSE(ReadRawPosition(shortReading, read));
}

// ---- Set-up and parameter records ----------------------------------------------

using GeoSetUp = Registered;

TEST_F(GeoSetUp, WithoutRefinementVerticesEverythingIsRaw) {
  auto mesh = testing_coders::MakeProgressiveGrid(4, 4, 0);
  ASSERT_EQ(mesh->splitIndex, 1);
  GeoQuantum quantum(*mesh, std::make_unique<GPCentroide>(), 0.01f);
  EXPECT_TRUE(quantum.Range().Empty());
  GeoPolarAdaptativo adaptive(*mesh, std::make_unique<GPCentroide>(), 0.01f);
  EXPECT_EQ(adaptive.Table()[0], 0);
  // bitsError, margin, Rmax and one 4-byte table entry.
  EXPECT_EQ(Record(adaptive).size(), kBitsErrorOffset + 4 + 4 + 4 + 4);

  ConnectivityRaw connectivity;
  GeometryRaw raw;
  auto copy = testing_coders::MakeProgressiveGrid(4, 4, 0);
  EXPECT_EQ(testing_coders::EncodeMesh(*mesh, connectivity, quantum).bytes,
            testing_coders::EncodeMesh(*copy, connectivity, raw).bytes);
}

TEST_F(GeoSetUp, AdaptiveTableEntriesKeepTheirWidths) {
  auto mesh = testing_coders::MakeProgressiveGrid(4, 4, 0);
  GeoPolarAdaptativo adaptive(*mesh, std::make_unique<GPButterfly>(), 0.01f);
  // A second 256 would not fit in the one byte that 256 - 1 needs.
  adaptive.SetTable({300, 256, 256, 100, 1});
  EXPECT_EQ(std::vector<int32_t>(adaptive.Table().begin(), adaptive.Table().begin() + 5),
            (std::vector<int32_t>{300, 256, 255, 100, 1}));
  std::vector<uint8_t> bytes = Record(adaptive);
  EXPECT_EQ(bytes.size(), kBitsErrorOffset + 12 + 4 + 2 + 1 + 1 + 1);
  MemoryObjectReader in(bytes);
  std::unique_ptr<GeoPolarAdaptativo> read(in.ReadNewObjectAs<GeoPolarAdaptativo>());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(std::vector<int32_t>(read->Table().begin(), read->Table().begin() + 5),
            (std::vector<int32_t>{300, 256, 255, 100, 1}));

  // 32 entries, all above 1: the reader ends the table with entry 32 = 1.
  std::array<int32_t, 32> full;
  for (int k = 0; k < 32; ++k) full[k] = 1000 - k;
  adaptive.SetTable(full);
  bytes = Record(adaptive);
  EXPECT_EQ(bytes.size(), kBitsErrorOffset + 12 + 4 + 31 * 2);
  MemoryObjectReader fullIn(bytes);
  read.reset(fullIn.ReadNewObjectAs<GeoPolarAdaptativo>());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Table(), adaptive.Table());
  EXPECT_EQ(read->Table()[32], 1);
}

// The three quantising coders, set up on one mesh with one predictor.
std::unique_ptr<GeometryCoder> MakeQuantising(int geoMode, int predMode, float bitsError, QXPck& mesh) {
  return MakeGeometryCoder(CoderChoice{predMode, geoMode, 1, bitsError}, mesh);
}

TEST_F(GeoSetUp, ParameterRecordsRoundTrip) {
  auto mesh = testing_coders::MakeProgressiveGrid(9, 8, 50);
  for (int geoMode : {1, 2, 3}) {
    SCOPED_TRACE(geoMode);
    auto coder = MakeQuantising(geoMode, 1, 0.02f, *mesh);
    auto& written = dynamic_cast<GeoQuantum&>(*coder);
    auto read = ThroughStream(written);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->GetClass(), written.GetClass());
    EXPECT_EQ(read->GetPredictor()->GetClass(), &GPButterfly::kClass);
    EXPECT_EQ(read->BitsError(), 0.02f);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(read->Bits(i), written.Bits(i));
      EXPECT_EQ(read->Lo()[i], written.Lo()[i]);
      EXPECT_EQ(read->Hi()[i], written.Hi()[i]);
    }
    if (geoMode != 3) continue;
    const auto& want = dynamic_cast<GeoPolarAdaptativo&>(written);
    const auto& got = dynamic_cast<GeoPolarAdaptativo&>(*read);
    EXPECT_EQ(got.Margin(), want.Margin());
    EXPECT_GT(want.Table()[0], 1);
    for (int k = 0; k <= 32; ++k) {  // up to where the stored table ends
      EXPECT_EQ(got.Table()[k], want.Table()[k]) << k;
      if (want.Table()[k] < 2) break;
    }
  }
}

TEST_F(GeoSetUp, TruncatedParameterRecordsReadAsNothing) {
  auto mesh = testing_coders::MakeProgressiveGrid(6, 6, 20);
  for (int geoMode : {1, 2, 3}) {
    auto coder = MakeQuantising(geoMode, 0, 0.01f, *mesh);
    const std::vector<uint8_t> bytes = Record(*coder);
    for (size_t length = 0; length < bytes.size(); ++length) {
      MemoryObjectReader in{std::span(bytes).first(length)};
      std::unique_ptr<PersistentObject> read(in.ReadNewObjectAs<PersistentObject>());
      EXPECT_EQ(read, nullptr) << geoMode << " " << length;
    }
  }
}

// Decodes random bits into every refinement vertex of a copy of `mesh`.
void DecodeNoise(GeometryCoder& coder, const QXPck& mesh, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> noise(4096);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
  MemoryObjectReader in(noise);
  BitChannel bits(in);
  auto target = testing_coders::EmptyLike(mesh);
  for (VertexIndex v = 1; v < mesh.vertexCount; ++v) {
    FaceList ring = RecordLinks(mesh.Record(v), false);
    CloseRing(v, ring);
    target->records[v] = BuildRecord(v, ring);
  }
  for (VertexIndex v = mesh.vertexCount - 1; v >= 1; --v) {
    Vector position;
    ASSERT_TRUE(coder.DecodeVertex(bits, *target, v, position)) << v;
    target->vertices[v].position = position;
  }
}

TEST_F(GeoSetUp, HostileParametersNeverCrashTheDecoder) {
  auto mesh = testing_coders::MakeProgressiveGrid(6, 6, 20);
  const float odd[] = {kNaN, kInf, -kInf, 0.0f, -1.0f, 1e-45f, 3e38f};
  for (float value : odd) {
    SCOPED_TRACE(value);
    for (int geoMode : {1, 2}) {
      auto coder = MakeQuantising(geoMode, 1, 0.01f, *mesh);
      std::vector<uint8_t> bytes = Record(*coder);
      for (size_t field = kBitsErrorOffset; field < bytes.size(); field += 4) PatchFloat(bytes, field, value);
      MemoryObjectReader in(bytes);
      std::unique_ptr<GeometryCoder> read(in.ReadNewObjectAs<GeometryCoder>());
      ASSERT_NE(read, nullptr);
      DecodeNoise(*read, *mesh, 1);
    }
    GeoPolarAdaptativo adaptive(*mesh, std::make_unique<GPButterfly>(), 0.01f);
    std::array<int32_t, 32> huge;
    for (int k = 0; k < 32; ++k) huge[k] = 0x7FFFFFFF - k;  // every vertex narrows 32 times
    adaptive.SetTable(huge);
    std::vector<uint8_t> bytes = Record(adaptive);
    for (size_t field = kBitsErrorOffset; field < kBitsErrorOffset + 12; field += 4) PatchFloat(bytes, field, value);
    MemoryObjectReader in(bytes);
    std::unique_ptr<GeometryCoder> read(in.ReadNewObjectAs<GeometryCoder>());
    ASSERT_NE(read, nullptr);
    DecodeNoise(*read, *mesh, 2);
  }
}

// ---- Whole meshes -------------------------------------------------------------------

// geoMode, predMode, bitsError
using RoundTripCase = std::tuple<int, int, float>;

class GeoRoundTrip : public testing::TestWithParam<RoundTripCase> {
 protected:
  void SetUp() override {
    RegisterStandardClasses();
    mesh = testing_coders::MakeProgressiveGrid(11, 9, 70, 13);
    for (const FanVertex& vertex : mesh->vertices) original.push_back(vertex.position);
    const auto [geoMode, predMode, bitsError] = GetParam();
    writer = MakeGeometryCoder(CoderChoice{predMode, geoMode, 1, bitsError}, *mesh);
    header = Record(*writer);  // written before coding, as the mesh header is
    ConnectivityModelo2 connectivity(*mesh);
    encoded = testing_coders::EncodeMesh(*mesh, connectivity, *writer);
  }
  void TearDown() override { ClearClassRegistry(); }

  // Decodes `length` bytes of the stream with coders read from the header.
  std::unique_ptr<QXPck> Decode(size_t length, VertexIndex& lowest) const {
    MemoryObjectReader in(header);
    std::unique_ptr<GeometryCoder> reader(in.ReadNewObjectAs<GeometryCoder>());
    EXPECT_NE(reader, nullptr);
    auto decoded = testing_coders::EmptyLike(*mesh);
    ConnectivityModelo2 connectivity;
    lowest = testing_coders::DecodeMesh(std::span(encoded.bytes).first(length), *decoded, connectivity, *reader);
    return decoded;
  }

  std::unique_ptr<QXPck> mesh;
  std::vector<Vector> original;
  std::unique_ptr<GeometryCoder> writer;
  std::vector<uint8_t> header;
  testing_coders::EncodedMesh encoded;
};

TEST_P(GeoRoundTrip, ReaderGetsExactlyThePositionsTheWriterLeft) {
  VertexIndex lowest;
  auto decoded = Decode(encoded.bytes.size(), lowest);
  EXPECT_EQ(lowest, 1);
  testing_coders::ExpectDecodedAsWritten(encoded, *mesh, *decoded, 1);

  // The quantisation error stays near the requested fraction of the mesh.
  const auto [geoMode, predMode, bitsError] = GetParam();
  if (bitsError == 0 && geoMode == 3) return;  // no error bound, no angle bits
  const float size = 2 * std::max({mesh->box.half.x, mesh->box.half.y, mesh->box.half.z});
  const float tolerance = bitsError == 0 ? 1e-4f : 10 * bitsError * size;
  float worst = 0;
  for (VertexIndex v = 1; v < mesh->vertexCount; ++v)
    worst = std::max(worst, Length(mesh->vertices[v].position - original[v]));
  EXPECT_LT(worst, tolerance);
  EXPECT_GT(mesh->splitIndex, 40);
}

TEST_P(GeoRoundTrip, EveryPrefixDecodesCleanly) {
  VertexIndex previous = mesh->vertexCount;
  for (size_t length = 0; length <= encoded.bytes.size(); length += 4) {
    VertexIndex lowest;
    auto decoded = Decode(length, lowest);
    EXPECT_LE(lowest, previous);
    previous = lowest;
    testing_coders::ExpectDecodedAsWritten(encoded, *mesh, *decoded, lowest);
  }
}

std::string CaseName(const testing::TestParamInfo<RoundTripCase>& info) {
  static const char* const kCoders[] = {"", "Quantum", "Polar", "Adaptativo"};
  const auto [geoMode, predMode, bitsError] = info.param;
  return std::string(kCoders[geoMode]) + (predMode ? "Butterfly" : "Centroide") + "Error" +
         std::to_string(static_cast<int>(bitsError * 1000));
}

INSTANTIATE_TEST_SUITE_P(Coders, GeoRoundTrip,
                         testing::Combine(testing::Values(1, 2, 3), testing::Values(0, 1),
                                          testing::Values(0.01f, 0.001f, 0.0f)),
                         CaseName);

}  // namespace
}  // namespace qx
