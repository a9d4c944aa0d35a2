// LDraw reader: line types and their calls, colours, quad ordering, finding
// sub-files in the part library, multi-part files, self-reference and the
// limits that keep hostile files finite, and the shared corpus of models.
#include "import/ldraw_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "import/ldraw_library.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

std::string Text(Vector p) {
  char text[96];
  std::snprintf(text, sizeof text, "(%g %g %g)", p.x, p.y, p.z);
  return text;
}

std::string Text(const Colour& c) {
  if (!HasColour(c)) return "none";
  char text[96];
  std::snprintf(text, sizeof text, "rgba(%.4g %.4g %.4g %g)", c[0], c[1], c[2], c[3]);
  return text;
}

std::string Text(const Matrix& m) {
  std::string text = "[";
  for (float value : m) {
    if (text.size() > 1) text.push_back(' ');
    text.append(std::to_string(static_cast<int>(value)));
  }
  text.push_back(']');
  return text;
}

// Colour of table entry (red, green, blue) as the reader should give it.
Colour Entry(int red, int green, int blue, float alpha = 1) {
  return {red / 255.0f, green / 255.0f, blue / 255.0f, alpha};
}

// Records every call as one line of text. When `follow` is set, a reference
// reads its sub-file at once (as the importer does), nested calls indented;
// with `once` each distinct name is read only the first time.
class RecordingSink : public ImportSink {
 public:
  bool Flush() override { return Record("flush"); }
  bool Comment(const char* text) override { return Record(std::string("comment ") + (text ? text : "null")); }
  bool IncludeModel(const Colour& colour, const Matrix& matrix, const char* name) override {
    Record("include " + Text(colour) + " " + Text(matrix) + " " + name);
    if (!follow || (once && !read_names.insert(name).second)) return true;
    ++depth;
    const bool read = ReadLDraw(name, nullptr, nullptr, *this);
    --depth;
    if (!read) Record("unread " + std::string(name));
    return true;
  }
  bool AddLine(const Colour& colour, Vector p0, Vector p1) override {
    return Record("line " + Text(colour) + " " + Text(p0) + " " + Text(p1));
  }
  bool AddTriangleColor(const Colour& colour, Vector p0, Vector p1, Vector p2) override {
    ++triangles;
    return Record("tri " + Text(colour) + " " + Text(p0) + " " + Text(p1) + " " + Text(p2));
  }
  bool AddQuadColor(const Colour& colour, Vector p0, Vector p1, Vector p2, Vector p3) override {
    ++quads;
    return Record("quad " + Text(colour) + " " + Text(p0) + " " + Text(p1) + " " + Text(p2) + " " + Text(p3));
  }
  bool AddOptionalLine(const Colour& colour, Vector p0, Vector p1) override {
    return Record("optional " + Text(colour) + " " + Text(p0) + " " + Text(p1));
  }

  // The calls without the flushes, which most tests do not care about.
  std::vector<std::string> Geometry() const {
    std::vector<std::string> geometry;
    for (const std::string& call : calls)
      if (call.find("flush") == std::string::npos) geometry.push_back(call);
    return geometry;
  }

  bool follow = false;
  bool once = false;
  bool keep_calls = true;
  int depth = 0;
  long triangles = 0, quads = 0;
  std::set<std::string> read_names;
  std::vector<std::string> calls;

 private:
  bool Record(const std::string& call) {
    if (keep_calls) calls.push_back(std::string(2 * depth, ' ') + call);
    return true;
  }
};

using Calls = std::vector<std::string>;

const std::string kIdentity = "[1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1]";

class LDrawReaderTest : public testing::Test {
 protected:
  void SetUp() override { ResetLDrawColours(); }
  void TearDown() override { ResetLDrawColours(); }

  std::string Write(const std::string& relative, const std::string& contents) {
    const fs::path path = dir_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
  }
  // Reads `contents` as a top-level model and returns every call.
  Calls Read(const std::string& contents) {
    RecordingSink sink;
    LDrawReader reader("", dir_.string());
    EXPECT_TRUE(reader.ReadModel(Write("model.ldr", contents), sink));
    report_ = reader.Report();
    return sink.calls;
  }
  // Reads the model `relative` in dir_ following every reference.
  Calls ReadFollowing(const std::string& relative, LDrawLimits limits = {}, bool expect_success = true) {
    RecordingSink sink;
    sink.follow = true;
    LDrawReader reader((dir_ / "lib").string(), dir_.string(), limits);
    EXPECT_EQ(reader.ReadModel((dir_ / relative).string(), sink), expect_success);
    report_ = reader.Report();
    return sink.Geometry();
  }

  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
  LDrawReadReport report_;
};

