#include "fan/connectivity.h"

#include <array>
#include <bitset>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fan/bit_channel.h"
#include "fan/edge_dependency.h"
#include "fan/geometry_coders.h"
#include "fan/pck.h"
#include "stream/object_reader.h"
#include "stream/object_writer.h"
#include "tests/fan/coder_round_trip.h"
#include "tests/fan/progressive_grid.h"

namespace qx {
namespace {

using testing_coders::DecodeMesh;
using testing_coders::EmptyLike;
using testing_coders::EncodeMesh;
using testing_coders::ExpectDecodedAsWritten;

struct RingLink {
  VertexIndex a, dependency;
};

// A closed ring: each link's b is the next link's a.
FaceList MakeRing(std::vector<RingLink> links) {
  FaceList ring;
  for (size_t i = links.size(); i-- > 0;)
    ring.PushFront(links[i].a, links[(i + 1) % links.size()].a, 0, links[i].dependency);
  return ring;
}

std::vector<RingLink> Links(const FaceList& ring) {
  std::vector<RingLink> links;
  for (const FaceLink& link : ring) links.push_back({link.a, link.dependency});
  return links;
}

bool operator==(const RingLink& x, const RingLink& y) { return x.a == y.a && x.dependency == y.dependency; }

// The first `count` bits of a stream as '0'/'1', in channel order.
std::string BitString(const std::vector<uint8_t>& bytes, uint64_t count) {
  MemoryObjectReader in(bytes);
  BitChannel bits(in);
  std::string text;
  bool bit;
  while (text.size() < count && bits.ReadBit(bit)) text += bit ? '1' : '0';
  return text;
}

// A stream made of the given '0'/'1' fields.
std::vector<uint8_t> StreamOf(const std::string& text) {
  MemoryObjectWriter out;
  BitChannel bits(out);
  for (char c : text)
    if (c == '0' || c == '1') bits.WriteBit(c == '1');
  bits.Finish();
  return out.Bytes();
}

// A mesh of n vertices with no records, nothing searched as base.
std::unique_ptr<QXPck> BareMesh(int32_t n) {
  auto mesh = std::make_unique<QXPck>();
  mesh->Create(n);
  mesh->splitIndex = n;
  mesh->pendingCount = n;
  return mesh;
}

struct Tri {
  VertexIndex a, b, dependency;
};

// Gives v the record of the triangles (v, a, b).
void SetRecord(QXPck& mesh, VertexIndex v, std::vector<Tri> triangles) {
  FaceList links;
  for (const Tri& t : triangles) links.PushFront(t.a, t.b, 0, t.dependency);
  CloseRing(v, links);
  mesh.records[static_cast<size_t>(v)] = BuildRecord(v, links);
}

TEST(ConnectivityWidths, FollowTheBitLengthOfTheRanges) {
  EXPECT_EQ(BitLength(0), 0);
  EXPECT_EQ(BitLength(1), 1);
  EXPECT_EQ(BitLength(255), 8);
  EXPECT_EQ(BitLength(256), 9);
  EXPECT_EQ(BitLength(0x00FFFFFF), 24);
  EXPECT_EQ(BitLength(0x80000000u), 32);
  EXPECT_EQ(DependencyBits(1), 1);
  EXPECT_EQ(DependencyBits(2), 2);
  EXPECT_EQ(DependencyBits(3), 2);
  EXPECT_EQ(DependencyBits(4), 3);
  EXPECT_EQ(OffsetBits(10, 9), 0);
  EXPECT_EQ(OffsetBits(10, 8), 1);
  EXPECT_EQ(OffsetBits(10, 5), 3);
  EXPECT_EQ(OffsetBits(257, 0), 9);
}

// ---- ConnectivityRaw ------------------------------------------------------------

TEST(ConnectivityRaw, CodesOffsetAndDependencyPerLinkThenATerminator) {
  auto mesh = BareMesh(10);
  ConnectivityRaw coder;
  MemoryObjectWriter out;
  BitChannel bits(out);
  ASSERT_TRUE(coder.EncodeRing(bits, *mesh, 5, MakeRing({{6, 2}, {7, 2}, {9, 5}})));
  ASSERT_TRUE(bits.Finish());
  EXPECT_EQ(BitString(out.Bytes(), 21), "001010" "010010" "100101" "000");

  MemoryObjectReader in(out.Bytes());
  BitChannel reading(in);
  FaceList ring;
  ASSERT_TRUE(coder.DecodeRing(reading, *mesh, 5, ring));
  EXPECT_EQ(Links(ring), (std::vector<RingLink>{{6, 2}, {7, 2}, {9, 5}}));
  EXPECT_EQ(ring.Front()->b, 7);
  EXPECT_EQ(ring.Front()->next->next->b, 6);  // the ring closes on its first a
}

TEST(ConnectivityRaw, TopVertexCodesNothing) {
  auto mesh = BareMesh(10);
  ConnectivityRaw coder;
  MemoryObjectWriter out;
  BitChannel bits(out);
  ASSERT_TRUE(coder.EncodeRing(bits, *mesh, 9, FaceList{}));
  EXPECT_EQ(bits.TotalBits(), 0u);

  MemoryObjectReader empty(std::span<const uint8_t>{});
  BitChannel reading(empty);
  FaceList ring;
  EXPECT_TRUE(coder.DecodeRing(reading, *mesh, 9, ring));
  EXPECT_TRUE(ring.Empty());
}

TEST(ConnectivityRaw, EncoderRefusesNeighboursAndDependenciesOutOfRange) {
  auto mesh = BareMesh(10);
  ConnectivityRaw coder;
  MemoryObjectWriter out;
  BitChannel bits(out);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(coder.EncodeRing(bits, *mesh, 5, MakeRing({{6, 2}, {5, 2}})));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error grave!!");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(coder.EncodeRing(bits, *mesh, 5, MakeRing({{6, 2}, {7, 6}})));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error grave Dep!!");
}

TEST(ConnectivityRaw, DecoderRefusesFieldsTheMeshCannotHold) {
  auto mesh = BareMesh(10);  // v = 5: offsets in 3 bits, dependencies in 3 bits
  ConnectivityRaw coder;
  FaceList ring;
  auto decode = [&](const std::string& fields) {
    const std::vector<uint8_t> bytes = StreamOf(fields);
    MemoryObjectReader in(bytes);
    BitChannel bits(in);
    testing::internal::CaptureStdout();
    const bool ok = coder.DecodeRing(bits, *mesh, 5, ring);
    return std::make_pair(ok, testing::internal::GetCapturedStdout());
  };
  EXPECT_EQ(decode("001 010 101 000 000"), std::make_pair(false, std::string("Error muy grave")));
  EXPECT_EQ(decode("001 110 000"), std::make_pair(false, std::string("Error muy grave Dep")));
  EXPECT_TRUE(ring.Empty());
  MemoryObjectReader empty(std::span<const uint8_t>{});
  BitChannel nothing(empty);
  EXPECT_FALSE(coder.DecodeRing(nothing, *mesh, 5, ring));  // the stream ends first

  // The ring size is one byte: 255 links decode, 256 do not.
  auto big = BareMesh(400);
  for (int links : {255, 256}) {
    std::string fields;
    for (int i = 1; i <= links; ++i) {
      fields += std::bitset<9>(static_cast<unsigned>(i)).to_string();
      fields += '0';
    }
    fields += "000000000";
    const std::vector<uint8_t> bytes = StreamOf(fields);
    MemoryObjectReader in(bytes);
    BitChannel bits(in);
    EXPECT_EQ(coder.DecodeRing(bits, *big, 1, ring), links == 255) << links;
  }
}

// ---- ConnectivityModelo2 ----------------------------------------------------------

TEST(ConnectivityModelo2, AnnouncedTrianglesLeaveTheBoundaryOfTheirUnion) {
  auto mesh = BareMesh(10);
  ConnectivityModelo2 coder(*mesh);
  ASSERT_TRUE(coder.AddPrediction(2, 5, 6, 7));
  ASSERT_TRUE(coder.AddPrediction(2, 5, 7, 8));  // shares 5-7 with the first
  ASSERT_TRUE(coder.AddPrediction(0, 5, 8, 9));  // dependency 0 announces nothing
  std::vector<std::array<VertexIndex, 3>> links;
  for (const FaceLink& link : coder.Predicted(2)) links.push_back({link.a, link.b, link.dependency});
  // Newest edges first; each link carries the corner opposite its edge.
  EXPECT_EQ(links, (std::vector<std::array<VertexIndex, 3>>{{8, 5, 7}, {7, 8, 5}, {6, 7, 5}, {5, 6, 7}}));
  EXPECT_TRUE(coder.Predicted(0).Empty());

  VertexIndex corner = -1;
  EXPECT_FALSE(coder.AddPrediction(3, 4, 6, 6, &corner));
  EXPECT_EQ(corner, 4);
}

// Predicted lists for vertex 2 of a 10-vertex mesh: the hole 5-6-7-8.
void AnnounceHole(ConnectivityModelo2& coder) {
  coder.AddPrediction(2, 5, 6, 7);
  coder.AddPrediction(2, 5, 7, 8);
}

TEST(ConnectivityModelo2, PredictedRingCostsOneBitPlusTheDependencies) {
  auto mesh = BareMesh(10);
  ConnectivityModelo2 writer(*mesh);
  AnnounceHole(writer);
  MemoryObjectWriter out;
  BitChannel bits(out);
  ASSERT_TRUE(writer.EncodeRing(bits, *mesh, 2, MakeRing({{5, 1}, {6, 1}, {7, 1}, {8, 1}})));
  // ring predicted, first link "11" + 1 in 2 bits, then three repeats.
  EXPECT_EQ(bits.TotalBits(), 1u + (2 + 2) + 3);
  ASSERT_TRUE(bits.Finish());
  EXPECT_EQ(BitString(out.Bytes(), 8), "1" "1101" "000");

  ConnectivityModelo2 reader(*mesh);
  AnnounceHole(reader);
  MemoryObjectReader in(out.Bytes());
  BitChannel reading(in);
  FaceList ring;
  ASSERT_TRUE(reader.DecodeRing(reading, *mesh, 2, ring));
  EXPECT_EQ(Links(ring), (std::vector<RingLink>{{5, 1}, {6, 1}, {7, 1}, {8, 1}}));
  // Both sides announced the same four triangles to vertex 1.
  EXPECT_EQ(Links(reader.Predicted(1)), Links(writer.Predicted(1)));
  EXPECT_EQ(reader.Predicted(1).Count(), 4);
  EXPECT_TRUE(reader.Predicted(2).Empty());
}

// A gap link (dependency v) beyond which nothing is found: the edge
// prediction reads "none" as 0, so the gap costs its dependency in full and
// the next link, back at 1, too.
TEST(ConnectivityModelo2, GapLinksAreNeverTheEdgePrediction) {
  auto mesh = BareMesh(10);
  const std::vector<RingLink> links{{5, 1}, {6, 1}, {7, 2}, {8, 1}};
  ConnectivityModelo2 writer(*mesh);
  AnnounceHole(writer);
  MemoryObjectWriter out;
  BitChannel bits(out);
  ASSERT_TRUE(writer.EncodeRing(bits, *mesh, 2, MakeRing(links)));
  ASSERT_TRUE(bits.Finish());
  EXPECT_EQ(BitString(out.Bytes(), 14), "1" "1101" "0" "1110" "1101");

  ConnectivityModelo2 reader(*mesh);
  AnnounceHole(reader);
  MemoryObjectReader in(out.Bytes());
  BitChannel reading(in);
  FaceList ring;
  ASSERT_TRUE(reader.DecodeRing(reading, *mesh, 2, ring));
  EXPECT_EQ(Links(ring), links);
}

TEST(ConnectivityModelo2, MissedPredictionIsBitZeroThenExactlyTheRawCode) {
  auto mesh = BareMesh(10);
  const std::vector<RingLink> links{{5, 1}, {6, 0}, {8, 2}};
  ConnectivityModelo2 writer(*mesh);
  AnnounceHole(writer);  // predicts 5-6-7-8, the ring is 5-6-8
  MemoryObjectWriter predictedOut, rawOut;
  BitChannel predictedBits(predictedOut), rawBits(rawOut);
  ASSERT_TRUE(writer.EncodeRing(predictedBits, *mesh, 2, MakeRing(links)));
  ASSERT_TRUE(ConnectivityRaw().EncodeRing(rawBits, *mesh, 2, MakeRing(links)));
  const uint64_t rawCount = rawBits.TotalBits();
  EXPECT_EQ(predictedBits.TotalBits(), rawCount + 1);
  predictedBits.Finish();
  rawBits.Finish();
  std::string expected = BitString(rawOut.Bytes(), rawCount);
  expected.insert(expected.begin(), '0');
  EXPECT_EQ(BitString(predictedOut.Bytes(), rawCount + 1), expected);
  EXPECT_TRUE(writer.Predicted(2).Empty());
}

TEST(ConnectivityModelo2, DegenerateEdgeEndsEncodingButOnlyFailsDecoding) {
  auto mesh = BareMesh(10);
  EXPECT_EXIT(
      {
        ConnectivityModelo2 writer(*mesh);
        MemoryObjectWriter out;
        BitChannel bits(out);
        writer.EncodeRing(bits, *mesh, 2, MakeRing({{6, 1}}));  // the link 6-6
      },
      testing::ExitedWithCode(1), "Error en compress: 2");

  // The same ring read from a file: raw code "0 | 100 01 | 000".
  const std::vector<uint8_t> bytes = StreamOf("0 100 01 000");
  MemoryObjectReader in(bytes);
  BitChannel bits(in);
  ConnectivityModelo2 reader;
  FaceList ring;
  EXPECT_FALSE(reader.DecodeRing(bits, *mesh, 2, ring));
  EXPECT_TRUE(ring.Empty());
}

TEST(ConnectivityModelo2, DecoderRefusesPredictionsOutsideTheMesh) {
  auto mesh = BareMesh(10);
  auto decode = [&](ConnectivityModelo2& reader, const std::string& fields) {
    const std::vector<uint8_t> bytes = StreamOf(fields);
    MemoryObjectReader in(bytes);
    BitChannel bits(in);
    FaceList ring;
    testing::internal::CaptureStdout();
    const bool ok = reader.DecodeRing(bits, *mesh, 2, ring);
    return std::make_pair(ok, testing::internal::GetCapturedStdout());
  };
  ConnectivityModelo2 outside(*mesh);
  outside.AddPrediction(2, 5, 6, 12);  // corner 12 of a 10-vertex mesh
  EXPECT_EQ(decode(outside, "1 0 0 0"), std::make_pair(false, std::string("Malo")));

  ConnectivityModelo2 above(*mesh);
  AnnounceHole(above);
  EXPECT_EQ(decode(above, "1 11 11"), std::make_pair(false, std::string()));  // dependency 3 > v = 2
}

// ---- EdgeDependency ---------------------------------------------------------------

TEST(EdgeDependency, FindsTheTriangleBeyondAnEdge) {
  // Edge 3→4 of vertex 1's ring; the triangle beyond it runs 4→3.
  auto mesh = BareMesh(8);
  SetRecord(*mesh, 3, {{5, 4, 0}});
  EXPECT_EQ(EdgeDependency(*mesh, 3, 4, 1).dependency, 0);
  EXPECT_EQ(EdgeDependency(*mesh, 3, 4, 1).third, 5);

  // Replaced by vertex 2's triangles: the search goes on at 2.
  SetRecord(*mesh, 3, {{5, 4, 2}});
  SetRecord(*mesh, 2, {{4, 3, 1}});
  EXPECT_EQ(EdgeDependency(*mesh, 3, 4, 1).dependency, 1);
  EXPECT_EQ(EdgeDependency(*mesh, 3, 4, 1).third, 2);

  // A triangle that only touches the edge leads to its dependency too.
  SetRecord(*mesh, 3, {{4, 6, 2}});
  SetRecord(*mesh, 2, {{4, 3, 0}});
  EXPECT_EQ(EdgeDependency(*mesh, 3, 4, 1).dependency, 0);

  // Base vertices are never searched; nothing found reads as v.
  mesh->splitIndex = 3;
  EXPECT_EQ(EdgeDependency(*mesh, 3, 4, 1).dependency, 1);
  EXPECT_EQ(PredictedDependency(*mesh, 3, 4, 1), 0);
}

TEST(EdgeDependency, DeepChainsNeedNoCallStack) {
  // Vertex x touches edge K→K+1 with dependency x-1, down to vertex 2,
  // which holds the triangle beyond it.
  constexpr VertexIndex K = 100000;
  auto mesh = BareMesh(K + 3);
  mesh->splitIndex = K + 1;
  for (VertexIndex x = 3; x <= K; ++x) SetRecord(*mesh, x, {{K + 1, K + 2, x - 1}});
  SetRecord(*mesh, 2, {{K + 1, K, 1}});
  const EdgeWing wing = EdgeDependency(*mesh, K, K + 1, 1);
  EXPECT_EQ(wing.dependency, 1);
  EXPECT_EQ(wing.third, 2);
}

TEST(EdgeDependency, VisitsEveryVertexOnce) {
  // Each vertex touches the edge twice, with dependencies x-1 and x-2: an
  // unmarked search would take Fibonacci(K) steps.
  constexpr VertexIndex K = 90;
  auto mesh = BareMesh(K + 4);
  mesh->splitIndex = K + 1;
  for (VertexIndex x = 3; x <= K; ++x) SetRecord(*mesh, x, {{K + 1, K + 2, x - 1}, {K + 3, K + 1, x - 2}});
  EXPECT_EQ(EdgeDependency(*mesh, K, K + 1, 1).dependency, 1);
  // Marks left by an earlier search do not hide vertices from the next one.
  SetRecord(*mesh, 2, {{K + 1, K, 0}});
  EXPECT_EQ(EdgeDependency(*mesh, K, K + 1, 1).dependency, 0);
}

// ---- Whole meshes -------------------------------------------------------------------

class ConnectivityRoundTrip : public testing::TestWithParam<int> {
 protected:
  std::unique_ptr<ConnectivityCoder> MakeCoder(QXPck& mesh, bool writing) const {
    if (GetParam() == 0) return std::make_unique<ConnectivityRaw>();
    return writing ? std::make_unique<ConnectivityModelo2>(mesh) : std::make_unique<ConnectivityModelo2>();
  }
  testing_coders::EncodedMesh Encode(QXPck& mesh) const {
    GeometryRaw geometry;
    return EncodeMesh(mesh, *MakeCoder(mesh, true), geometry);
  }
  VertexIndex Decode(std::span<const uint8_t> bytes, QXPck& mesh) const {
    GeometryRaw geometry;
    return DecodeMesh(bytes, mesh, *MakeCoder(mesh, false), geometry);
  }
};

TEST_P(ConnectivityRoundTrip, ReaderRebuildsEveryRecord) {
  auto mesh = testing_coders::MakeProgressiveGrid(12, 10, 90);
  ASSERT_GT(mesh->splitIndex, 60);
  const auto encoded = Encode(*mesh);
  auto decoded = EmptyLike(*mesh);
  EXPECT_EQ(Decode(encoded.bytes, *decoded), 1);
  ExpectDecodedAsWritten(encoded, *mesh, *decoded, 1);
}

TEST_P(ConnectivityRoundTrip, EveryPrefixDecodesCleanly) {
  auto mesh = testing_coders::MakeProgressiveGrid(8, 7, 30, 3);
  const auto encoded = Encode(*mesh);
  VertexIndex previous = mesh->vertexCount;
  for (size_t length = 0; length <= encoded.bytes.size(); length += 2) {
    auto decoded = EmptyLike(*mesh);
    const VertexIndex lowest = Decode(std::span(encoded.bytes).first(length), *decoded);
    EXPECT_LE(lowest, previous);  // more bytes, never fewer vertices
    previous = lowest;
    ExpectDecodedAsWritten(encoded, *mesh, *decoded, lowest);
  }
  EXPECT_EQ(previous, 1);
}

TEST_P(ConnectivityRoundTrip, DamagedStreamsGiveOnlyValidRings) {
  auto mesh = testing_coders::MakeProgressiveGrid(8, 7, 30, 5);
  const auto encoded = Encode(*mesh);
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint8_t> bytes = encoded.bytes;
    for (int flips = 0; flips < 3; ++flips) bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
    auto decoded = EmptyLike(*mesh);
    testing::internal::CaptureStdout();
    const VertexIndex lowest = Decode(bytes, *decoded);
    testing::internal::GetCapturedStdout();
    for (VertexIndex v = lowest; v < mesh->vertexCount; ++v)
      for (uint32_t neighbour : decoded->Record(v).RingSpan()) {
        ASSERT_GT(neighbour, static_cast<uint32_t>(v));
        ASSERT_LT(neighbour, static_cast<uint32_t>(mesh->vertexCount));
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Coders, ConnectivityRoundTrip, testing::Values(0, 1),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 0 ? "Raw" : "Modelo2");
                         });

TEST(ConnectivityModelo2Grid, PredictionCodesRingsInFewerBitsThanRaw) {
  auto mesh = testing_coders::MakeProgressiveGrid(12, 10, 90);
  GeometryRaw geometry;
  ConnectivityRaw raw;
  const size_t rawBytes = EncodeMesh(*mesh, raw, geometry).bytes.size();
  ConnectivityModelo2 modelo(*mesh);
  const size_t predictedBytes = EncodeMesh(*mesh, modelo, geometry).bytes.size();
  // Positions take 12 bytes per vertex either way.
  const size_t positions = 12u * static_cast<size_t>(mesh->vertexCount - 1);
  EXPECT_LT(predictedBytes - positions, (rawBytes - positions) * 3 / 4);
}

}  // namespace
}  // namespace qx
