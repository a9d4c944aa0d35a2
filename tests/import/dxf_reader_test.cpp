// DXF reader: 3DFACE entities, polyface meshes and their numbering, polygon
// mesh grids, the first-digit rule for group codes, damaged and hostile files,
// and the shared corpus of real drawings.
#include "import/dxf_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

std::string Text(Vector p) {
  char text[96];
  std::snprintf(text, sizeof text, "(%g %g %g)", p.x, p.y, p.z);
  return text;
}

// Records every call as one line of text, e.g. "tri (0 0 0) (1 0 0) (0 1 0)".
class RecordingSink : public ImportSink {
 public:
  bool AddTriangle(QXMaterial* material, Vector p0, Vector p1, Vector p2) override {
    calls.push_back(std::string(material ? "tri+material " : "tri ") + Text(p0) + " " + Text(p1) + " " + Text(p2));
    return true;
  }
  bool AddQuad(QXMaterial* material, Vector p0, Vector p1, Vector p2, Vector p3) override {
    calls.push_back(std::string(material ? "quad+material " : "quad ") + Text(p0) + " " + Text(p1) + " " + Text(p2) +
                    " " + Text(p3));
    return true;
  }
  void EndObject(const char* name) override { calls.push_back(std::string("end '") + (name ? name : "null") + "'"); }

  std::vector<std::string> calls;
};