TEST_F(LDrawReaderTest, ReferenceGivesColumnMajorMatrixColourAndName) {
  const Calls calls = Read(
      "1 4 0 0 0 1 0 0 0 1 0 0 0 1 3001.dat\n"
      "1 16 10 20 30 1 2 3 4 5 6 7 8 9 Sub Model.ldr \r\n");
  EXPECT_EQ(calls, (Calls{"include " + Text(Entry(196, 0, 38)) + " " + kIdentity + " 3001.dat",
                          "include none [1 4 7 0 2 5 8 0 3 6 9 0 10 20 30 1] Sub Model.ldr", "flush"}));
}

TEST_F(LDrawReaderTest, GeometryLinesGiveTheirCallsWithColours) {
  const Calls calls = Read(
      "2 0 0 0 0 1 1 1\n"
      "3 16 0 0 0 1 0 0 0 1 0\n"
      "3 36 0 0 0 1 0 0 0 1 0\n"
      "4 2 0 0 0 1 0 0 1 1 0 0 1 0\n"
      "5 24 0 0 0 0 0 1\n"
      "5 24 0 0 0 0 0 1 1 0 0 0 1 0\n"
      "3 1 0 0 0 1 0 0 0 1\n"
      "9 1 0 0 0\n");
  EXPECT_EQ(calls, (Calls{"line " + Text(Entry(33, 33, 33)) + " (0 0 0) (1 1 1)",
                          "tri none (0 0 0) (1 0 0) (0 1 0)",
                          "tri " + Text(Entry(204, 0, 0, 0)) + " (0 0 0) (1 0 0) (0 1 0)",
                          "quad " + Text(Entry(0, 140, 20)) + " (0 0 0) (1 0 0) (1 1 0) (0 1 0)",
                          "optional none (0 0 0) (0 0 1)", "flush"}));
  EXPECT_EQ(report_.skipped_lines, 2);  // the 12-number optional line, the short triangle
}

TEST_F(LDrawReaderTest, CommentsBlankLinesAndColourDefinitions) {
  const Calls calls = Read(
      "0 Name: model.ldr\n"
      "0\n"
      "\r\n"
      "0 COLOR 16 Main 0 255 0 0 255\n"
      "0 COLOR 70 Outside 0 1 2 3 255\n"
      "0 COLOR 17 Short 0 1 2 3\n"
      "3 16 0 0 0 1 0 0 0 1 0\n"
      "3 17 0 0 0 1 0 0 0 1 0\n");
  EXPECT_EQ(calls, (Calls{"comment null", "flush", "tri " + Text(Entry(255, 0, 0)) + " (0 0 0) (1 0 0) (0 1 0)",
                          "tri " + Text(Entry(186, 255, 206)) + " (0 0 0) (1 0 0) (0 1 0)", "flush"}));
  EXPECT_EQ(Text(LDrawColour(16)), Text(Entry(255, 0, 0)));  // the change outlives the file
}

TEST_F(LDrawReaderTest, ColourNumbersResolveByTableDitherAndDirectForms) {
  EXPECT_EQ(Text(LDrawColour(4)), Text(Entry(196, 0, 38)));
  EXPECT_EQ(Text(LDrawColour(47)), Text(Entry(255, 255, 255, 0)));
  for (int64_t none : std::initializer_list<int64_t>{16, 24, 29, 63, 64, 255, 512, -1, int64_t{1} << 40}) EXPECT_EQ(Text(LDrawColour(none)), "none");
  // 256 + 0x41: entries 1 (0 51 178) and 4 (196 0 38) mixed.
  const Colour dithered = {196 / 510.0f, 51 / 510.0f, 216 / 510.0f, 1};
  EXPECT_EQ(Text(LDrawColour(256 + 0x41)), Text(dithered));
  EXPECT_EQ(Text(LDrawColour(0x2FF8000)), Text(Entry(255, 128, 0)));
  EXPECT_EQ(Text(LDrawColour(0x3FF8000)), Text(Entry(255, 128, 0, 0)));
  EXPECT_EQ(Text(LDrawColour(0x4F0000F)), Text(Colour{0.5f, 0, 0.5f, 1}));
  EXPECT_EQ(Text(LDrawColour(0x5F80000)), Text(Colour{1, 8 / 15.0f, 0, 0}));
  EXPECT_EQ(Text(LDrawColour(0x6000F80)), Text(Colour{1, 8 / 15.0f, 0, 0}));
  EXPECT_EQ(Text(LDrawColour(0x7123456)), Text(Colour{0, 0, 0, 1}));
  // Direct colours are written in hexadecimal in model files.
  EXPECT_EQ(Read("3 0x2FF0000 0 0 0 1 0 0 0 1 0\n").front(), "tri " + Text(Entry(255, 0, 0)) + " (0 0 0) (1 0 0) (0 1 0)");
}

