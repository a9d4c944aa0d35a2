// qxtool decode -o OUT.glb: a two-mesh scene written as binary glTF reads back
// (with a small reader of our own) with each instance's triangles, its
// material's colour and the flat normals of the default shading; the Debian
// `assimp` command, when installed, reads the same file.
#include <algorithm>
#include <array>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

// ---- a JSON reader just large enough for the document we write ----

struct Json {
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const { return members.at(key); }
  const Json& operator[](size_t index) const { return items.at(index); }
  size_t Int() const { return static_cast<size_t>(number); }
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  Json Value() {
    Json value;
    const char c = Next();
    if (c == '{') {
      while (Peek() != '}') {
        const std::string key = Value().text;
        Expect(':');
        value.members[key] = Value();
        if (Peek() == ',') ++at_;
      }
      ++at_;
    } else if (c == '[') {
      while (Peek() != ']') {
        value.items.push_back(Value());
        if (Peek() == ',') ++at_;
      }
      ++at_;
    } else if (c == '"') {
      while (at_ < text_.size() && text_[at_] != '"') value.text += text_[at_++];
      ++at_;
    } else {
      --at_;
      const size_t start = at_;
      while (at_ < text_.size() && std::strchr("+-.0123456789eEtruefalsn", text_[at_])) ++at_;
      value.text = std::string(text_.substr(start, at_ - start));
      value.number = std::strtod(value.text.c_str(), nullptr);
    }
    return value;
  }

 private:
  char Peek() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    if (at_ >= text_.size()) throw std::runtime_error("JSON ends early");
    return text_[at_];
  }
  char Next() {
    const char c = Peek();
    ++at_;
    return c;
  }
  void Expect(char c) {
    if (Next() != c) throw std::runtime_error(std::string("JSON lacks ") + c);
  }

  std::string_view text_;
  size_t at_ = 0;
};

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);  // the test machines are little-endian, as the file is
  return value;
}

using Corner = std::array<float, 3>;
using Triangle = std::array<Corner, 3>;

Triangle Canonical(Triangle t) {
  std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
  return t;
}

struct ReadPrimitive {
  std::array<float, 4> colour{};
  std::vector<Triangle> triangles;  // canonical, sorted
  std::vector<std::array<Corner, 3>> normals;  // per triangle, in file order of corners
};

// Reads the primitives of a .glb file: container, JSON, accessors through
// their buffer views into the binary chunk.
std::vector<ReadPrimitive> ReadGlb(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GE(bytes.size(), 28u);
  EXPECT_EQ(Word(bytes, 0), 0x46546C67u);  // "glTF"
  EXPECT_EQ(Word(bytes, 4), 2u);
  EXPECT_EQ(Word(bytes, 8), bytes.size());
  const uint32_t jsonLength = Word(bytes, 12);
  EXPECT_EQ(jsonLength % 4, 0u);
  const Json document = JsonParser(std::string_view(bytes).substr(20, jsonLength)).Value();
  const size_t binaryStart = 20 + jsonLength + 8;
  EXPECT_EQ(Word(bytes, 20 + jsonLength + 4), 0x004E4942u);  // "BIN\0"

  const auto accessorBytes = [&](size_t accessor, size_t itemSize) {
    const Json& a = document["accessors"][accessor];
    const Json& view = document["bufferViews"][a["bufferView"].Int()];
    EXPECT_GE(view["byteLength"].Int(), a["count"].Int() * itemSize);
    return std::string_view(bytes).substr(binaryStart + view["byteOffset"].Int(), a["count"].Int() * itemSize);
  };
  std::vector<ReadPrimitive> primitives;
  for (const Json& node : document["scenes"][0]["nodes"].items) {
    const Json& mesh = document["meshes"][document["nodes"][node.Int()]["mesh"].Int()];
    for (const Json& p : mesh["primitives"].items) {
      ReadPrimitive read;
      const Json& colour = document["materials"][p["material"].Int()]["pbrMetallicRoughness"]["baseColorFactor"];
      for (size_t i = 0; i < 4; ++i) read.colour[i] = static_cast<float>(colour[i].number);
      const std::string_view positions = accessorBytes(p["attributes"]["POSITION"].Int(), 12);
      const std::string_view normals = accessorBytes(p["attributes"]["NORMAL"].Int(), 12);
      const std::string_view indices = accessorBytes(p["indices"].Int(), 4);
      for (size_t t = 0; t + 12 <= indices.size(); t += 12) {
        Triangle triangle, normal;
        for (size_t c = 0; c < 3; ++c) {
          uint32_t index = 0;
          std::memcpy(&index, indices.data() + t + 4 * c, 4);
          EXPECT_LT(index * 12u, positions.size());
          std::memcpy(triangle[c].data(), positions.data() + 12 * index, 12);
          std::memcpy(normal[c].data(), normals.data() + 12 * index, 12);
        }
        read.normals.push_back(normal);
        read.triangles.push_back(Canonical(triangle));
      }
      std::sort(read.triangles.begin(), read.triangles.end());
      primitives.push_back(read);
    }
  }
  return primitives;
}