// Group-code/value pairs, one per line each, as a DXF writer lays them out.
using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string Coordinate(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

Pairs Face3D(const std::vector<Vector>& corners) {
  Pairs pairs = {{"0", "3DFACE"}, {"8", "0"}};
  for (size_t i = 0; i < corners.size(); ++i) {
    const std::string digit = std::to_string(i);
    pairs.push_back({"1" + digit, Coordinate(corners[i].x)});
    pairs.push_back({"2" + digit, Coordinate(corners[i].y)});
    pairs.push_back({"3" + digit, Coordinate(corners[i].z)});
  }
  return pairs;
}

// A polyface mesh header whose own point and flags must not become a vertex.
Pairs Polyline() {
  return {{"0", "POLYLINE"}, {"66", "1"}, {"10", "9"}, {"20", "9"}, {"30", "9"}, {"70", "64"}, {"71", "4"}, {"72", "2"}};
}

Pairs MeshVertex(Vector p) {
  return {{"0", "VERTEX"}, {"10", Coordinate(p.x)}, {"20", Coordinate(p.y)}, {"30", Coordinate(p.z)}, {"70", "192"}};
}

Pairs FaceRecord(const std::vector<std::string>& numbers) {
  Pairs pairs = {{"0", "VERTEX"}, {"10", "0"}, {"20", "0"}, {"30", "0"}, {"70", "128"}};
  for (size_t i = 0; i < numbers.size(); ++i) pairs.push_back({"7" + std::to_string(i + 1), numbers[i]});
  return pairs;
}

Pairs SeqEnd() { return {{"0", "SEQEND"}}; }
Pairs EndOfFile() { return {{"0", "ENDSEC"}, {"0", "EOF"}}; }

Pairs Join(std::initializer_list<Pairs> parts) {
  Pairs all = {{"0", "SECTION"}, {"2", "ENTITIES"}};
  for (const Pairs& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A square mesh 1..4 used by the polyface tests.
Pairs SquareVertices(float z) {
  return Join({MeshVertex({0, 0, z}), MeshVertex({1, 0, z}), MeshVertex({1, 1, z}), MeshVertex({0, 1, z})});
}

class DxfReader : public testing::Test {
 protected:
  std::string WriteFile(const std::string& contents) {
    const std::string path = (dir_ / "model.dxf").string();
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  std::string WritePairs(const Pairs& pairs, const char* line_end = "\n") {
    std::string contents;
    for (const auto& [code, value] : pairs) contents += code + line_end + value + line_end;
    return WriteFile(contents);
  }
  // Reads `pairs` and returns the calls made.
  std::vector<std::string> Read(const Pairs& pairs) {
    RecordingSink sink;
    EXPECT_TRUE(ReadDxf(WritePairs(pairs).c_str(), sink, &report_));
    return sink.calls;
  }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  DxfReadReport report_;
};

using Calls = std::vector<std::string>;

TEST_F(DxfReader, Face3DWithThreeOrFourCornersGivesTriangleOrQuad) {
  const Calls calls = Read(Join({Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}),
                                 Face3D({{0, 0, 1}, {2, 0, 1}, {2, 2, 1}, {0, 2, 1}}),
                                 Face3D({{0, 0, 2}, {3, 0, 2}, {3, 3, 2}, {3, 3, 2}}), EndOfFile()}));
  EXPECT_EQ(calls, (Calls{"tri (0 0 0) (1 0 0) (0 1 0)", "quad (0 0 1) (2 0 1) (2 2 1) (0 2 1)",
                          "quad (0 0 2) (3 0 2) (3 3 2) (3 3 2)"}));
  EXPECT_EQ(report_.faces, 3);
  EXPECT_EQ(report_.dropped_faces, 0);
  EXPECT_FALSE(report_.ended_early);
}

TEST_F(DxfReader, PolyfaceMeshGivesFacesOnNumberedVertices) {
  const Calls calls = Read(Join({Polyline(), SquareVertices(0), FaceRecord({"1", "2", "3"}),
                                 FaceRecord({"1", "2", "3", "4"}), SeqEnd(), EndOfFile()}));
  EXPECT_EQ(calls, (Calls{"end ''", "tri (0 0 0) (1 0 0) (1 1 0)", "quad (0 0 0) (1 0 0) (1 1 0) (0 1 0)"}));
}

TEST_F(DxfReader, NegativeNumbersMarkInvisibleEdgesAndCountByMagnitude) {
  const Calls calls = Read(Join({Polyline(), SquareVertices(0), FaceRecord({"-4", "3", "-2"}), EndOfFile()}));
  EXPECT_EQ(calls, (Calls{"end ''", "tri (0 1 0) (1 1 0) (1 0 0)"}));
}

// Every mesh numbers its vertices from 1: neither the POLYLINE's own point nor
// an earlier 3DFACE or mesh shifts the numbering.
TEST_F(DxfReader, EveryPolyfaceMeshNumbersFromOne) {
  const Calls calls = Read(Join({Face3D({{5, 5, 5}, {6, 5, 5}, {5, 6, 5}}), Polyline(), SquareVertices(1),
                                 FaceRecord({"1", "2", "3"}), SeqEnd(), Polyline(), SquareVertices(2),
                                 FaceRecord({"1", "2", "3"}), SeqEnd(), EndOfFile()}));
  EXPECT_EQ(calls, (Calls{"tri (5 5 5) (6 5 5) (5 6 5)", "end ''", "tri (0 0 1) (1 0 1) (1 1 1)", "end ''",
                          "tri (0 0 2) (1 0 2) (1 1 2)"}));
}

TEST_F(DxfReader, FaceWithNumberOutsideTheMeshIsDroppedAlone) {
  const Calls calls =
      Read(Join({Polyline(), SquareVertices(0), FaceRecord({"1", "2", "5"}), FaceRecord({"0", "1", "2"}),
                 FaceRecord({"-2147483648", "1", "2"}), FaceRecord({"99999999999999999999", "1", "2"}),
                 FaceRecord({"1", "3", "4"}), EndOfFile()}));
  EXPECT_EQ(calls, (Calls{"end ''", "tri (0 0 0) (1 1 0) (0 1 0)"}));
  EXPECT_EQ(report_.faces, 1);
  EXPECT_EQ(report_.dropped_faces, 3);  // the unreadable number leaves only two
}

// A polygon mesh of 3 x 4 points (x = column, y = row) with the given POLYLINE
// flags, then a 2-D and a 3-D polyline that must give nothing.
Pairs GridAndPolylines(int flags) {
  Pairs pairs = {{"0", "POLYLINE"}, {"66", "1"}, {"70", std::to_string(16 | flags)}, {"71", "3"}, {"72", "4"}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) {
      pairs.push_back({"0", "VERTEX"});
      pairs.push_back({"10", std::to_string(column)});
      pairs.push_back({"20", std::to_string(row)});
      pairs.push_back({"30", "0"});
      pairs.push_back({"70", "64"});
    }
  }
  for (const char* polylineFlags : {"0", "8"}) {
    pairs.insert(pairs.end(), {{"0", "POLYLINE"}, {"70", polylineFlags}});
    for (int i = 0; i < 4; ++i) {
      pairs.insert(pairs.end(), {{"0", "VERTEX"}, {"10", std::to_string(i)}, {"20", "0"}, {"30", "0"}, {"70", "32"}});
    }
  }
  return Join({pairs, SeqEnd(), EndOfFile()});
}

TEST_F(DxfReader, PolygonMeshGivesTheQuadsOfItsGridClosedAsFlagged) {
  const Calls open = Read(GridAndPolylines(0));
  ASSERT_EQ(open.size(), 1u + 6u + 2u);  // an object end per POLYLINE
  EXPECT_EQ(open[1], "quad (0 0 0) (0 1 0) (1 1 0) (1 0 0)");
  EXPECT_EQ(open[6], "quad (2 1 0) (2 2 0) (3 2 0) (3 1 0)");
  const Calls closedInN = Read(GridAndPolylines(32));
  ASSERT_EQ(closedInN.size(), 3u + 8u);
  EXPECT_EQ(closedInN[4], "quad (3 0 0) (3 1 0) (0 1 0) (0 0 0)");
  EXPECT_EQ(Read(GridAndPolylines(1)).size(), 3u + 9u);
  const Calls closedInBoth = Read(GridAndPolylines(1 | 32));
  ASSERT_EQ(closedInBoth.size(), 3u + 12u);
  EXPECT_EQ(closedInBoth[12], "quad (3 2 0) (3 0 0) (0 0 0) (0 2 0)");
  EXPECT_EQ(report_.faces, 12);
  EXPECT_EQ(report_.dropped_faces, 0);
}

TEST_F(DxfReader, PolygonMeshWithTheWrongPointCountIsLeftOut) {
  Pairs pairs = GridAndPolylines(0);
  pairs[5].second = "999999999999";  // M, after SECTION, ENTITIES, POLYLINE, 66, 70
  EXPECT_EQ(Read(pairs), (Calls{"end ''", "end ''", "end ''"}));
  EXPECT_EQ(report_.dropped_faces, 1);
}

TEST_F(DxfReader, GroupCodesCountByTheirFirstDigit) {
  // Code 39 (thickness) appends a point in a 3DFACE; code 110 sets x; codes of
  // three digits never append a point (330 is an owner handle).
  Pairs pairs = Join({Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})});
  pairs.push_back({"39", "7"});
  pairs.push_back({"330", "1F"});
  Pairs second = {{"0", "3DFACE"}, {"10", "1"}, {"20", "2"}, {"110", "5"}, {"30", "3"},
                  {"11", "1"},     {"21", "1"}, {"31", "1"},  {"12", "2"},  {"22", "2"}, {"32", "2"}};
  pairs.insert(pairs.end(), second.begin(), second.end());
  const Pairs end = EndOfFile();
  pairs.insert(pairs.end(), end.begin(), end.end());
  EXPECT_EQ(Read(pairs), (Calls{"quad (0 0 0) (1 0 0) (0 1 0) (0 1 7)", "tri (5 2 3) (1 1 1) (2 2 2)"}));
}