TEST_F(LDrawReaderTest, QuadCornersAreOrderedIntoAConvexQuad) {
  const std::array<Vector, 4> square = {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
  const std::array<Vector, 4> bow_tie = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}};
  const std::array<Vector, 4> other_bow_tie = {{{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}};
  const std::array<Vector, 4> degenerate = {{{0, 0, 0}, {0, 0, 0}, {1, 1, 0}, {1, 0, 0}}};
  EXPECT_EQ(OrderLDrawQuad(square), square);
  EXPECT_EQ(OrderLDrawQuad(bow_tie), square);
  EXPECT_EQ(OrderLDrawQuad(other_bow_tie), (std::array<Vector, 4>{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}));
  EXPECT_EQ(OrderLDrawQuad(degenerate), degenerate);
  // A clockwise quad stays clockwise: only the order of corners is repaired.
  const std::array<Vector, 4> clockwise = {square[0], square[3], square[2], square[1]};
  EXPECT_EQ(OrderLDrawQuad(clockwise), clockwise);
  EXPECT_EQ(Read("4 16 0 0 0 1 0 0 0 1 0 1 1 0\n").front(), "quad none (0 0 0) (1 0 0) (1 1 0) (0 1 0)");
}

TEST_F(LDrawReaderTest, NamesAreFoundInPartsThenPrimitivesThenBesideTheModel) {
  const std::string lib = (dir_ / "lib").string();
  const std::string model_dir = (dir_ / "models").string();
  const std::string sub_part = Write("lib/parts/s/3001s01.dat", "");
  const std::string primitive = Write("lib/p/48/4-4cyli.dat", "");
  const std::string both = Write("lib/parts/both.dat", "");
  Write("lib/p/both.dat", "");
  Write("models/both.dat", "");
  const std::string beside = Write("models/Sub Model.ldr", "");
  EXPECT_EQ(FindLDrawFile("S\\3001S01.DAT", lib, model_dir), sub_part);
  EXPECT_EQ(FindLDrawFile("48\\4-4CYLI.dat", lib, model_dir), primitive);
  EXPECT_EQ(FindLDrawFile("both.dat", lib, model_dir), both);
  EXPECT_EQ(FindLDrawFile("Sub Model.ldr", lib, model_dir + "/"), beside);
  EXPECT_EQ(FindLDrawFile(sub_part, "", ""), sub_part);  // the name as given comes first
  EXPECT_EQ(FindLDrawFile("absent.dat", lib, model_dir), std::nullopt);
  EXPECT_EQ(FindLDrawFile("s", lib, model_dir), std::nullopt);  // a folder is not a file
  const std::vector<std::string> candidates = LDrawCandidatePaths("S\\X.DAT", "L", "M");
  EXPECT_EQ(candidates, (std::vector<std::string>{"S\\X.DAT", "S/X.DAT", "s/x.dat", "L/parts/S/X.DAT",
                                                  "L/parts/s/x.dat", "L/Parts/S/X.DAT", "L/Parts/s/x.dat",
                                                  "L/p/S/X.DAT", "L/p/s/x.dat", "L/P/S/X.DAT", "L/P/s/x.dat",
                                                  "M/S/X.DAT", "M/s/x.dat"}));
}