// A red pyramid (four sides and a square base) and a blue tetrahedron, as
// two objects with their own materials.
constexpr char kMaterials[] = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n";
constexpr char kModel[] =
    "mtllib two.mtl\no pyramid\nusemtl red\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 0.5 1\n"
    "f 1 2 5\nf 2 3 5\nf 3 4 5\nf 4 1 5\nf 1 4 3 2\n"
    "o tetrahedron\nusemtl blue\nv 3 0 0\nv 4 0 0\nv 3 1 0\nv 3 0 1\nf 6 8 7\nf 6 7 9\nf 7 8 9\nf 8 6 9\n";

std::vector<Triangle> Sorted(std::vector<Triangle> triangles) {
  for (Triangle& t : triangles) t = Canonical(t);
  std::sort(triangles.begin(), triangles.end());
  return triangles;
}

class GlbExport : public testing::Test {
 protected:
  void SetUp() override {
    scratch_.Write("two.mtl", kMaterials);
    const std::string model = scratch_.Write("two.obj", kModel);
    scene_ = (scratch_.Path() / "two.qxz").string();
    glb_ = (scratch_.Path() / "two.glb").string();
    RegisterStandardClasses();
    testing::internal::CaptureStdout();
    const int converted = Run(RunConvertCommand, {"convert", model, "-o", scene_, "--geo", "raw"});
    const int decoded = Run(RunDecodeCommand, {"decode", scene_, "-o", glb_});
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(converted, 0);
    ASSERT_EQ(decoded, 0);
  }
  void TearDown() override { ClearClassRegistry(); }
  static int Run(int (*command)(int, const char* const*), const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return command(static_cast<int>(argv.size()), argv.data());
  }

  ScratchFolder scratch_;
  std::string scene_, glb_;
};

TEST_F(GlbExport, ReadsBackWithEachInstancesTrianglesColourAndFlatNormals) {
  std::vector<ReadPrimitive> primitives = ReadGlb(glb_);
  ASSERT_EQ(primitives.size(), 2u);
  std::sort(primitives.begin(), primitives.end(),
            [](const ReadPrimitive& a, const ReadPrimitive& b) { return a.colour > b.colour; });
  EXPECT_EQ(primitives[0].colour, (std::array<float, 4>{1, 0, 0, 1}));
  EXPECT_EQ(primitives[1].colour, (std::array<float, 4>{0, 0, 1, 1}));
  const Corner p1{0, 0, 0}, p2{1, 0, 0}, p3{1, 1, 0}, p4{0, 1, 0}, p5{0.5f, 0.5f, 1};
  EXPECT_EQ(primitives[0].triangles,
            Sorted({{p1, p2, p5}, {p2, p3, p5}, {p3, p4, p5}, {p4, p1, p5}, {p1, p4, p3}, {p3, p2, p1}}));
  const Corner t1{3, 0, 0}, t2{4, 0, 0}, t3{3, 1, 0}, t4{3, 0, 1};
  EXPECT_EQ(primitives[1].triangles, Sorted({{t1, t3, t2}, {t1, t2, t4}, {t2, t3, t4}, {t3, t1, t4}}));
  // Flat shading (the view's default): the three corners of a triangle
  // share one unit normal, which points down for the pyramid's base.
  int downwards = 0;
  for (const auto& normals : primitives[0].normals) {
    EXPECT_EQ(normals[0], normals[1]);
    EXPECT_EQ(normals[0], normals[2]);
    EXPECT_NEAR(std::hypot(normals[0][0], normals[0][1], normals[0][2]), 1.0, 1e-5);
    downwards += normals[0][2] < -0.999f;
  }
  EXPECT_EQ(downwards, 2);
}

TEST_F(GlbExport, AssimpReadsTheFile) {
  if (std::system("command -v assimp >/dev/null 2>&1") != 0) GTEST_SKIP() << "no assimp command (assimp-utils)";
  const std::string command = "assimp info '" + glb_ + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::string output;
  char buffer[4096];
  while (size_t read = std::fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, read);
  std::map<std::string, std::string> counts;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    counts.emplace(line.substr(0, colon), std::to_string(std::atoi(line.c_str() + colon + 1)));  // first one counts
  }
  EXPECT_EQ(counts["Meshes"], "2") << output;
  EXPECT_EQ(counts["Materials"], "2") << output;
  EXPECT_EQ(counts["Faces"], "10") << output;
}

}  // namespace
}  // namespace qx
