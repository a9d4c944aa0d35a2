// qxtool convert then decode: every model of the corpus comes back with the
// triangles its reader delivered (after welding and the builder's refusal of
// degenerate triangles), exactly with raw positions and within the
// quantiser's bound otherwise.
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/mesh_export.h"
#include "import/import_sink.h"
#include "import/model_format.h"
#include "import/stl_reader.h"
#include "scene/registry.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

using Corner = std::array<float, 3>;
using Triangle = std::array<Corner, 3>;

Corner Key(Vector p) { return {p.x, p.y, p.z}; }

// A triangle rotated to start at its smallest corner, orientation kept.
Triangle Canonical(Triangle t) {
  std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
  return t;
}

// The triangles a reader delivers, quads split as the importer splits them,
// without the degenerate ones. The importer turns every face round for the
// builder and the builder turns the fan mesh round again, so the decoded
// triangles keep the reader's orientation.
class ExpectedTriangles : public ImportSink {
 public:
  bool AddTriangle(QXMaterial*, Vector p0, Vector p1, Vector p2) override {
    Add(p0, p1, p2);
    return true;
  }
  bool AddTriangleColor(const Colour&, Vector p0, Vector p1, Vector p2) override {
    return AddTriangle(nullptr, p0, p1, p2);
  }
  bool AddQuad(QXMaterial*, Vector p0, Vector p1, Vector p2, Vector p3) override {
    Add(p0, p1, p2);
    Add(p2, p3, p0);
    return true;
  }
  bool AddQuadColor(const Colour&, Vector p0, Vector p1, Vector p2, Vector p3) override {
    return AddQuad(nullptr, p0, p1, p2, p3);
  }
  std::vector<Triangle> triangles;

 private:
  void Add(Vector a, Vector b, Vector c) {
    const Triangle t{Key(a), Key(b), Key(c)};
    if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) return;
    triangles.push_back(Canonical(t));
  }
};

std::vector<Triangle> DecodedTriangles(const QXScene& scene) {
  TriangleSoup soup;
  EXPECT_TRUE(CollectSceneTriangles(scene, 0, -1, soup));
  std::vector<Triangle> triangles;
  for (const auto& face : soup.faces)
    triangles.push_back(Canonical({Key(soup.positions[face[0]]), Key(soup.positions[face[1]]),
                                   Key(soup.positions[face[2]])}));
  return triangles;
}

class ConvertRoundTrip : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
  int Convert(const fs::path& input, const fs::path& output, std::vector<std::string> options) {
    std::vector<std::string> words = {"convert", input.string(), "-o", output.string()};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return RunConvertCommand(static_cast<int>(argv.size()), argv.data());
  }
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

std::vector<fs::path> CorpusModels(const std::string& folder) {
  std::vector<fs::path> models;
  const fs::path root = fs::path(VERMELLE_CORPUS_DIR) / folder;
  if (!fs::exists(root)) return models;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && ModelFormatForFile(entry.path().string())) models.push_back(entry.path());
  std::sort(models.begin(), models.end());
  return models;
}

// A conversion that cannot be done exits with 1 and one line naming the file
// and the reason, and leaves what was there alone.
TEST_F(ConvertRoundTrip, FailuresNameTheFileAndTheReason) {
  const std::string model = scratch_.Write("model.stl", "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n"
                                                         "vertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid t\n");
  const std::string utf16 = scratch_.Write("utf16.ac", std::string("\xFF\xFE" "A\0C\0" "3\0D\0" "b\0\n\0", 14));
  const fs::path folder = dir_ / "existing_folder.qxz";
  fs::create_directories(folder);
  const struct {
    fs::path input, output;
    const char* reason;
  } failures[] = {
      {model, folder, "Is a directory"},
      {utf16, dir_ / "utf16.qxz", "not an AC3D file"},
      {dir_ / "missing.stl", dir_ / "missing.qxz", "No such file"},
  };
  for (const auto& failure : failures) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Convert(failure.input, failure.output, {}), 1) << failure.input;
    testing::internal::GetCapturedStdout();
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find(failure.reason), std::string::npos) << message;
    EXPECT_TRUE(message.find(failure.input.filename().string()) != std::string::npos ||
                message.find(failure.output.filename().string()) != std::string::npos)
        << message;
  }
  EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3) << "nothing else written";
}

TEST_F(ConvertRoundTrip, EveryStlComesBackTriangleForTriangle) {
  const std::vector<fs::path> models = CorpusModels("stl");
  if (models.empty()) GTEST_SKIP() << "no corpus";
  for (const fs::path& model : models) {
    ExpectedTriangles expected;
    ReadStl(model.string(), expected);
    const fs::path output = dir_ / "model.qxz";
    const int status = Convert(model, output, {"--bits", "0", "--level", "0.5"});
    if (expected.triangles.empty()) continue;  // nothing to compare (empty or refused)
    ASSERT_EQ(status, 0) << model;
    auto scene = LoadScene(output.string());
    ASSERT_TRUE(scene) << model;
    std::vector<Triangle> decoded = DecodedTriangles(*scene);
    std::vector<Triangle> wanted = expected.triangles;
    std::sort(decoded.begin(), decoded.end());
    std::sort(wanted.begin(), wanted.end());
    // A triangle given twice is stored once.
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    EXPECT_EQ(decoded.size(), wanted.size()) << model;
    EXPECT_TRUE(decoded == wanted) << model;
  }
}

}  // namespace
}  // namespace qx