TEST_F(LDrawReaderTest, SubFilesAreReadThroughTheSinkFromTheLibrary) {
  Write("lib/parts/3001.dat", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 S\\3001S01.DAT\n4 16 0 0 0 1 0 0 1 1 0 0 1 0\n");
  Write("lib/parts/s/3001s01.dat", "3 16 0 0 0 1 0 0 0 1 0\n");
  Write("model.ldr", "1 4 0 0 0 1 0 0 0 1 0 0 0 1 3001.dat\n1 4 0 0 0 1 0 0 0 1 0 0 0 1 missing.dat\n3 1 0 0 0 1 0 0 0 1 0\n");
  const Calls calls = ReadFollowing("model.ldr");
  EXPECT_EQ(calls, (Calls{"include " + Text(Entry(196, 0, 38)) + " " + kIdentity + " 3001.dat",
                          "  include none " + kIdentity + " S\\3001S01.DAT", "    tri none (0 0 0) (1 0 0) (0 1 0)",
                          "  quad none (0 0 0) (1 0 0) (1 1 0) (0 1 0)",
                          "include " + Text(Entry(196, 0, 38)) + " " + kIdentity + " missing.dat",
                          "unread missing.dat", "tri " + Text(Entry(0, 51, 178)) + " (0 0 0) (1 0 0) (0 1 0)"}));
  EXPECT_EQ(report_.missing_files, 1);
}

TEST_F(LDrawReaderTest, MultiPartFileReadsItsModelAndResolvesEmbeddedFilesFirst) {
  Write("models/sub part.ldr", "3 4 9 9 9 1 0 0 0 1 0\n");  // on disk, but the embedded one wins
  Write("model.mpd",
        "0 FILE main.ldr\n"
        "1 4 0 0 0 1 0 0 0 1 0 0 0 1 Sub Part.ldr\n"
        "3 1 0 0 0 1 0 0 0 1 0\n"
        "0 FILE sub part.ldr\n"
        "3 2 0 0 0 1 0 0 0 1 0\n"
        "0 NOFILE\n"
        "3 3 0 0 0 1 0 0 0 1 0\n"
        "0 FILE unused.ldr\n"
        "3 5 0 0 0 1 0 0 0 1 0\n");
  RecordingSink sink;
  sink.follow = true;
  LDrawReader reader("", (dir_ / "models").string());
  ASSERT_TRUE(reader.ReadModel((dir_ / "model.mpd").string(), sink));
  EXPECT_EQ(sink.calls, (Calls{"include " + Text(Entry(196, 0, 38)) + " " + kIdentity + " Sub Part.ldr",
                               "  tri " + Text(Entry(0, 140, 20)) + " (0 0 0) (1 0 0) (0 1 0)", "  flush",
                               "tri " + Text(Entry(0, 51, 178)) + " (0 0 0) (1 0 0) (0 1 0)", "flush"}));
  EXPECT_TRUE(reader.HasEmbeddedFile("SUB PART.LDR"));
  EXPECT_TRUE(reader.HasEmbeddedFile("unused.ldr"));
  EXPECT_FALSE(reader.HasEmbeddedFile("main"));

  // Geometry before the first FILE line is the model; the FILE line ends it.
  Write("packed.mpd",
        "0 Packed model\n"
        "1 4 0 0 0 1 0 0 0 1 0 0 0 1 parts/part.dat\n"
        "0 FILE parts/part.dat\n"
        "3 2 0 0 0 1 0 0 0 1 0\n");
  EXPECT_EQ(ReadFollowing("packed.mpd"), (Calls{"include " + Text(Entry(196, 0, 38)) + " " + kIdentity + " parts/part.dat",
                                                "  tri " + Text(Entry(0, 140, 20)) + " (0 0 0) (1 0 0) (0 1 0)"}));
  EXPECT_EQ(report_.refused_reads, 0);
}

TEST_F(LDrawReaderTest, SelfReferenceIsRefusedDirectlyAndThroughCycles) {
  Write("self.ldr", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 self.ldr\n3 1 0 0 0 1 0 0 0 1 0\n");
  EXPECT_EQ(ReadFollowing("self.ldr"), (Calls{"include none " + kIdentity + " self.ldr", "unread self.ldr",
                                              "tri " + Text(Entry(0, 51, 178)) + " (0 0 0) (1 0 0) (0 1 0)"}));
  EXPECT_EQ(report_.refused_reads, 1);

  Write("a.ldr", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 b.ldr\n");
  Write("b.ldr", "1 16 0 0 0 1 0 0 0 1 0 0 0 1 A.LDR\n");
  EXPECT_EQ(ReadFollowing("a.ldr"), (Calls{"include none " + kIdentity + " b.ldr",
                                           "  include none " + kIdentity + " A.LDR", "  unread A.LDR"}));
  EXPECT_EQ(report_.refused_reads, 1);

  Write("cycle.mpd",
        "0 FILE main.ldr\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 x.ldr\n"
        "0 FILE x.ldr\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 main.ldr\n");
  EXPECT_EQ(ReadFollowing("cycle.mpd"), (Calls{"include none " + kIdentity + " x.ldr",
                                               "  include none " + kIdentity + " main.ldr", "  unread main.ldr"}));
}

TEST_F(LDrawReaderTest, NestingAndTotalLinesAreBounded) {
  // A chain of 100 embedded files, each one triangle deeper: the depth limit
  // stops it.
  std::string chain;
  for (int i = 0; i < 100; ++i) {
    chain += "0 FILE f" + std::to_string(i) + "\n3 1 0 0 0 1 0 0 0 1 0\n";
    chain += "1 16 0 0 0 1 0 0 0 1 0 0 0 1 f" + std::to_string(i + 1) + "\n";
  }
  Write("chain.mpd", chain);
  LDrawLimits limits;
  limits.max_depth = 10;
  const Calls calls = ReadFollowing("chain.mpd", limits);
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.find("tri") != c.npos; }), 10);
  EXPECT_EQ(report_.refused_reads, 1);

  // Each file uses the next one twice, 40 deep: 2^40 reads unless the line
  // limit ends it.
  std::string doubling;
  for (int i = 0; i < 40; ++i) {
    const std::string next = "1 16 0 0 0 1 0 0 0 1 0 0 0 1 d" + std::to_string(i + 1) + "\n";
    doubling += "0 FILE d" + std::to_string(i) + "\n" + next + next;
  }
  Write("doubling.mpd", doubling + "0 FILE d40\n");
  limits = {};
  limits.max_lines = 5000;
  ReadFollowing("doubling.mpd", limits);
  EXPECT_TRUE(report_.stopped_at_line_limit);
  EXPECT_EQ(report_.lines_read, 5001);
}