TEST_F(DxfReader, OtherEntitiesAddNothing) {
  // A circle after a 3DFACE must not lend its centre to a face, text after a
  // mesh must not lend its alignment codes 72/73 as point numbers, and a
  // drawing of lines gives nothing at all.
  const Pairs circle = {{"0", "CIRCLE"}, {"10", "4"}, {"20", "4"}, {"30", "4"}, {"40", "1"}};
  const Pairs text = {{"0", "MTEXT"}, {"10", "1"}, {"20", "1"}, {"30", "1"}, {"71", "1"}, {"72", "2"}, {"73", "3"}};
  const Pairs line = {{"0", "LINE"}, {"10", "0"}, {"20", "0"}, {"30", "0"}, {"11", "1"}, {"21", "1"}, {"31", "1"}};
  EXPECT_EQ(Read(Join({Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), circle, Polyline(), SquareVertices(0), SeqEnd(),
                       text, line, EndOfFile()})),
            (Calls{"tri (0 0 0) (1 0 0) (0 1 0)", "end ''"}));
  EXPECT_EQ(Read(Join({line, line, EndOfFile()})), Calls{});
}

TEST_F(DxfReader, NonNumericGroupCodeEndsTheReadKeepingWhatCameBefore) {
  Pairs pairs = Join({Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), Face3D({{0, 0, 1}, {1, 0, 1}, {0, 1, 1}})});
  pairs.push_back({"garbage", "0"});
  pairs.insert(pairs.end(), {{"0", "3DFACE"}, {"10", "0"}, {"0", "EOF"}});
  EXPECT_EQ(Read(pairs), (Calls{"tri (0 0 0) (1 0 0) (0 1 0)"}));
  EXPECT_TRUE(report_.ended_early);
}