TEST_F(LDrawReaderTest, MalformedLinesAreSkippedAndTheRestIsRead) {
  const std::string long_line = "3 1 " + std::string(200000, '1') + "\n";
  const Calls calls = Read(long_line +
                           "3 1 1e999 0 0 1 0 0 0 1 0\n"
                           "3 1 nan 0 0 1 0 0 0 1 0\n"
                           "1 1 0 0 0 1 0 0 0 1 0 0 0 1\n"
                           "1 1 0 0 0 1 0 0 0 1 0 0 0\n"
                           "3\n"
                           "3 1 0 0 0 1 0 0 0 1 0 extra\n"
                           "4,2,0,0,0,1,0,0,1,1,0,0,1,0\n"
                           "-1 2 3\n"
                           "99999999999999999999999 1 2 3\n");
  EXPECT_EQ(calls, (Calls{"tri " + Text(Entry(0, 51, 178)) + " (0 0 0) (1 0 0) (0 1 0)",
                          "quad " + Text(Entry(0, 140, 20)) + " (0 0 0) (1 0 0) (1 1 0) (0 1 0)", "flush"}));
  EXPECT_EQ(report_.skipped_lines, 6);
}

TEST_F(LDrawReaderTest, MissingTopLevelFileFails) {
  RecordingSink sink;
  EXPECT_FALSE(ReadLDraw((dir_ / "absent.ldr").c_str(), "", "", sink));
  EXPECT_FALSE(ReadLDraw("", "", "", sink));
  EXPECT_TRUE(sink.calls.empty());
}

// The shared corpus: models against the part library subset, and packed
// multi-part files that embed every part they use. Every reference resolves,
// and every model ends in triangles and quads.
class LDrawCorpus : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(VERMELLE_CORPUS_DIR) / "ldraw";
    if (!fs::is_directory(root_)) GTEST_SKIP() << "no LDraw corpus at " << root_;
  }
  void ReadAll(const fs::path& folder, const std::string& ldraw_dir) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".ldr" && extension != ".dat" && extension != ".mpd") continue;
      ++files;
      SCOPED_TRACE(entry.path().filename().string());
      RecordingSink sink;
      sink.follow = sink.once = true;
      sink.keep_calls = false;
      LDrawReader reader(ldraw_dir, LDrawDirectoryOf(entry.path().string()));
      ASSERT_TRUE(reader.ReadModel(entry.path().string(), sink));
      EXPECT_EQ(reader.Report().missing_files, 0);
      EXPECT_EQ(reader.Report().refused_reads, 0);
      EXPECT_GT(sink.triangles + sink.quads, 0);
    }
    EXPECT_GT(files, 0);
  }
  fs::path root_;
};

TEST_F(LDrawCorpus, ModelsResolveEveryPartInTheLibrary) { ReadAll(root_ / "models", (root_ / "library").string()); }

TEST_F(LDrawCorpus, PackedModelsResolveEveryPartInsideThemselves) {
  ReadAll(root_ / "packed", (fs::temp_directory_path() / "vermelle-no-ldraw-library").string());
}

}  // namespace
}  // namespace qx