TEST_F(DxfReader, EntityOpenAtTheEndOfTheFileIsNotDelivered) {
  EXPECT_EQ(Read(Join({Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})})), Calls{});
}

TEST_F(DxfReader, CarriageReturnsIndentedCodesAndByteOrderMarkAreRead) {
  std::string contents = "\xEF\xBB\xBF  0\r\nSECTION\r\n  2\r\nENTITIES\r\n";
  for (const auto& [code, value] : Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}))
    contents += "  " + code + "\r\n" + value + "\r\n";
  contents += "  0\r\nEOF\r\n";
  RecordingSink sink;
  ASSERT_TRUE(ReadDxf(WriteFile(contents).c_str(), sink));
  EXPECT_EQ(sink.calls, (Calls{"tri (0 0 0) (1 0 0) (0 1 0)"}));
}

TEST_F(DxfReader, HostileValuesAreSurvivedAndOnlyTheirFacesDropped) {
  const Pairs huge = {{"0", "3DFACE"}, {"10", "1e999"}, {"20", "0"}, {"30", "0"}, {"11", "1"},
                      {"21", "0"},     {"31", "0"},     {"12", "0"}, {"22", "1"}, {"32", "0"}};
  Pairs not_a_number = huge;
  not_a_number[1].second = "nan";
  Pairs long_value = {{"999", std::string(200000, '7')}};
  const Pairs too_many_codes(100000, {"71", "1"});
  const Calls calls =
      Read(Join({huge, not_a_number, long_value, Polyline(), SquareVertices(0), FaceRecord({}), too_many_codes,
                 Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 2, 0}}), Face3D({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}),
                 EndOfFile()}));
  EXPECT_EQ(calls, (Calls{"end ''", "tri (0 0 0) (1 0 0) (0 1 0)"}));
  EXPECT_EQ(report_.dropped_faces, 3);  // infinite, NaN, five corners
  EXPECT_FALSE(report_.ended_early);
}

TEST_F(DxfReader, MissingFileFailsAndDeliversNothing) {
  RecordingSink sink;
  EXPECT_FALSE(ReadDxf((dir_ / "absent.dxf").c_str(), sink));
  EXPECT_TRUE(sink.calls.empty());
}

// The shared corpus: every file read without harm; files with faces give the
// count their entities promise.
TEST(DxfCorpus, RealDrawingsGiveTheirFaces) {
  const fs::path folder = fs::path(VERMELLE_CORPUS_DIR) / "dxf";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no DXF corpus at " << folder;
  // 3DFACE counts as listed with the corpus; polyface meshes must give faces.
  const std::map<std::string, int> exact_faces = {
      {"PinkEggFromLW.dxf", 288}, {"lineTest.dxf", 2}, {"3dface.dxf", 46}, {"Minimal_DXF_AC1006.dxf", 2},
      {"points.dxf", 0},          {"bin_dxf_r14.dxf", 0}};
  const std::vector<std::string> meshes = {"issue_2229.dxf", "wuson.dxf", "uncommon.dxf"};
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().extension() != ".dxf") continue;
    ++files;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    RecordingSink sink;
    DxfReadReport report;
    ASSERT_TRUE(ReadDxf(entry.path().c_str(), sink, &report));
    if (auto expected = exact_faces.find(name); expected != exact_faces.end()) {
      EXPECT_EQ(report.faces, expected->second);
      EXPECT_EQ(report.dropped_faces, 0);
    } else if (std::find(meshes.begin(), meshes.end(), name) != meshes.end()) {
      EXPECT_GT(report.faces, 0);
      EXPECT_EQ(report.dropped_faces, 0);
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace qx
